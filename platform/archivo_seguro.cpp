#include "platform/archivo_seguro.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

namespace {

// A folder for the *at calls: readable, or only searchable (a folder this user may pass but not list).
int abrirCarpetaDe(int dirfd, const char* nombre, int extra) {
    int fd = ::openat(dirfd, nombre, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extra);
    if (fd < 0 && errno == EACCES) {
        fd = ::openat(dirfd, nombre, O_PATH | O_DIRECTORY | O_CLOEXEC | extra);
    }
    return fd;
}

int fallarCon(QString* motivo, int* numeroError, int e, const QString& texto) {
    if (motivo != nullptr) {
        *motivo = texto;
    }
    if (numeroError != nullptr) {
        *numeroError = e;
    }
    return -1;
}

// nombre of dirfd opened for reading: never through a link at the name, never blocking on a FIFO or a
// device, only a regular file, and with a dueno only one of that user.
int abrirEn(int dirfd, const QByteArray& nombre, const QString& ruta, QString* motivo, int* numeroError, uid_t dueno) {
    // O_NONBLOCK: a FIFO must not hold the open; O_NOFOLLOW: a link at the name is refused (ELOOP).
    const int fd = ::openat(dirfd, nombre.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        return fallarCon(motivo, numeroError, e, motivoDeError(ruta, e));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return fallarCon(motivo, numeroError, e, motivoDeError(ruta, e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (S_ISDIR(st.st_mode)) {
            return fallarCon(motivo, numeroError, EISDIR, motivoDeError(ruta, EISDIR));
        }
        return fallarCon(motivo, numeroError, EINVAL,
                         ruta + QStringLiteral(" no es un archivo común (es una tubería, un dispositivo o un "
                                               "socket); por seguridad no se lee."));
    }
    if (dueno != uid_t(-1) && st.st_uid != dueno) {
        ::close(fd);
        return fallarCon(motivo, numeroError, EPERM,
                         QStringLiteral("El archivo %1 pertenece al usuario \"%2\" y no a \"%3\"; por seguridad no "
                                        "se usa.")
                             .arg(ruta, nombreDeUsuario(st.st_uid), nombreDeUsuario(dueno)));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// Reads the file open at fd (closed here), at most limite bytes.
Lectura leerDe(int fd, const QString& ruta, qint64 limite, SiExcede siExcede, Lectura l) {
    struct stat st {};
    ::fstat(fd, &st);
    l.tamano = st.st_size;
    l.dueno = st.st_uid;
    l.grupo = st.st_gid;
    l.modo = st.st_mode & 07777;
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

// Six letters and digits, as mkdtemp and mkstemp pick them.
QByteArray sufijoAlAzar() {
    static const char kLetras[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray s(6, 'x');
    for (char& c : s) {
        c = kLetras[QRandomGenerator::system()->bounded(62)];
    }
    return s;
}

// A new file prefijo + six random characters in dirfd, created O_EXCL (mkostemp relative to a folder).
int crearTemporalEn(int dirfd, const QByteArray& prefijo, QByteArray* nombre) {
    for (int intento = 0; intento < 100; ++intento) {
        *nombre = prefijo + sufijoAlAzar();
        const int fd = ::openat(dirfd, nombre->constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Replaces nombre of dirfd whole (see escribirAtomico); ruta names it in the messages.
QString escribirEn(int dirfd, const QByteArray& nombre, const QString& ruta, const QByteArray& datos,
                   const OpcionesEscritura& o, int* numeroError) {
    int sinUso = 0;
    int& numero = numeroError != nullptr ? *numeroError : sinUso;
    numero = 0;
    const auto motivoDeError = [&numero](const QString& r, int e) {
        numero = e;
        return archivo::motivoDeError(r, e);
    };
    struct stat anterior {};
    const bool existe = ::fstatat(dirfd, nombre.constData(), &anterior, AT_SYMLINK_NOFOLLOW) == 0;
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
    QByteArray temporal;
    const int fd = crearTemporalEn(dirfd, '.' + nombre + '.', &temporal);
    if (fd < 0) {
        return motivoDeError(ruta, errno);
    }
    auto fallar = [&](int e) {
        ::close(fd);
        ::unlinkat(dirfd, temporal.constData(), 0);
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
        ::unlinkat(dirfd, temporal.constData(), 0);
        return motivoDeError(ruta, e);
    }
    // rename replaces the name itself: a link planted meanwhile is replaced, never written through.
    if (::renameat(dirfd, temporal.constData(), dirfd, nombre.constData()) != 0) {
        const int e = errno;
        ::unlinkat(dirfd, temporal.constData(), 0);
        return motivoDeError(ruta, e);
    }
    (void)::fsync(dirfd);
    return QString();
}

} // namespace

QString nombreDeUsuario(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid)) {
        return QString::fromLocal8Bit(pw->pw_name);
    }
    return QString::number(uid);
}

int abrirRegular(const QString& ruta, QString* motivo, int* numeroError) {
    if (ruta.isEmpty()) {
        return fallarCon(motivo, numeroError, ENOENT, QStringLiteral("No se indicó un archivo."));
    }
    return abrirEn(AT_FDCWD, QFile::encodeName(ruta), ruta, motivo, numeroError, uid_t(-1));
}

Lectura leerRegular(const QString& ruta, qint64 limite, SiExcede siExcede) {
    Lectura l;
    const int fd = abrirRegular(ruta, &l.motivo, &l.numeroError);
    if (fd < 0) {
        return l;
    }
    return leerDe(fd, ruta, limite, siExcede, std::move(l));
}

QString escribirAtomico(const QString& ruta, const QByteArray& datos, const OpcionesEscritura& o, int* numeroError) {
    const QFileInfo fi(ruta);
    const int dir = abrirCarpetaDe(AT_FDCWD, QFile::encodeName(fi.absolutePath()).constData(), 0);
    if (dir < 0) {
        const int e = errno;
        if (numeroError != nullptr) {
            *numeroError = e;
        }
        return motivoDeError(ruta, e);
    }
    const QString r = escribirEn(dir, QFile::encodeName(fi.fileName()), ruta, datos, o, numeroError);
    ::close(dir);
    return r;
}

// ---------------------------------------------------------------- Carpeta

Carpeta::~Carpeta() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Carpeta::Carpeta(Carpeta&& otra) noexcept
    : m_fd(std::exchange(otra.m_fd, -1)), m_ruta(std::move(otra.m_ruta)), m_motivo(std::move(otra.m_motivo)),
      m_numeroError(otra.m_numeroError), m_estado(otra.m_estado) {}

Carpeta& Carpeta::operator=(Carpeta&& otra) noexcept {
    if (this != &otra) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(otra.m_fd, -1);
        m_ruta = std::move(otra.m_ruta);
        m_motivo = std::move(otra.m_motivo);
        m_numeroError = otra.m_numeroError;
        m_estado = otra.m_estado;
    }
    return *this;
}

namespace {

// A folder whose entries nobody but root or this program's own user may change: a link there was put
// there by one of them.
bool confiable(const struct stat& st) {
    return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString motivoDeCarpeta(const QString& ruta, int e) {
    switch (e) {
    case ENOENT:
        return QStringLiteral("No se encontró la carpeta ") + ruta + QLatin1Char('.');
    case ENOTDIR:
        return ruta + QStringLiteral(" no es una carpeta.");
    case EACCES:
    case EPERM:
        return QStringLiteral("No se tiene permiso para entrar en la carpeta ") + ruta + QLatin1Char('.');
    case ELOOP:
        return QStringLiteral("La carpeta ") + ruta +
               QStringLiteral(" es un enlace simbólico en una carpeta que otro usuario puede cambiar; por "
                              "seguridad no se sigue.");
    default:
        return QStringLiteral("No se pudo abrir la carpeta ") + ruta + QStringLiteral(" (") +
               QString::fromLocal8Bit(std::strerror(e)) + QStringLiteral(").");
    }
}

// Why a folder could not be made.
QString motivoDeCreacion(const QString& ruta, int e) {
    switch (e) {
    case EACCES:
    case EPERM:
        return QStringLiteral("No se tiene permiso para crear la carpeta ") + ruta + QLatin1Char('.');
    case ENOSPC:
        return QStringLiteral("No hay espacio en el disco para crear la carpeta ") + ruta + QLatin1Char('.');
    case EROFS:
        return QStringLiteral("El disco de ") + ruta + QStringLiteral(" es de solo lectura.");
    default:
        return QStringLiteral("No se pudo crear la carpeta ") + ruta + QStringLiteral(" (") +
               QString::fromLocal8Bit(std::strerror(e)) + QStringLiteral(").");
    }
}

} // namespace

Carpeta Carpeta::abrir(const QString& ruta) {
    Carpeta c;
    c.m_ruta = ruta.isEmpty() ? QStringLiteral(".") : QDir::cleanPath(ruta);
    auto fallar = [&c](int e, const QString& donde) {
        if (c.m_fd >= 0) {
            ::close(c.m_fd);
            c.m_fd = -1;
        }
        c.m_numeroError = e;
        c.m_motivo = motivoDeCarpeta(donde, e);
        return std::move(c);
    };
    // What is left to walk; a link's target goes in front. Only the names given count for the messages.
    struct Paso {
        QByteArray nombre;
        bool dado;
    };
    std::deque<Paso> pendientes;
    for (const QByteArray& n : QFile::encodeName(c.m_ruta).split('/')) {
        if (!n.isEmpty()) {
            pendientes.push_back({n, true});
        }
    }
    const bool absoluta = c.m_ruta.startsWith(QLatin1Char('/'));
    QString recorrida = absoluta ? QStringLiteral("/") : QString();
    c.m_fd = abrirCarpetaDe(AT_FDCWD, absoluta ? "/" : ".", 0);
    if (c.m_fd < 0) {
        return fallar(errno, absoluta ? QStringLiteral("/") : QStringLiteral("."));
    }
    int saltos = 0;
    while (!pendientes.empty()) {
        const Paso paso = pendientes.front();
        pendientes.pop_front();
        QString donde = recorrida;
        if (paso.dado) {
            donde += (donde.isEmpty() || donde.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                     QFile::decodeName(paso.nombre);
        }
        if (paso.nombre == ".") {
            continue;
        }
        const int siguiente = abrirCarpetaDe(c.m_fd, paso.nombre.constData(), O_NOFOLLOW);
        if (siguiente < 0) {
            const int e = errno;
            struct stat st {};
            struct stat aqui {};
            if ((e == ELOOP || e == ENOTDIR) &&
                ::fstatat(c.m_fd, paso.nombre.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
                if (::fstat(c.m_fd, &aqui) != 0 || !confiable(aqui)) {
                    return fallar(ELOOP, donde);
                }
                if (++saltos > 40) {
                    return fallar(EMLINK, donde);
                }
                QByteArray destino(PATH_MAX, '\0');
                const ssize_t n = ::readlinkat(c.m_fd, paso.nombre.constData(), destino.data(), size_t(destino.size()));
                if (n <= 0 || n >= destino.size()) {
                    return fallar(n < 0 ? errno : ENAMETOOLONG, donde);
                }
                destino.truncate(n);
                const QList<QByteArray> partes = destino.split('/');
                for (auto it = partes.rbegin(); it != partes.rend(); ++it) {
                    if (!it->isEmpty()) {
                        pendientes.push_front({*it, false});
                    }
                }
                if (destino.startsWith('/')) {
                    const int raiz = abrirCarpetaDe(AT_FDCWD, "/", 0);
                    if (raiz < 0) {
                        return fallar(errno, donde);
                    }
                    ::close(c.m_fd);
                    c.m_fd = raiz;
                }
                recorrida = donde;
                continue;
            }
            return fallar(e, donde);
        }
        ::close(c.m_fd);
        c.m_fd = siguiente;
        recorrida = donde;
    }
    if (::fstat(c.m_fd, &c.m_estado) != 0) {
        return fallar(errno, c.m_ruta);
    }
    return c;
}

QString Carpeta::rutaDe(const QString& nombre) const {
    return m_ruta.endsWith(QLatin1Char('/')) ? m_ruta + nombre : m_ruta + QLatin1Char('/') + nombre;
}

QString Carpeta::rutaEstable() const {
    return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_fd);
}

QString Carpeta::rechazoPorDueno(uid_t dueno) const {
    if (m_estado.st_uid == dueno || m_estado.st_uid == 0) {
        return QString();
    }
    return QStringLiteral("La carpeta %1 pertenece al usuario \"%2\"; por seguridad solo se usa una carpeta de "
                          "\"%3\" o de root.")
        .arg(m_ruta, nombreDeUsuario(m_estado.st_uid), nombreDeUsuario(dueno));
}

Carpeta Carpeta::subcarpeta(const QString& nombre) const {
    Carpeta c;
    c.m_ruta = rutaDe(nombre);
    const QByteArray n = QFile::encodeName(nombre);
    c.m_fd = abrirCarpetaDe(m_fd, n.constData(), O_NOFOLLOW);
    if (c.m_fd < 0 || ::fstat(c.m_fd, &c.m_estado) != 0) {
        int e = errno;
        struct stat st {};
        if ((e == ENOTDIR || e == ELOOP) && ::fstatat(m_fd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            e = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
        }
        if (c.m_fd >= 0) {
            ::close(c.m_fd);
            c.m_fd = -1;
        }
        c.m_numeroError = e;
        c.m_motivo = motivoDeCarpeta(c.m_ruta, e);
    }
    return c;
}

Carpeta Carpeta::crearSubcarpeta(const QString& nombre, mode_t modo, uid_t dueno, gid_t grupo) const {
    const QByteArray n = QFile::encodeName(nombre);
    const bool hecha = ::mkdirat(m_fd, n.constData(), modo) == 0;
    if (!hecha && errno != EEXIST) {
        Carpeta c;
        c.m_ruta = rutaDe(nombre);
        c.m_numeroError = errno;
        c.m_motivo = motivoDeCreacion(c.m_ruta, c.m_numeroError);
        return c;
    }
    Carpeta c = subcarpeta(nombre);
    if (!c.ok() || !hecha || c.m_estado.st_uid != ::geteuid() ||
        (c.m_estado.st_uid == dueno && c.m_estado.st_gid == grupo)) {
        return c;
    }
    // Through the folder's own descriptor: whatever stands at the name by now is not what changes owner.
    if (::fchownat(c.m_fd, "", dueno, grupo, AT_EMPTY_PATH) != 0 || ::fstat(c.m_fd, &c.m_estado) != 0) {
        const int e = errno;
        ::unlinkat(m_fd, n.constData(), AT_REMOVEDIR);
        Carpeta fallida;
        fallida.m_ruta = c.m_ruta;
        fallida.m_numeroError = e;
        fallida.m_motivo = motivoDeCreacion(c.m_ruta, e);
        return fallida;
    }
    return c;
}

Carpeta Carpeta::crearCarpetaTemporal(const QString& prefijo) const {
    const QByteArray p = QFile::encodeName(prefijo);
    for (int intento = 0; intento < 100; ++intento) {
        const QByteArray nombre = p + sufijoAlAzar();
        if (::mkdirat(m_fd, nombre.constData(), 0700) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            Carpeta c;
            c.m_ruta = rutaDe(prefijo + QStringLiteral("XXXXXX"));
            c.m_numeroError = errno;
            c.m_motivo = motivoDeCreacion(c.m_ruta, c.m_numeroError);
            return c;
        }
        Carpeta c = subcarpeta(QFile::decodeName(nombre));
        if (c.ok() && (c.m_estado.st_uid != ::geteuid() || (c.m_estado.st_mode & 077) != 0)) {
            // Not the folder just made: someone swapped it.
            ::close(c.m_fd);
            c.m_fd = -1;
            c.m_numeroError = EEXIST;
            c.m_motivo = motivoDeCreacion(c.m_ruta, EEXIST);
        }
        return c;
    }
    Carpeta c;
    c.m_ruta = rutaDe(prefijo + QStringLiteral("XXXXXX"));
    c.m_numeroError = EEXIST;
    c.m_motivo = motivoDeCreacion(c.m_ruta, EEXIST);
    return c;
}

int Carpeta::abrirRegular(const QString& nombre, QString* motivo, int* numeroError, uid_t dueno) const {
    if (nombre.isEmpty()) {
        return fallarCon(motivo, numeroError, ENOENT, QStringLiteral("No se indicó un archivo."));
    }
    return abrirEn(m_fd, QFile::encodeName(nombre), rutaDe(nombre), motivo, numeroError, dueno);
}

Lectura Carpeta::leerRegular(const QString& nombre, qint64 limite, SiExcede siExcede, uid_t dueno) const {
    Lectura l;
    const int fd = abrirRegular(nombre, &l.motivo, &l.numeroError, dueno);
    if (fd < 0) {
        return l;
    }
    return leerDe(fd, rutaDe(nombre), limite, siExcede, std::move(l));
}

QString Carpeta::escribirAtomico(const QString& nombre, const QByteArray& datos, const OpcionesEscritura& o,
                                 int* numeroError) const {
    return escribirEn(m_fd, QFile::encodeName(nombre), rutaDe(nombre), datos, o, numeroError);
}

int Carpeta::crearNuevo(const QString& nombre, unsigned modo) const {
    return ::openat(m_fd, QFile::encodeName(nombre).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode_t(modo));
}

bool Carpeta::estado(const QString& nombre, struct stat* st) const {
    return ::fstatat(m_fd, QFile::encodeName(nombre).constData(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

QStringList Carpeta::nombres() const {
    QStringList lista;
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return lista;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return lista;
    }
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray n(d->d_name);
        if (n != "." && n != "..") {
            lista << QFile::decodeName(n);
        }
    }
    ::closedir(dir);
    return lista;
}

int Carpeta::mover(const QString& nombre, const Carpeta& destino, const QString& nuevo, bool reemplazar) const {
    const QByteArray de = QFile::encodeName(nombre);
    const QByteArray a = QFile::encodeName(nuevo);
    if (reemplazar) {
        return ::renameat(m_fd, de.constData(), destino.m_fd, a.constData()) == 0 ? 0 : errno;
    }
    if (::renameat2(m_fd, de.constData(), destino.m_fd, a.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without it: a hard link fails on a taken name as well; then the old name goes.
    if (::linkat(m_fd, de.constData(), destino.m_fd, a.constData(), 0) != 0) {
        return errno;
    }
    ::unlinkat(m_fd, de.constData(), 0);
    return 0;
}

int Carpeta::borrar(const QString& nombre) const {
    return paths::borrarEntradaEn(m_fd, QFile::encodeName(nombre));
}

} // namespace v7::archivo
