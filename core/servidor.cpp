#include "core/servidor.h"

#include "core/errores.h"
#include "core/session.h"
#include "platform/notify.h"
#include "platform/paths.h"
#include "platform/service.h"

#include <QRegularExpression>

namespace v7 {

using err::kCrLf;

QString VerificarConexion() {
    if (conexionPrincipal().isOpen()) {
        return QString();
    }
    return QStringLiteral("No existe conexion con el servidor");
}

bool EstadoServidor() {
    // pg_ctl status through the service layer, the one way this program runs pg_ctl: as the data folder's
    // owner, in the C locale, judged by its exit status.
    const service::Result r = service::status(sesion().RutaPostgres);
    if (r.outcome == service::Outcome::Done) {
        return r.running;
    }
    avisar(MsgIcon::Critical, r.message + kCrLf + QStringLiteral("[Rutina] EstadoServidor"));
    return false;
}

int versionMayor(const QString& texto) {
    static const QRegularExpression numero(QStringLiteral("(\\d+)"));
    const auto m = numero.match(texto);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString ObtenerRutaBinPostgres() {
    const auto& s = sesion();
    QString carpeta;
    int paso = 1;
    const auto fallo = [&](int numero, const QString& descripcion) {
        // The step that failed in parentheses right after the number.
        avisar(MsgIcon::Warning,
               QStringLiteral("No se pudo detectar la ruta de instalación del PostgreSQL") + kCrLf +
                   err::ocurrio(err::kOcurrioErrorDosPuntos, numero) + QLatin1Char('(') + QString::number(paso) +
                   QLatin1Char(')') + kCrLf + descripcion + kCrLf + carpeta,
               MsgButtons::Ok, QStringLiteral("Error al ubicar utileria de respaldo del PostgreSQL"));
        return QString();
    };
    if (s.VersionesInstaladas.isEmpty() || s.RutasInstaladas.size() < s.VersionesInstaladas.size()) {
        return fallo(9, QStringLiteral("Subíndice fuera del intervalo"));
    }

    for (int i = 0; i < s.VersionesInstaladas.size(); ++i) {
        if (s.VersionesInstaladas[i] == s.VersionServidor) {
            carpeta = s.RutasInstaladas[i];
        }
    }
    if (carpeta.isEmpty()) {
        // By the numeric major version: a text prefix cannot tell 10 from 15.
        paso = 2;
        const int mayor = versionMayor(s.VersionServidor);
        for (int i = 0; i < s.VersionesInstaladas.size() && mayor >= 0; ++i) {
            if (versionMayor(s.VersionesInstaladas[i]) == mayor) {
                carpeta = s.RutasInstaladas[i];
            }
        }
    }
    if (carpeta.isEmpty()) {
        return QString();
    }
    return paths::withSlash(carpeta) + QStringLiteral("bin");
}

} // namespace v7
