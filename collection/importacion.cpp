#include "collection/importacion.h"

#include "collection/exportacion.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

namespace v7::acervo {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// How many of psql's error lines a message shows.
constexpr int kMaxLineasError = 12;

RecordsetPtr consulta(const QString& sql, QString& error) {
    int total = 0;
    return ExecuteSQLrs(sql, total, error);
}

// The first field of the first row; empty when there is no row or it is NULL.
std::optional<QString> primerValor(const QString& sql, QString& error) {
    RecordsetPtr rs = consulta(sql, error);
    if (!rs) {
        return std::nullopt;
    }
    return rs->eof() ? QString() : rs->text(0);
}

} // namespace

QString sentenciaBorrarTablas() {
    QString sql;
    for (const QString& t : tablasEnOrdenDeCarga()) {
        sql += QStringLiteral("DROP TABLE IF EXISTS ") + t + QLatin1Char(';');
    }
    return sql;
}

std::optional<bool> hayTablasExportacion(QString& error) {
    const auto v =
        primerValor(QStringLiteral("SELECT CASE WHEN to_regclass('analisis.zexporta_aactualizacion') IS NULL "
                                   "THEN 0 ELSE 1 END AS hay"),
                    error);
    if (!v) {
        return std::nullopt;
    }
    return v->toInt() != 0;
}

QString ResultadoPsql::detalle() const {
    if (!iniciado) {
        return errorInicio;
    }
    if (ok()) {
        return QString();
    }
    QString causa;
    switch (estado) {
    case 1:
        causa = QStringLiteral("psql no pudo leer el archivo.");
        break;
    case 2:
        causa = QStringLiteral("psql no se pudo conectar con el servidor.");
        break;
    case 3:
        causa = QStringLiteral("El script se detuvo en una sentencia con error.");
        break;
    default:
        causa = QStringLiteral("psql terminó con el código ") + QString::number(estado) + QLatin1Char('.');
        break;
    }
    return causa + kCrLf + errores.join(kCrLf);
}

QStringList lineasErrorPsql(const QByteArray& salida) {
    const QStringList lineas = QString::fromUtf8(salida).split(QLatin1Char('\n'));
    static const QRegularExpression marcada(
        QStringLiteral("^(psql:|ERROR:|FATAL:|DETAIL:|HINT:|DETALLE:|SUGERENCIA:|pg_dump:)"));
    QStringList errores;
    QStringList ultimas;
    for (QString l : lineas) {
        l = l.trimmed();
        if (l.isEmpty()) {
            continue;
        }
        if (marcada.match(l).hasMatch() && errores.size() < kMaxLineasError) {
            errores << l;
        }
        ultimas << l;
        if (ultimas.size() > 5) {
            ultimas.removeFirst();
        }
    }
    return errores.isEmpty() ? ultimas : errores;
}

