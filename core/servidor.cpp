#include "core/servidor.h"

#include "core/scripts.h"
#include "core/session.h"
#include "platform/notify.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

namespace v7 {

QString VerificarConexion() {
    if (conexionPrincipal().isOpen()) {
        return QString();
    }
    return QStringLiteral("No existe conexion con el servidor");
}

bool EstadoServidor() {
    const auto& s = sesion();
    const QString carpeta = paths::withSlash(s.RutaTemporal);
    const QString script = carpeta + QStringLiteral("v7.ServerStatus.bat");
    const QString salida = carpeta + QStringLiteral("v7.ServerStatus.txt");
    const QString datos = paths::withSlash(s.RutaPostgres) + QStringLiteral("data/");

    // pg_ctl refuses to run as root: it runs as the owner of the data folder.
    QString comoDueno;
    const QString dueno = process::ownerOf(datos);
    if (process::needsRunuser(dueno)) {
        comoDueno =
            citarSh(process::runuserProgram()) + QStringLiteral(" -u ") + citarSh(dueno) + QStringLiteral(" -- ");
    }
    const QString comando = QStringLiteral("set PGDATA=") + datos + QStringLiteral("\r\n") +
                            QStringLiteral("set LC_ALL=C\r\n") + comoDueno + QStringLiteral("pg_ctl status > ") +
                            citarSh(salida);

    const QString escrito = CrearArchivoBat(script, comando, QString());
    if (escrito != QLatin1String("OK")) {
        avisar(MsgIcon::Critical, escrito + QStringLiteral("\r\n[Rutina] EstadoServidor"));
        return false;
    }
    const QString corrido = EjecutarArchivoBat(script);
    if (!corrido.isEmpty()) {
        QFile::remove(script);
        avisar(MsgIcon::Critical, QStringLiteral("No se logró lanzar el Archivo ChecarServer.bat\r\n") + corrido);
        return false;
    }
    QFile::remove(script);

    QFile f(salida);
    if (!f.exists()) {
        avisar(MsgIcon::Critical, QStringLiteral("No se encontró el archivo \"v7.ServerStatus.txt\""));
        return false;
    }
    bool enEjecucion = false;
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&f);
        while (!in.atEnd()) {
            const QString linea = in.readLine();
            if (linea.contains(QStringLiteral("servidor está en ejecución")) ||
                linea.contains(QStringLiteral("server is running"))) {
                enEjecucion = true;
                break;
            }
        }
        f.close();
    }
    f.remove();
    return enEjecucion;
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
        avisar(MsgIcon::Warning,
               QStringLiteral("No se pudo detectar la ruta de instalación del PostgreSQL\r\nOcurrió el error: ") +
                   QString::number(numero) + QLatin1Char('(') + QString::number(paso) + QStringLiteral(")\r\n") +
                   descripcion + QStringLiteral("\r\n") + carpeta,
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
