#include "core/archivos.h"

#include "core/scripts.h"
#include "core/session.h"
#include "platform/archiver.h"
#include "platform/events.h"
#include "platform/notify.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

const QString kTodoBien = QStringLiteral("Everything is Ok");

enum class Paso { Hecho, SinCorrer, Fallo };

// Writes the script, runs it and reads its output: Hecho when 7za said "Everything is Ok" and exited 0.
Paso correr7za(const QString& script, const QString& comando, const QString& salida) {
    if (CrearArchivoBat(script, comando + QStringLiteral(" > ") + citarSh(salida) + QStringLiteral(" 2>&1"),
                        QString()) != QLatin1String("OK")) {
        return Paso::SinCorrer;
    }
    int estado = -1;
    if (!EjecutarArchivoBat(script, &estado).isEmpty()) {
        return Paso::SinCorrer;
    }
    QFile f(salida);
    if (!f.open(QIODevice::ReadOnly)) {
        return Paso::SinCorrer;
    }
    return estado == 0 && f.readAll().contains(kTodoBien.toUtf8()) ? Paso::Hecho : Paso::Fallo;
}

} // namespace

QString ComprimirRespaldo(const QString& archivo, const QString& carpeta) {
    const QString config = paths::programFolder() + QStringLiteral("config/");
    if (!QFileInfo(config).isDir()) {
        QDir().mkpath(config);
        ::chmod(QFile::encodeName(config).constData(), 0700);
    }

    // 7za "a" adds to an archive that exists: pack into a new file beside the destination and move it into
    // place only once it tested well, so an older archive of that name is never merged with new members and
    // a failed run leaves no half-made archive behind.
    const QFileInfo destino(archivo);
    static int serie = 0;
    const QString temporal = destino.absolutePath() + QStringLiteral("/.") + destino.fileName() + QLatin1Char('.') +
                             QString::number(::getpid()) + QLatin1Char('-') + QString::number(++serie) +
                             QStringLiteral(".tmp.zip");
    const QByteArray temporalNativo = QFile::encodeName(temporal);
    struct Descarte {
        const QByteArray& ruta;
        bool activo = true;
        ~Descarte() {
            if (activo) {
                ::unlink(ruta.constData());
            }
        }
    } descarte{temporalNativo};
    const QString noCreado = QStringLiteral("No se logro crear el archivo de respaldo: ") + archivo;
    if (::unlink(temporalNativo.constData()) != 0 && errno != ENOENT) {
        return noCreado;
    }

    // A step that could not run is a failure too.
    const Paso empaque = correr7za(config + QStringLiteral("r_backup.bat"), archiver::comandoEmpacar(temporal, carpeta),
                                   config + QStringLiteral("r_backup.txt"));
    if (empaque != Paso::Hecho) {
        return noCreado;
    }
    const Paso prueba = correr7za(config + QStringLiteral("r_integral.bat"), archiver::comandoProbar(temporal),
                                  config + QStringLiteral("r_integral.txt"));
    if (prueba != Paso::Hecho) {
        return QStringLiteral("El respaldo se realizó, sin embargo, al parecer el archivo esta corrupto");
    }

    const QFileInfo zip(temporal);
    if (!zip.exists()) {
        return QStringLiteral("No se generó el respaldo en la ubicación ") + archivo;
    }
    if (zip.size() <= 0) {
        return QStringLiteral("No se encontro el archivo con el respaldo\r\n") + archivo;
    }
    // The archive holds the roles' password hashes: readable by its owner only.
    ::chmod(temporalNativo.constData(), 0600);
    if (::rename(temporalNativo.constData(), QFile::encodeName(archivo).constData()) != 0) {
        return noCreado;
    }
    descarte.activo = false;
    return QString();
}

QString Respaldar(const QString& archivoBackup) {
    QString archivoZip = archivoBackup;
    archivoZip.replace(QStringLiteral(".backup"), QStringLiteral(".zip"));
    const int codigo = archiver::empacarArchivo(archivoBackup, archivoZip);
    if (codigo != archiver::kZipOk) {
        return QString::number(codigo);
    }
    if (::unlink(QFile::encodeName(archivoBackup).constData()) != 0) {
        const ErrorSistema e = errorSistema(errno);
        return QStringLiteral("Ocurrió el error No. ") + QString::number(e.numero) + QStringLiteral("\r\n") +
               e.descripcion + QStringLiteral("\r\n[Funcion Respaldar]");
    }
    events::pump();
    return QStringLiteral("OK");
}

bool Unzip2(const QString& archivo, const QString& destino) {
    const QString comando = QStringLiteral("PATH=%PATH%;") + paths::programFolder() + QStringLiteral("\r\n") +
                            archiver::comandoExtraer(archivo, destino);
    const QString script = paths::withSlash(sesion().RutaTemporal) + QStringLiteral("Unzip.bat");
    if (CrearArchivoBat(script, comando, QString()) != QLatin1String("OK")) {
        return false;
    }
    int estado = -1;
    if (!EjecutarArchivoBat(script, &estado).isEmpty()) {
        return false;
    }
    if (estado != 0) {
        // An archive that did not extract must not pass as extracted.
        avisar(MsgIcon::Warning, QStringLiteral("Unzip2: Error No. ") + QString::number(estado) +
                                     QStringLiteral("\r\n") + archiver::significadoSalida7za(estado));
        return false;
    }
    return true;
}

} // namespace v7
