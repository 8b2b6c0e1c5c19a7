#include "core/archivos.h"

#include "core/errores.h"
#include "core/scripts.h"
#include "core/session.h"
#include "platform/archiver.h"
#include "platform/archivo_seguro.h"
#include "platform/carpeta_privada.h"
#include "platform/notify.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

using Carpeta = archivo::Carpeta;

const QString kTodoBien = QStringLiteral("Everything is Ok");
using err::kCrLf;

enum class Paso { Hecho, SinCorrer, Fallo };

// Writes the script, runs it and reads its output: Hecho when 7za said "Everything is Ok" and exited 0.
// The output file is made anew first (0600, no link followed); everything 7za creates is its owner's only.
Paso correr7za(const QString& script, const QString& comando, const QString& salida, QByteArray* texto) {
    const int fd = paths::crearArchivoNuevo(salida);
    if (fd < 0) {
        return Paso::SinCorrer;
    }
    ::close(fd);
    if (CrearArchivoBat(script,
                        QStringLiteral("umask 077") + kCrLf + comando + QStringLiteral(" > ") + citarSh(salida) +
                            QStringLiteral(" 2>&1"),
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
    *texto = f.readAll();
    return estado == 0 && texto->contains(kTodoBien.toUtf8()) ? Paso::Hecho : Paso::Fallo;
}

QString conMotivo(const QString& texto, const QString& motivo) {
    return motivo.isEmpty() ? texto : texto + kCrLf + motivo;
}

// The archive this process last moved into place: its name and the file it was (device, inode, size and
// modification time, which the move keeps; a file made later may reuse the inode), so that the thread
// ending the program can tell whether the move happened before the end came.
struct Colocado {
    std::mutex mutex;
    QString archivo;
    dev_t dispositivo = 0;
    ino_t nodo = 0;
    off_t tamano = 0;
    timespec modificado{};
};
Colocado& colocado() {
    static Colocado c;
    return c;
}

// When a process began, in seconds since the epoch; nothing when it cannot be told (or it is a zombie,
// which is as good as gone).
std::optional<double> inicioDeProceso(qint64 pid, bool* zombi) {
    QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray linea = f.readAll();
    const qsizetype cierre = linea.lastIndexOf(')');
    if (cierre < 0) {
        return std::nullopt;
    }
    // After the command's closing parenthesis: state is field 3, starttime field 22.
    const QList<QByteArray> campos = linea.mid(cierre + 2).split(' ');
    if (campos.size() < 20) {
        return std::nullopt;
    }
    *zombi = campos[0] == "Z" || campos[0] == "X";
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    for (const QByteArray& l : stat.readAll().split('\n')) {
        if (l.startsWith("btime ")) {
            const double arranque = l.mid(6).trimmed().toDouble();
            return arranque + campos[19].toDouble() / double(::sysconf(_SC_CLK_TCK));
        }
    }
    return std::nullopt;
}

// Whether the process that made a packing folder (last changed at modificado) still runs: its pid is taken
// and by a process that began before the folder last changed (a pid given again later is someone else).
bool empacadorVivo(qint64 pid, time_t modificado) {
    if (pid <= 0 || pid > INT_MAX) {
        return false;
    }
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
        return false;
    }
    bool zombi = false;
    const std::optional<double> inicio = inicioDeProceso(pid, &zombi);
    if (zombi) {
        return false;
    }
    return !inicio || *inicio <= double(modificado) + 1.0;
}

} // namespace

QStringList lineasDestacadas(const QByteArray& salida, int maximo) {
    const QStringList lineas =
        QString::fromUtf8(salida).split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
    static const QRegularExpression marca(QStringLiteral("error|fatal|warning|advertencia|could not|cannot|can not|"
                                                         "no se pudo|permission|denied|no space"),
                                          QRegularExpression::CaseInsensitiveOption);
    QStringList elegidas;
    for (const QString& l : lineas) {
        if (marca.match(l).hasMatch()) {
            elegidas << l.trimmed();
        }
    }
    if (elegidas.isEmpty()) {
        elegidas = lineas.mid(qMax(0, int(lineas.size()) - 3));
    }
    return elegidas.mid(0, maximo);
}

QString lineasDeError(const QByteArray& salida) {
    return lineasDestacadas(salida).join(kCrLf);
}

