#include "console/monitoreo.h"

#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace v7 {

namespace {

// The start of a session as the list shows it: date and time to the second.
QString textoInicio(const QString& valor) {
    const QDateTime d = QDateTime::fromString(valor.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : valor;
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

QString carpetaBitacora(bool* colector) {
    if (colector != nullptr) {
        *colector = ajusteServidor(QStringLiteral("logging_collector")) != QLatin1String("off");
    }
    const QString datos = paths::withSlash(sesion().RutaPostgres) + QStringLiteral("data");
    const QString directorio = ajusteServidor(QStringLiteral("log_directory"));
    if (directorio.isEmpty()) {
        return datos + QStringLiteral("/pg_log/");
    }
    if (QDir::isAbsolutePath(directorio)) {
        return paths::withSlash(directorio);
    }
    const QString datosServidor = ajusteServidor(QStringLiteral("data_directory"));
    return paths::withSlash((datosServidor.isEmpty() ? datos : datosServidor) + QLatin1Char('/') + directorio);
}

QString archivoBitacoraDelDia(const QString& carpeta, const QDate& dia) {
    const QString patron =
        QStringLiteral("postgresql-") + dia.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("_*.log");
    // Directory order is arbitrary here: the names say which file was started last.
    QStringList nombres = QDir(carpeta).entryList({patron}, QDir::Files, QDir::NoSort);
    if (nombres.isEmpty()) {
        return QString();
    }
    std::sort(nombres.begin(), nombres.end());
    return paths::withSlash(carpeta) + nombres.last();
}

bool leerBitacora(const QString& ruta, QStringList* lineas) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    while (!f.atEnd()) {
        QByteArray l = f.readLine();
        if (l.endsWith('\n')) {
            l.chop(1);
        }
        if (l.endsWith('\r')) {
            l.chop(1);
        }
        lineas->append(QString::fromUtf8(l));
    }
    return f.error() == QFileDevice::NoError;
}

} // namespace v7
