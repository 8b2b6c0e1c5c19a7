#include "collection/importacion.h"

#include "collection/exportacion.h"
#include "core/cifrado.h"
#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/archivo_seguro.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "resources/recursos.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <zip.h>

namespace v7::acervo {

namespace {

using err::kCrLf;

// How many of psql's error lines a message shows.
constexpr int kMaxLineasError = 12;

// The rows of a query; nullptr with the SQL layer's error text.
RecordsetPtr consulta(const QString& texto, QString& error) {
    sql::Filas f = sql::filas(texto);
    error = f.error;
    return std::move(f.rs);
}

// The first field of the first row; empty when there is no row or it is NULL.
std::optional<QString> primerValor(const QString& texto, QString& error) {
    const sql::Valor v = sql::valor(texto);
    error = v.error;
    if (!v.ok()) {
        return std::nullopt;
    }
    return v.texto();
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

std::optional<bool> tablasExportacionCompletas(QString& error) {
    QString sql = QStringLiteral("SELECT count(*) FROM (VALUES ");
    QStringList valores;
    for (const QString& t : tablasExportacion()) {
        valores << QStringLiteral("(") + citarLiteral(t) + QLatin1Char(')');
    }
    sql += valores.join(QStringLiteral(", ")) + QStringLiteral(") AS t(nombre) WHERE to_regclass(t.nombre) IS NULL");
    const auto v = primerValor(sql, error);
    if (!v) {
        return std::nullopt;
    }
    return v->toInt() == 0;
}

namespace {

bool pareceZip(const QByteArray& datos) {
    return datos.startsWith("PK\x03\x04") || datos.startsWith("PK\x05\x06");
}

} // namespace

QString textoArchivoNecesario() {
    return QStringLiteral("Elija el archivo de exportación que generó el departamento central para esta biblioteca "
                          "(respB<biblioteca>_<aaaammdd>_<hhmm>.backup) o el archivo .zip del mismo nombre que lo "
                          "contiene.");
}

ArchivoImportacion dumpDelZip(const QByteArray& zip, const QString& ruta, qint64 limite) {
    ArchivoImportacion a;
    const QString noEs = QStringLiteral("El archivo ") + ruta +
                         QStringLiteral(" no es un .zip de exportación del acervo: debe contener un solo archivo "
                                        ".backup.") +
                         kCrLf + textoArchivoNecesario();
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* fuente = zip_source_buffer_create(zip.constData(), zip_uint64_t(zip.size()), 0, &ze);
    zip_t* z = fuente != nullptr ? zip_open_from_source(fuente, ZIP_RDONLY, &ze) : nullptr;
    if (z == nullptr) {
        if (fuente != nullptr) {
            zip_source_free(fuente);
        }
        zip_error_fini(&ze);
        a.motivo = QStringLiteral("El archivo ") + ruta + QStringLiteral(" no se puede leer como .zip.") + kCrLf +
                   textoArchivoNecesario();
        return a;
    }
    zip_error_fini(&ze);
    // The export packs one entry, the dump under its own name: nothing is written to disk from here.
    zip_int64_t elegido = -1;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* nombre = zip_get_name(z, zip_uint64_t(i), 0);
        if (nombre != nullptr && QString::fromUtf8(nombre).endsWith(QStringLiteral(".backup"), Qt::CaseInsensitive)) {
            if (elegido >= 0) {
                elegido = -2;
                break;
            }
            elegido = i;
        }
    }
    if (elegido < 0) {
        zip_discard(z);
        a.motivo = noEs;
        return a;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, zip_uint64_t(elegido), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0 &&
        qint64(st.size) > limite) {
        zip_discard(z);
        a.motivo = QStringLiteral("El archivo de exportación dentro de ") + ruta +
                   QStringLiteral(" es demasiado grande para importarlo (más de ") +
                   QString::number(limite / archivo::kMiB) + QStringLiteral(" MB).");
        return a;
    }
    zip_file_t* f = zip_fopen_index(z, zip_uint64_t(elegido), 0);
    if (f == nullptr) {
        zip_discard(z);
        a.motivo = noEs;
        return a;
    }
    QByteArray datos;
    char bloque[65536];
    bool fallo = false;
    for (;;) {
        const zip_int64_t leidos = zip_fread(f, bloque, sizeof bloque);
        if (leidos < 0) {
            fallo = true;
            break;
        }
        if (leidos == 0) {
            break;
        }
        // The size the archive states is not trusted.
        if (datos.size() + leidos > limite) {
            fallo = true;
            break;
        }
        datos.append(bloque, qsizetype(leidos));
    }
    zip_fclose(f);
    zip_discard(z);
    if (fallo) {
        a.motivo = QStringLiteral("No se pudo extraer el archivo de exportación de ") + ruta +
                   QStringLiteral(": el .zip está dañado o excede el tamaño permitido.");
        return a;
    }
    a.datos = std::move(datos);
    return a;
}

ArchivoImportacion leerArchivoImportacion(const QString& ruta) {
    ArchivoImportacion a;
    if (ruta.trimmed().isEmpty()) {
        a.motivo = QStringLiteral("No se indicó el archivo de exportación.") + kCrLf + textoArchivoNecesario();
        return a;
    }
    archivo::Lectura l = archivo::leerRegular(ruta, kLimiteArchivoImportacion);
    if (!l.ok()) {
        a.motivo = l.motivo;
        return a;
    }
    if (pareceZip(l.datos)) {
        return dumpDelZip(l.datos, ruta);
    }
    a.datos = std::move(l.datos);
    return a;
}

bool esExportacion(const QByteArray& datos) {
    static const QRegularExpression tabla(
        QStringLiteral("CREATE TABLE\\s+(\\S+\\.)?\"?zexporta_aactualizacion\"?\\s*\\("),
        QRegularExpression::CaseInsensitiveOption);
    // The dump names the stamp's table near its start; the rest is not scanned as text.
    return tabla.match(QString::fromLatin1(datos.left(16 * 1024 * 1024))).hasMatch();
}

QString ResultadoPsql::detalle() const {
    if (!iniciado) {
        return QStringLiteral("No se pudo ejecutar psql.") + kCrLf + QStringLiteral("Detalle: ") + errorInicio;
    }
    if (ok()) {
        return QString();
    }
    QString causa;
    switch (estado) {
    case 1:
        causa = QStringLiteral("psql no pudo leer el script.");
        break;
    case 2:
        causa = QStringLiteral("psql no se pudo conectar con el servidor o perdió la conexión.");
        break;
    case 3:
        causa = QStringLiteral("El script se detuvo en una sentencia con error y no se aplicó.");
        break;
    default:
        causa = QStringLiteral("psql terminó con el código ") + QString::number(estado) + QLatin1Char('.');
        break;
    }
    const QString frase = errores.isEmpty() ? QString() : err::fraseDeErrorSql(errores.join(QLatin1Char('\n')));
    return causa + (frase.isEmpty() ? QString() : kCrLf + frase) +
           (errores.isEmpty() ? QString() : kCrLf + QStringLiteral("Detalle: ") + errores.join(kCrLf));
}

QStringList lineasErrorPsql(const QByteArray& salida) {
    const QStringList lineas = QString::fromUtf8(salida).split(QLatin1Char('\n'));
    static const QRegularExpression marcada(
        QStringLiteral("^(psql:|ERROR:|FATAL:|DETAIL:|HINT:|DETALLE:|SUGERENCIA:|pg_dump:)"));
    // Lines that quote the statement or the data it met.
    static const QRegularExpression cita(
        QStringLiteral("(^|:\\s*)(LINE|L[IÍ]NEA|CONTEXT|CONTEXTO|QUERY|STATEMENT|SENTENCIA)\\b|^\\^|^\\s+\\^"));
    QStringList errores;
    QStringList ultimas;
    for (QString l : lineas) {
        l = l.trimmed();
        if (l.isEmpty() || cita.match(l).hasMatch()) {
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

ResultadoPsql ejecutarPsql(const QString& carpetaBin, const QByteArray& entrada, const QString& salida) {
    const SessionState& s = sesion();
    process::Command c;
    c.program = paths::withSlash(carpetaBin) + QStringLiteral("psql");
    c.arguments = {QStringLiteral("-X"), QStringLiteral("-w"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                   QStringLiteral("-h"), s.ServidorSesion,     QStringLiteral("-p"), QString::number(s.PuertoSesion),
                   QStringLiteral("-U"), s.UsuarioSesion,      QStringLiteral("-d"), QStringLiteral("veliro7"),
                   QStringLiteral("-f"), QStringLiteral("-")};
    // The scripts are UTF-8 (a dump names its own encoding anyway).
    c.environment = {{QStringLiteral("PGPASSWORD"), s.ClaveSesion},
                     {QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8")}};
    c.entrada = entrada;
    c.out = process::Sink::File;
    c.outFile = salida;
    c.err = process::Sink::Stdout;
    const process::Result r = process::run(c);

    ResultadoPsql p;
    p.iniciado = r.started;
    p.estado = r.status();
    if (!r.started) {
        p.errorInicio = c.program + QStringLiteral(": ") + r.startError;
        return p;
    }
    if (!r.ok()) {
        const archivo::Lectura l = archivo::leerRegular(salida, 4 * archivo::kMiB, archivo::SiExcede::UltimaParte);
        p.errores = lineasErrorPsql(l.datos);
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
    return sql::ejecutar(sqlColumnasEnlace()).error;
}

// --- The merge script --------------------------------------------------------------------------------------

QString decodificarPlantilla(const QByteArray& bytes) {
    QByteArrayView datos(bytes);
    if (datos.startsWith("\xEF\xBB\xBF")) {
        datos = datos.sliced(3);
    }
    return textoUtf8OWindows1252(datos);
}

QString scriptPropio() {
    QString texto = recurso(QStringLiteral("restaura_acervo.sql"));
    texto.remove(kVacuum, Qt::CaseInsensitive);
    return texto.trimmed().isEmpty() ? QString() : texto;
}

CopiaGuardada leerCopiaGuardada() {
    const SessionState& s = sesion();
    CopiaGuardada c;
    if (s.HayArchivosCompartidos) {
        c.origen = paths::withSlash(s.RutaTrabajo.trimmed()) + QStringLiteral("plantillas/config/restaura_acervo.sra");
        // A name the kit chose on a shared folder: never through a link, never a FIFO or a device.
        const archivo::Lectura l = archivo::leerRegular(c.origen, 16 * archivo::kMiB);
        if (!l.ok()) {
            c.error = l.motivo;
            return c;
        }
        c.texto = decodificarPlantilla(l.datos);
        c.leida = true;
        return c;
    }
    c.origen = QStringLiteral("reportes.plantillas");
    QString error;
    RecordsetPtr rs =
        consulta(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'RESTAURA_ACERVO'"), error);
    if (!rs) {
        c.error = error;
        return c;
    }
    if (!rs->eof()) {
        c.texto = rs->text(0);
        c.leida = true;
    }
    return c;
}

bool mismoScript(const QString& a, const QString& b) {
    auto normal = [](QString t) {
        t.remove(QLatin1Char('\r'));
        t.remove(kVacuum, Qt::CaseInsensitive);
        return t.trimmed();
    };
    return normal(a) == normal(b);
}

QString avisoCopiaGuardada(const CopiaGuardada& copia, const QString& propio) {
    const QString sigue = QStringLiteral("Se ejecuta el script de actualización propio del programa.");
    if (copia.leida && mismoScript(copia.texto, propio)) {
        return QString();
    }
    if (copia.leida) {
        return QStringLiteral("El script de actualización del acervo guardado en ") + copia.origen +
               QStringLiteral(" (RESTAURA_ACERVO) no es el del programa: fue modificado y por seguridad no se "
                              "ejecuta.") +
               kCrLf + sigue;
    }
    if (copia.error.isEmpty()) {
        return QStringLiteral("No se encontró el script de actualización del acervo (RESTAURA_ACERVO) en ") +
               copia.origen + QLatin1Char('.') + kCrLf + sigue;
    }
    const QString queNo = QStringLiteral("No se pudo leer el script de actualización del acervo guardado en ") +
                          copia.origen + QLatin1Char('.');
    // A file's reason is already a Spanish sentence; the SQL layer's text is told as the server's.
    return (copia.origen == QLatin1String("reportes.plantillas") ? err::textoParaUsuario(queNo, copia.error)
                                                                 : queNo + kCrLf + copia.error) +
           kCrLf + sigue;
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

QString sentenciaCerrarMontadas() {
    return QStringLiteral("UPDATE analisis.fichas SET estatus='CAP' WHERE estatus='MON'; ");
}

} // namespace v7::acervo