QStringList lineasDestacadasEn(const QString& archivo, int maximo) {
    QFile f(archivo);
    return f.open(QIODevice::ReadOnly) ? lineasDestacadas(f.readAll(), maximo) : QStringList();
}

QString lineasDeErrorEn(const QString& archivo) {
    return lineasDestacadasEn(archivo).join(kCrLf);
}

QString motivoDestinoNoValido(const QString& archivo) {
    if (archivo.isEmpty() || !QDir::isAbsolutePath(archivo)) {
        return QStringLiteral("La ruta del archivo no es absoluta (debe comenzar con \"/\").");
    }
    const QFileInfo destino(archivo);
    const QString carpeta = destino.absolutePath();
    if (!QFileInfo(carpeta).isDir()) {
        return errorSistema(ENOTDIR).descripcion + QStringLiteral(": ") + carpeta;
    }
    if (destino.isDir() && !destino.isSymLink()) {
        return errorSistema(EISDIR).descripcion + QStringLiteral(": ") + archivo + QStringLiteral(" es una carpeta");
    }
    return QString();
}

QString ComprimirRespaldo(const QString& archivo, const QString& carpeta, const AvisoEmpaque& aviso) {
    const QString noCreado = QStringLiteral("No se logro crear el archivo de respaldo: ") + archivo;
    const QString config = paths::programFolder() + QStringLiteral("config/");
    if (paths::esEnlace(QDir::cleanPath(config))) {
        return conMotivo(noCreado, errorSistema(ELOOP).descripcion + QStringLiteral(": ") + config +
                                       QStringLiteral(" es un enlace"));
    }
    if (!QFileInfo(config).isDir()) {
        QDir().mkpath(config);
        ::chmod(QFile::encodeName(config).constData(), 0700);
    }
    if (const QString motivo = motivoDestinoNoValido(archivo); !motivo.isEmpty()) {
        return conMotivo(noCreado, motivo);
    }

    // 7za "a" adds to an archive that exists: pack into a new file in a private folder beside the
    // destination (nobody else can open the archive while 7za writes it) and move it into place only once
    // it tested well, so an older archive of that name is never merged with new members and a failed run
    // leaves no half-made archive behind. Others may write the destination's folder: it is reached once,
    // the private folder gets a name nobody can foresee (as mkdtemp makes them), 7za is given a path that
    // names that very folder whatever happens to the names on the way, and the move goes between the two
    // folders' descriptors.
    const QFileInfo destino(archivo);
    const Carpeta carpetaDestino = Carpeta::abrir(destino.absolutePath());
    if (!carpetaDestino.ok()) {
        return conMotivo(noCreado, carpetaDestino.motivo());
    }
    // What 7za made inside goes with the folder on every end, through the folder's own descriptor; the folder
    // itself only while its name still holds it.
    const archivo::CarpetaPrivada aparte(carpetaDestino, QStringLiteral(".") + destino.fileName() + QLatin1Char('.') +
                                                             QString::number(::getpid()) + QLatin1Char('-'));
    if (!aparte.ok()) {
        return conMotivo(noCreado, errorSistema(aparte.carpeta().numeroError()).descripcion + QStringLiteral(": ") +
                                       destino.absolutePath());
    }
    const Carpeta& privada = aparte.carpeta();
    const QString nombre = destino.fileName();
    const QString estable = privada.rutaEstable();
    const QString temporal = estable + QLatin1Char('/') + nombre;
    const QString comoSeVe = privada.rutaDe(nombre); // for the caller, which only looks at its size
    // 7za's lines name the folder as the administrator knows it.
    const auto lineas = [&](QByteArray salida) {
        return lineasDeError(salida.replace(QFile::encodeName(estable), QFile::encodeName(privada.ruta())));
    };

    // A step that could not run is a failure too.
    QByteArray salida;
    if (aviso) {
        aviso(FaseEmpaque::Empacando, comoSeVe);
    }
    const Paso empaque = correr7za(config + QStringLiteral("r_backup.bat"), archiver::comandoEmpacar(temporal, carpeta),
                                   config + QStringLiteral("r_backup.txt"), &salida);
    if (empaque != Paso::Hecho) {
        return conMotivo(noCreado, empaque == Paso::Fallo ? lineas(salida) : QString());
    }
    if (aviso) {
        aviso(FaseEmpaque::Probando, comoSeVe);
    }
    const Paso prueba = correr7za(config + QStringLiteral("r_integral.bat"), archiver::comandoProbar(temporal),
                                  config + QStringLiteral("r_integral.txt"), &salida);
    if (prueba != Paso::Hecho) {
        return QStringLiteral("El respaldo se realizó, sin embargo, al parecer el archivo esta corrupto");
    }

    struct stat st {};
    if (!privada.estado(nombre, &st)) {
        return QStringLiteral("No se generó el respaldo en la ubicación ") + archivo;
    }
    if (!S_ISREG(st.st_mode) || st.st_size <= 0) {
        return QStringLiteral("No se encontro el archivo con el respaldo") + kCrLf + archivo;
    }
    // The archive holds the roles' password hashes: readable by its owner only.
    ::fchmodat(privada.fd(), QFile::encodeName(nombre).constData(), 0600, 0);
    {
        // Noted before the move: an end that comes right after it still finds the archive in place.
        Colocado& c = colocado();
        const std::lock_guard<std::mutex> lock(c.mutex);
        c.archivo = QDir::cleanPath(destino.absoluteFilePath());
        c.dispositivo = st.st_dev;
        c.nodo = st.st_ino;
        c.tamano = st.st_size;
        c.modificado = st.st_mtim;
    }
    if (const int e = privada.mover(nombre, carpetaDestino, nombre, true); e != 0) {
        return conMotivo(noCreado, errorSistema(e).descripcion);
    }
    return QString();
}

