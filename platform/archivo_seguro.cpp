#include "platform/archivo_seguro.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::archivo {

namespace {

QString megas(qint64 bytes) {
    return QString::number(double(bytes) / double(kMiB), 'f', bytes < 10 * kMiB ? 1 : 0) + QStringLiteral(" MB");
}

bool escribirTodo(int fd, const QByteArray& datos) {
    for (qsizetype hecho = 0; hecho < datos.size();) {
        const ssize_t n = ::write(fd, datos.constData() + hecho, size_t(datos.size() - hecho));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        hecho += n;
    }
    return true;
}

} // namespace

QString motivoDeError(const QString& ruta, int numeroError) {
    switch (numeroError) {
    case ENOENT:
        return QStringLiteral("No se encontró el archivo ") + ruta + QLatin1Char('.');
    case EACCES:
    case EPERM:
        return QStringLiteral("No se tiene permiso para usar el archivo ") + ruta + QLatin1Char('.');
    case ELOOP:
        return QStringLiteral("El archivo ") + ruta +
               QStringLiteral(" es un enlace simbólico; por seguridad no se sigue.");
    case EISDIR:
        return ruta + QStringLiteral(" es una carpeta, no un archivo.");
    case ENOSPC:
        return QStringLiteral("No hay espacio en el disco para escribir ") + ruta + QLatin1Char('.');
    case EROFS:
        return QStringLiteral("El disco de ") + ruta + QStringLiteral(" es de solo lectura.");
    default:
        return QStringLiteral("No se pudo usar el archivo ") + ruta + QStringLiteral(" (") +
               QString::fromLocal8Bit(std::strerror(numeroError)) + QStringLiteral(").");
    }
}

int abrirRegular(const QString& ruta, QString* motivo, int* numeroError) {
    auto fallar = [&](int e, const QString& texto) {
        if (motivo != nullptr) {
            *motivo = texto;
        }
        if (numeroError != nullptr) {
            *numeroError = e;
        }
        return -1;
    };
    if (ruta.isEmpty()) {
        return fallar(ENOENT, QStringLiteral("No se indicó un archivo."));
    }
    // O_NONBLOCK: a FIFO must not hold the open; O_NOFOLLOW: a link at the name is refused (ELOOP).
    const int fd =
        ::open(QFile::encodeName(ruta).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        return fallar(e, motivoDeError(ruta, e));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return fallar(e, motivoDeError(ruta, e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (S_ISDIR(st.st_mode)) {
            return fallar(EISDIR, motivoDeError(ruta, EISDIR));
        }
        return fallar(EINVAL, ruta + QStringLiteral(" no es un archivo común (es una tubería, un dispositivo o un "
                                                    "socket); por seguridad no se lee."));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

Lectura leerRegular(const QString& ruta, qint64 limite, SiExcede siExcede) {
    Lectura l;
    const int fd = abrirRegular(ruta, &l.motivo, &l.numeroError);
    if (fd < 0) {
        return l;
    }
    struct stat st {};
    ::fstat(fd, &st);
    l.tamano = st.st_size;
    qint64 aLeer = l.tamano;
    if (l.tamano > limite) {
        if (siExcede == SiExcede::Rechazar) {
            ::close(fd);
            l.motivo = QStringLiteral("El archivo ") + ruta + QStringLiteral(" mide ") + megas(l.tamano) +
                       QStringLiteral("; el máximo que se acepta es ") + megas(limite) + QLatin1Char('.');
            l.numeroError = EFBIG;
            return l;
        }
        if (::lseek(fd, l.tamano - limite, SEEK_SET) < 0) {
            const int e = errno;
            ::close(fd);
            l.numeroError = e;
            l.motivo = motivoDeError(ruta, e);
            return l;
        }
        l.recortado = true;
        aLeer = limite;
    }
    // The file may grow while it is read (a log): never more than the limit.
    l.datos.reserve(qsizetype(qMin<qint64>(aLeer, 64 * kMiB)));
    char buf[65536];
    while (l.datos.size() < aLeer) {
        const ssize_t n = ::read(fd, buf, size_t(qMin<qint64>(qint64(sizeof buf), aLeer - l.datos.size())));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            l.numeroError = errno;
            l.motivo = motivoDeError(ruta, l.numeroError);
            l.datos.clear();
            break;
        }
        if (n == 0) {
            break;
        }
        l.datos.append(buf, n);
    }
    ::close(fd);
    return l;
}

QString escribirAtomico(const QString& ruta, const QByteArray& datos, const OpcionesEscritura& o, int* numeroError) {
    int sinUso = 0;
    int& numero = numeroError != nullptr ? *numeroError : sinUso;
    numero = 0;
    const auto motivoDeError = [&numero](const QString& r, int e) {
        numero = e;
        return archivo::motivoDeError(r, e);
    };
    const QByteArray destino = QFile::encodeName(ruta);
    struct stat anterior {};
    const bool existe = ::lstat(destino.constData(), &anterior) == 0;
    if (existe && S_ISLNK(anterior.st_mode)) {
        return motivoDeError(ruta, ELOOP);
    }
    if (existe && !S_ISREG(anterior.st_mode)) {
        numero = EINVAL;
        return ruta + QStringLiteral(" no es un archivo común; no se reemplaza.");
    }
    if (!existe && o.exigirExistente) {
        return motivoDeError(ruta, ENOENT);
    }
    const QFileInfo fi(ruta);
    QByteArray temporal =
        QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") + fi.fileName()) + QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkostemp(temporal.data(), O_CLOEXEC);
    if (fd < 0) {
        return motivoDeError(ruta, errno);
    }
    auto fallar = [&](int e) {
        ::close(fd);
        ::unlink(temporal.constData());
        return motivoDeError(ruta, e);
    };
    uid_t dueno = o.dueno;
    gid_t grupo = o.grupo;
    mode_t modo = mode_t(o.modo);
    if (existe && o.conservarDuenoYModo) {
        dueno = anterior.st_uid;
        grupo = anterior.st_gid;
        modo = anterior.st_mode & 07777;
    }
    if (!escribirTodo(fd, datos)) {
        return fallar(errno);
    }
    if ((dueno != uid_t(-1) || grupo != gid_t(-1)) && ::fchown(fd, dueno, grupo) != 0) {
        return fallar(errno);
    }
    if (::fchmod(fd, modo) != 0 || ::fsync(fd) != 0) {
        return fallar(errno);
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(temporal.constData());
        return motivoDeError(ruta, e);
    }
    // rename replaces the name itself: a link planted meanwhile is replaced, never written through.
    if (::rename(temporal.constData(), destino.constData()) != 0) {
        const int e = errno;
        ::unlink(temporal.constData());
        return motivoDeError(ruta, e);
    }
    const int dir = ::open(QFile::encodeName(fi.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return QString();
}

} // namespace v7::archivo
