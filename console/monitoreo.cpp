#include "console/monitoreo.h"

#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/paths.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>

namespace v7 {

namespace {

const QString kConsultaUltimaSesion =
    QStringLiteral("SELECT usename, backend_start, client_addr FROM pg_stat_activity WHERE datname = 'veliro7' "
                   "ORDER BY backend_start DESC LIMIT 1");

// A server timestamp ("2026-12-10 14:03:04.123-06") to the second, as the server's clock read it.
QDateTime fechaServidor(const QString& valor) {
    return QDateTime::fromString(valor.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The start of a session as the list shows it: date and time to the second.
QString textoInicio(const QString& valor) {
    const QDateTime d = fechaServidor(valor);
    return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : valor;
}

bool esControlDeDireccion(char16_t u) {
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
           u == 0x2028 || u == 0x2029;
}

bool esControl(char16_t u) {
    return u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F);
}

QString megas(qint64 bytes) {
    return QString::number(double(bytes) / double(archivo::kMiB), 'f', 0) + QStringLiteral(" MB");
}

} // namespace

QString ajusteServidor(const QString& nombre) {
    const auto& con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        return QString();
    }
    int total = 0;
    QString error;
    RecordsetPtr rs = ExecuteSQLrs(
        QStringLiteral("SELECT setting FROM pg_settings WHERE name = ") + citarLiteral(nombre), total, error);
    return rs && !rs->eof() ? rs->text(0).trimmed() : QString();
}

bool sesionesConectadas(QVector<SesionConectada>* sesiones, QString* error) {
    int total = 0;
    QString e;
    RecordsetPtr rs = ExecuteSQLrs(kConsultaSesiones, total, e);
    if (!rs) {
        if (error != nullptr) {
            *error = e;
        }
        return false;
    }
    for (; !rs->eof(); rs->moveNext()) {
        sesiones->append(SesionConectada{rs->text(QStringLiteral("datname")), rs->text(QStringLiteral("usename")),
                                         textoInicio(rs->text(QStringLiteral("backend_start"))),
                                         rs->text(QStringLiteral("client_addr")),
                                         rs->text(QStringLiteral("client_port"))});
    }
    rs->close();
    return true;
}

bool leerUltimaSesion(UltimaSesion* s, QString* error) {
    int total = 0;
    QString e;
    RecordsetPtr rs = ExecuteSQLrs(kConsultaUltimaSesion, total, e);
    if (!rs) {
        if (error != nullptr) {
            *error = e;
        }
        return false;
    }
    *s = UltimaSesion{};
    if (!rs->eof()) {
        s->hay = true;
        s->usuario = rs->value(QStringLiteral("usename"));
        s->direccion = rs->value(QStringLiteral("client_addr"));
        s->inicio = rs->value(QStringLiteral("backend_start"));
    }
    rs->close();
    return true;
}

QString textoUltimaSesion(const UltimaSesion& s, const QLocale& locale) {
    QString banner = QStringLiteral("El último usuario que inicio sesión fue ");
    if (!s.hay) {
        return banner;
    }
    banner += s.usuario ? QLatin1Char('\'') + *s.usuario + QLatin1Char('\'') : QStringLiteral("- Desconocido -");
    banner += QStringLiteral(" desde la dirección IP  ") + s.direccion.value_or(QStringLiteral("###.###.###.###"));
    QString inicio = QStringLiteral("- Desconocido -");
    if (s.inicio) {
        const QDateTime d = fechaServidor(*s.inicio);
        // The month by its name, in the program's language.
        inicio = d.isValid() ? locale.toString(d, QStringLiteral("d 'de' MMMM 'de' yyyy, HH:mm:ss")) : *s.inicio;
    }
    return banner + QStringLiteral(" el día  ") + inicio;
}

QString carpetaDatosServidor() {
    const QString datosServidor = ajusteServidor(QStringLiteral("data_directory"));
    return datosServidor.isEmpty() ? paths::withSlash(sesion().RutaPostgres) + QStringLiteral("data") : datosServidor;
}

std::optional<uid_t> duenoDelServidor(QString* motivo) {
    const archivo::Carpeta datos = archivo::Carpeta::abrir(carpetaDatosServidor());
    if (!datos.ok()) {
        if (motivo != nullptr) {
            *motivo =
                QStringLiteral("No se pudo saber qué usuario es el dueño del servidor PostgreSQL: ") + datos.motivo();
        }
        return std::nullopt;
    }
    return datos.dueno();
}

QString carpetaBitacora(bool* colector) {
    if (colector != nullptr) {
        *colector = ajusteServidor(QStringLiteral("logging_collector")) != QLatin1String("off");
    }
    const QString directorio = ajusteServidor(QStringLiteral("log_directory"));
    if (directorio.isEmpty()) {
        return paths::withSlash(sesion().RutaPostgres) + QStringLiteral("data/pg_log/");
    }
    if (QDir::isAbsolutePath(directorio)) {
        return paths::withSlash(directorio);
    }
    return paths::withSlash(carpetaDatosServidor() + QLatin1Char('/') + directorio);
}

QString archivoBitacoraDelDia(const QStringList& nombres, const QDate& dia) {
    const QString patron =
        QStringLiteral("postgresql-") + dia.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("_*.log");
    // Directory order is arbitrary here: the names say which file was started last. Links and other
    // kinds of entry count too, so that the reader can refuse them by name.
    QStringList delDia = nombres.filter(QRegularExpression(QRegularExpression::wildcardToRegularExpression(patron),
                                                           QRegularExpression::NoPatternOption));
    if (delDia.isEmpty()) {
        return QString();
    }
    std::sort(delDia.begin(), delDia.end());
    return delDia.last();
}

QString lineaVisible(QStringView linea) {
    const bool largo = linea.size() > kMaxCaracteresLinea;
    const QStringView mostrada = largo ? linea.first(kMaxCaracteresLinea) : linea;
    const bool limpia = std::none_of(mostrada.begin(), mostrada.end(), [](QChar c) {
        return esControl(c.unicode()) || esControlDeDireccion(c.unicode());
    });
    QString t;
    if (limpia) {
        t = mostrada.toString();
    } else {
        t.reserve(mostrada.size() + 16);
        for (const QChar c : mostrada) {
            const char16_t u = c.unicode();
            if (u == u'\t') {
                t += QStringLiteral("    ");
            } else if (esControl(u)) {
                t += QStringLiteral("\\x") + QStringLiteral("%1").arg(uint(u), 2, 16, QLatin1Char('0')).toUpper();
            } else if (esControlDeDireccion(u)) {
                t += QStringLiteral("\\u") + QStringLiteral("%1").arg(uint(u), 4, 16, QLatin1Char('0')).toUpper();
            } else {
                t += c;
            }
        }
    }
    if (largo) {
        t += QStringLiteral(" … [línea recortada: %1 caracteres más]").arg(linea.size() - kMaxCaracteresLinea);
    }
    return t;
}

QString Bitacora::linea(int i) const {
    const qsizetype inicio = inicios.at(i);
    qsizetype fin = i + 1 < inicios.size() ? inicios.at(i + 1) - 1 : datos.size();
    if (i + 1 == inicios.size() && fin > inicio && datos.at(fin - 1) == '\n') {
        --fin;
    }
    if (fin > inicio && datos.at(fin - 1) == '\r') {
        --fin;
    }
    return lineaVisible(QString::fromUtf8(datos.constData() + inicio, fin - inicio));
}

Bitacora leerBitacora(const archivo::Carpeta& carpeta, const QString& nombre, uid_t dueno) {
    Bitacora b;
    b.archivo = carpeta.rutaDe(nombre);
    archivo::Lectura l = carpeta.leerRegular(nombre, kLimiteBitacora, archivo::SiExcede::UltimaParte, dueno);
    if (!l.ok()) {
        b.motivo = l.motivo;
        // A planted link, a folder, a FIFO or another user's file at the log's name is worth telling; a file
        // that cannot be read is not (the tab then simply keeps what it showed).
        const bool rechazo =
            l.numeroError == ELOOP || l.numeroError == EISDIR || l.numeroError == EINVAL || l.numeroError == EPERM;
        b.estado = rechazo ? Bitacora::Estado::Rechazada : Bitacora::Estado::NoLeida;
        return b;
    }
    b.estado = Bitacora::Estado::Leida;
    b.datos = std::move(l.datos);
    if (l.recortado) {
        b.aviso = QStringLiteral("[Se muestra solo el final de la bitácora: los últimos %1 de un archivo de %2]")
                      .arg(megas(kLimiteBitacora), megas(l.tamano));
        // The first line read is most likely the end of a line cut off.
        const qsizetype salto = b.datos.indexOf('\n');
        b.datos.remove(0, salto < 0 ? b.datos.size() : salto + 1);
    }
    // A last line break ends the last line; it does not start another.
    const qsizetype total = b.datos.endsWith('\n') ? b.datos.size() - 1 : b.datos.size();
    if (b.datos.isEmpty()) {
        return b;
    }
    b.inicios.reserve(b.datos.count('\n') + 1);
    b.inicios.append(0);
    for (qsizetype i = b.datos.indexOf('\n'); i >= 0 && i < total; i = b.datos.indexOf('\n', i + 1)) {
        b.inicios.append(qint32(i + 1));
    }
    return b;
}

Bitacora bitacoraDelDia(const QDate& dia) {
    bool colector = true;
    const QString ruta = carpetaBitacora(&colector);
    if (!colector) {
        return Bitacora{};
    }
    Bitacora rechazada;
    rechazada.estado = Bitacora::Estado::Rechazada;
    rechazada.archivo = ruta;
    const std::optional<uid_t> dueno = duenoDelServidor(&rechazada.motivo);
    if (!dueno) {
        return rechazada;
    }
    const archivo::Carpeta carpeta = archivo::Carpeta::abrir(ruta);
    if (!carpeta.ok()) {
        if (carpeta.numeroError() == ENOENT) {
            return Bitacora{};
        }
        rechazada.motivo = carpeta.motivo();
        return rechazada;
    }
    rechazada.motivo = carpeta.rechazoPorDueno(*dueno);
    if (!rechazada.motivo.isEmpty()) {
        return rechazada;
    }
    const QString nombre = archivoBitacoraDelDia(carpeta.nombres(), dia);
    if (nombre.isEmpty()) {
        return Bitacora{};
    }
    return leerBitacora(carpeta, nombre, *dueno);
}

} // namespace v7