bool respaldoColocado(const QString& archivo) {
    Colocado& c = colocado();
    const std::lock_guard<std::mutex> lock(c.mutex);
    if (c.archivo.isEmpty() || c.archivo != QDir::cleanPath(QFileInfo(archivo).absoluteFilePath())) {
        return false;
    }
    struct stat st {};
    return ::lstat(QFile::encodeName(c.archivo).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == c.dispositivo && st.st_ino == c.nodo && st.st_size == c.tamano &&
           st.st_mtim.tv_sec == c.modificado.tv_sec && st.st_mtim.tv_nsec == c.modificado.tv_nsec;
}

QStringList barrerEmpaquesHuerfanos(const QString& archivo) {
    // ".<archive>.<pid>-XXXXXX", and ".<archive>.<pid>-<n>.tmp" as earlier versions named them.
    static const QRegularExpression kPrivada(QStringLiteral("^\\.(.+)\\.(\\d+)-(?:[A-Za-z0-9]{6}|\\d+\\.tmp)$"));
    QStringList barridas;
    const Carpeta carpeta = Carpeta::abrir(QFileInfo(archivo).absolutePath());
    if (!carpeta.ok()) {
        return barridas;
    }
    for (const QString& nombre : carpeta.nombres()) {
        const QRegularExpressionMatch m = kPrivada.match(nombre);
        if (!m.hasMatch()) {
            continue;
        }
        struct stat st {};
        if (!carpeta.estado(nombre, &st) || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
            empacadorVivo(m.captured(2).toLongLong(), st.st_mtime)) {
            continue;
        }
        const Carpeta dentro = carpeta.subcarpeta(nombre);
        if (!dentro.ok()) {
            continue;
        }
        // Only what 7za makes there: the archive, or a work file of its name.
        const QString miembro = m.captured(1);
        bool soloElArchivo = true;
        for (const QString& d : dentro.nombres()) {
            struct stat sd {};
            if (!d.startsWith(miembro) || !dentro.estado(d, &sd) || !S_ISREG(sd.st_mode)) {
                soloElArchivo = false;
                break;
            }
        }
        if (soloElArchivo && carpeta.borrar(nombre) == 0) {
            barridas << carpeta.rutaDe(nombre);
        }
    }
    return barridas;
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
        return err::ocurrio(err::kOcurrioErrorNoMixto, e.numero,
                            {e.descripcion, QStringLiteral("[Funcion Respaldar]")});
    }
    return QStringLiteral("OK");
}

bool Unzip2(const QString& archivo, const QString& destino) {
    const QString comando =
        QStringLiteral("PATH=%PATH%;") + paths::programFolder() + kCrLf + archiver::comandoExtraer(archivo, destino);
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
        avisar(MsgIcon::Warning, QStringLiteral("Unzip2: Error No. ") + QString::number(estado) + kCrLf +
                                     archiver::significadoSalida7za(estado));
        return false;
    }
    return true;
}

} // namespace v7