ResultadoPsql ejecutarPsql(const QString& carpetaBin, const QString& script, const QString& salida) {
    const SessionState& s = sesion();
    process::Command c;
    c.program = paths::withSlash(carpetaBin) + QStringLiteral("psql");
    c.arguments = {QStringLiteral("-X"), QStringLiteral("-w"),
                   QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                   QStringLiteral("-h"), s.ServidorSesion,
                   QStringLiteral("-p"), QString::number(s.PuertoSesion),
                   QStringLiteral("-U"), s.UsuarioSesion,
                   QStringLiteral("-d"), QStringLiteral("veliro7"),
                   QStringLiteral("-f"), script};
    // The scripts are UTF-8 (a dump names its own encoding anyway).
    c.environment = {{QStringLiteral("PGPASSWORD"), s.ClaveSesion},
                     {QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8")}};
    c.out = process::Sink::File;
    c.outFile = salida;
    c.err = process::Sink::Stdout;
    const process::Result r = process::run(c);

    ResultadoPsql p;
    p.iniciado = r.started;
    p.estado = r.status();
    if (!r.started) {
        p.errorInicio = QStringLiteral("No se pudo ejecutar ") + c.program + QStringLiteral(": ") + r.startError;
        return p;
    }
    if (!r.ok()) {
        QFile f(salida);
        p.errores = lineasErrorPsql(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    }
    return p;
}

// --- Checks ------------------------------------------------------------------------------------------------

std::optional<qint64> ejemplaresDeOtraBiblioteca(QString& error) {
    const auto v = primerValor(QStringLiteral("SELECT count(no_adqui) AS ejemplares FROM analisis.zexporta_bejemplares "
                                              "WHERE idbiblioteca <> (SELECT valor::bigint FROM "
                                              "config_veliro.configuracion WHERE descripcion='BIBLIO_ACTIVA')"),
                               error);
    if (!v) {
        return std::nullopt;
    }
    return v->toLongLong();
}

std::optional<QString> versionInstalada(QString& error) {
    return primerValor(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion='ACT_ACERVO'"),
                       error);
}

std::optional<QString> versionCargada(QString& error) {
    return primerValor(QStringLiteral("SELECT version FROM analisis.zexporta_aactualizacion"), error);
}

std::optional<QDateTime> leerSello(const QString& sello) {
    const QDateTime d = QDateTime::fromString(sello.trimmed(), QStringLiteral("yyyyMMdd_HHmm"));
    if (!d.isValid()) {
        return std::nullopt;
    }
    return d;
}

QString textoFecha(const QDate& fecha) {
    return QLocale(QLocale::Spanish, QLocale::Mexico).toString(fecha, QStringLiteral("ddd d 'de' MMM 'de' yyyy"));
}

std::optional<QString> mensajeNoReciente(const QString& instalada, const QString& cargada) {
    const auto a = leerSello(instalada);
    const auto b = leerSello(cargada);
    if (!a || !b) {
        return std::nullopt;
    }
    auto momento = [](const QDateTime& d) {
        return textoFecha(d.date()) + QLatin1Char(' ') + d.toString(QStringLiteral("HH:mm")) + QStringLiteral(" hrs. ");
    };
    return QStringLiteral("La actualización que intenta instalar no es de fecha más reciente que la fecha de la "
                          "última actualización instalada.") +
           kCrLf + kCrLf + QString(11, QLatin1Char(' ')) + QStringLiteral("Fecha de la última actualización: ") +
           momento(*a) + kCrLf + QStringLiteral("Fecha de éste archivo de actualización: ") + momento(*b);
}

// --- Before the merge --------------------------------------------------------------------------------------

std::optional<QString> coleccionesFaltantes(QString& error) {
    RecordsetPtr rs = consulta(
        QStringLiteral("SELECT idcoleccion, string_agg(no_adqui, ', ') AS adqs FROM analisis.zexporta_bejemplares "
                       "WHERE idcoleccion IN ") +
            kCrLf +
            QStringLiteral("(SELECT DISTINCT nc.idcoleccion FROM analisis.zexporta_bejemplares nc LEFT JOIN "
                           "catalogos.colecciones c ON c.idcoleccion = nc.idcoleccion WHERE c.idcoleccion ISNULL) ") +
            kCrLf + QStringLiteral("GROUP BY idcoleccion ORDER BY idcoleccion"),
        error);
    if (!rs) {
        return std::nullopt;
    }
    QString lista;
    for (; !rs->eof(); rs->moveNext()) {
        lista += QStringLiteral("COLECCION: ") + rs->text(QStringLiteral("idcoleccion")) + kCrLf +
                 QStringLiteral("EJEMPLARES: [") + rs->text(QStringLiteral("adqs")) + QLatin1Char(']') + kCrLf + kCrLf;
    }
    return lista;
}

QString mensajeColecciones(const QString& lista) {
    return QStringLiteral("La actualización contiene ejemplares asociados a") + kCrLf +
           QStringLiteral("colecciones que no existen en su catálogo.") + kCrLf +
           QStringLiteral("Verifique con los responsables de procesamiento,") + kCrLf +
           QStringLiteral("la veracidad de la información.") + kCrLf + kCrLf +
           QStringLiteral("Si los  datos son  correctos, ANTES DE CONTINUAR") + kCrLf +
           QStringLiteral("agregue las colecciones faltantes.") + kCrLf + kCrLf + lista;
}

std::optional<QVector<NoProcesado>> noProcesadosIncluidos(QString& error) {
    RecordsetPtr rs = consulta(
        QStringLiteral("SELECT DISTINCT no_adqui, matesp.estado FROM analisis.zexporta_bejemplares axejem INNER JOIN "
                       "catalogos.mat_especial matesp ON axejem.no_adqui = matesp.no_adq "
                       "WHERE matesp.estado::integer >= 16 AND f_fin ISNULL ORDER BY no_adqui"),
        error);
    if (!rs) {
        return std::nullopt;
    }
    QVector<NoProcesado> items;
    for (; !rs->eof(); rs->moveNext()) {
        items.push_back({rs->text(0).trimmed(), rs->text(1).trimmed()});
    }
    return items;
}

QString mensajeNoProcesados(const QVector<NoProcesado>& items) {
    QString lista = QStringLiteral("(");
    for (const NoProcesado& i : items) {
        lista += i.noAdqui + QStringLiteral(", ");
    }
    lista.chop(2);
    lista += QLatin1Char(')');
    if (lista.size() > 40) {
        lista = lista.left(40) + QStringLiteral("...)");
    }
    return QStringLiteral("Se detectó que ") + QString::number(items.size()) + QStringLiteral(" ejemplar(es) ") +
           lista +
           QStringLiteral(" del catálogo de ejemplares no procesados, está(n) incluído(s) en la actualización.") +
           kCrLf + kCrLf +
           QStringLiteral("Desea eliminarlo(s) automáticamente del catálogo de ejemplares no procesados?");
}

QString sentenciaQuitarNoProcesado(const NoProcesado& item) {
    if (item.estado == QLatin1String("16")) {
        return QStringLiteral("UPDATE catalogos.mat_especial SET f_fin = current_date, analista_fin = 'actV7' WHERE "
                              "no_adq=") +
               citarLiteral(item.noAdqui) + QStringLiteral(" AND f_fin ISNULL");
    }
    return QStringLiteral("UPDATE catalogos.mat_especial SET estado = (estado::integer - 16)::character varying "
                          "WHERE no_adq=") +
           citarLiteral(item.noAdqui) + QStringLiteral(" AND f_fin ISNULL");
}

QString asegurarColumnasEnlace() {
    // The export's own statements, so both sides give the tag table the same columns.
    if (ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
        return QString();
    }
    int filas = 0;
    QString error;
    ExecuteSQLaction(sqlColumnasEnlace(), filas, error);
    return error;
}

// --- The merge script --------------------------------------------------------------------------------------

QString decodificarPlantilla(const QByteArray& bytes) {
    QByteArrayView datos(bytes);
    if (datos.startsWith("\xEF\xBB\xBF")) {
        datos = datos.sliced(3);
    }
    return textoUtf8OWindows1252(datos);
}

PlantillaAcervo leerPlantillaAcervo() {
    const SessionState& s = sesion();
    PlantillaAcervo p;
    if (s.HayArchivosCompartidos) {
        p.origen = paths::withSlash(s.RutaTrabajo.trimmed()) + QStringLiteral("plantillas/config/restaura_acervo.sra");
        QFile f(p.origen);
        if (!f.open(QIODevice::ReadOnly)) {
            p.error =
                QStringLiteral("No se pudo leer la plantilla ") + p.origen + QStringLiteral(": ") + f.errorString();
            return p;
        }
        p.texto = decodificarPlantilla(f.readAll());
        p.texto.remove(kVacuum, Qt::CaseSensitive);
    } else {
        p.origen = QStringLiteral("reportes.plantillas");
        QString error;
        const auto v = primerValor(
            QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'RESTAURA_ACERVO'"), error);
        if (!v) {
            p.error = error;
            return p;
        }
        p.texto = *v;
        p.texto.remove(kVacuum, Qt::CaseInsensitive);
    }
    // An empty script would run nothing and the import would still be reported as done.
    if (p.texto.trimmed().isEmpty()) {
        p.error = QStringLiteral("No se encontró el script de actualización del acervo (RESTAURA_ACERVO) en ") +
                  p.origen + QLatin1Char('.');
    }
    return p;
}

QString escribirCopiaEjecucion(const QString& ruta, const QString& texto) {
    QSaveFile f(ruta);
    if (!f.open(QIODevice::WriteOnly)) {
        return f.errorString();
    }
    f.write(texto.toUtf8());
    f.write("\n");
    if (!f.commit()) {
        return f.errorString();
    }
    return QString();
}

// --- After the merge ---------------------------------------------------------------------------------------

std::optional<EstadisticasAcervo> estadisticasAcervo(QString& error) {
    RecordsetPtr fichas = consulta(
        QStringLiteral("SELECT SUM(CASE WHEN tipoficha = 'L' THEN 1 ELSE 0 END) AS libros, SUM(CASE WHEN tipoficha = "
                       "'R' THEN 1 ELSE 0 END) AS revistas, ") +
            kCrLf +
            QStringLiteral("SUM(CASE WHEN tipoficha = 'A' THEN 1 ELSE 0 END) AS analiticas FROM analisis.fichas WHERE "
                           "ficha_no > 0"),
        error);
    if (!fichas) {
        return std::nullopt;
    }
    EstadisticasAcervo e;
    e.fichas = QStringLiteral("Libros (") + fichas->text(QStringLiteral("libros")) + QStringLiteral("). Revistas (") +
               fichas->text(QStringLiteral("revistas")) + QStringLiteral("). Analíticas (") +
               fichas->text(QStringLiteral("analiticas")) + QStringLiteral(").");
    RecordsetPtr ejemplares =
        consulta(QStringLiteral("SELECT SUM(CASE WHEN upper(no_adqui) NOT LIKE 'R%' THEN 1 ELSE 0 END) AS libros,") +
                     kCrLf + QStringLiteral("SUM(CASE WHEN upper(no_adqui) LIKE 'R%' THEN 1 ELSE 0 END) AS revistas") +
                     kCrLf + QStringLiteral("FROM analisis.ejemplares WHERE ficha_no > 0 AND NOT esmatcomp"),
                 error);
    if (!ejemplares) {
        return std::nullopt;
    }
    e.ejemplares = QStringLiteral("Libros (") + ejemplares->text(QStringLiteral("libros")) +
                   QStringLiteral("). Revistas (") + ejemplares->text(QStringLiteral("revistas")) +
                   QStringLiteral(").");
    return e;
}

QString mensajeEstadisticas(const EstadisticasAcervo& e) {
    return QStringLiteral("Como resultado de la operación de Actualización del acervo") + kCrLf +
           QStringLiteral("Se han actualizado y/o agregado: ") + kCrLf + QStringLiteral("FICHAS") + kCrLf + e.fichas +
           kCrLf + kCrLf + QStringLiteral("EJEMPLARES") + kCrLf + e.ejemplares;
}

} // namespace v7::acervo
