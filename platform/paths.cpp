#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace v7::paths {

QString withSlash(const QString& folder) {
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))) {
        return folder;
    }
    return folder + QLatin1Char('/');
}

QString programFolder() {
    const QString home = qEnvironmentVariable("V7_HOME");
    if (!home.isEmpty()) {
        return withSlash(QDir::cleanPath(QFileInfo(home).absoluteFilePath()));
    }
    if (QCoreApplication::instance() != nullptr) {
        return withSlash(QCoreApplication::applicationDirPath());
    }
    return withSlash(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
}

QString workFolder() {
    QString base = qEnvironmentVariable("TMPDIR");
    if (base.isEmpty()) {
        base = QStringLiteral("/tmp");
    }
    const QString dir = withSlash(QDir::cleanPath(base)) + QStringLiteral("v7tools-") + QString::number(getuid());
    const QByteArray native = QFile::encodeName(dir);
    struct stat st {};
    // lstat: a link planted under a shared /tmp is not our folder.
    if (::lstat(native.constData(), &st) != 0) {
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            return QString();
        }
    } else if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        // Someone else's folder (or a file) under a shared /tmp: not a place for password scripts.
        return QString();
    }
    ::chmod(native.constData(), 0700);
    return withSlash(dir);
}

bool esEnlace(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

namespace {

// Removes the entry name of the folder dirfd; a folder with what it holds. 0 or the first errno.
int borrarEntrada(int dirfd, const char* name) {
    if (::unlinkat(dirfd, name, 0) == 0 || errno == ENOENT) {
        return 0;
    }
    if (errno != EISDIR && errno != EPERM) {
        return errno;
    }
    // O_NOFOLLOW: a link swapped in for the folder meanwhile is not entered.
    const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? 0 : errno;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int e = errno;
        ::close(fd);
        return e;
    }
    std::vector<std::string> names;
    while (const dirent* d = ::readdir(dir)) {
        const std::string n = d->d_name;
        if (n != "." && n != "..") {
            names.push_back(n);
        }
    }
    int first = 0;
    for (const std::string& n : names) {
        const int e = borrarEntrada(::dirfd(dir), n.c_str());
        if (first == 0) {
            first = e;
        }
    }
    ::closedir(dir);
    if (::unlinkat(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT && first == 0) {
        first = errno;
    }
    return first;
}

} // namespace

int borrarEntradaEn(int dirfd, const QByteArray& name) {
    return borrarEntrada(dirfd, name.constData());
}

bool borrarSinSeguirEnlaces(const QString& path, int* error) {
    QString limpio = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QFileInfo fi(limpio);
    // The folder that holds path may itself be reached through links (a program folder on another disk):
    // only what lies below it is never followed.
    const int dirfd = ::open(QFile::encodeName(fi.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int e = 0;
    if (dirfd < 0) {
        e = errno == ENOENT ? 0 : errno;
    } else {
        e = borrarEntrada(dirfd, QFile::encodeName(fi.fileName()).constData());
        ::close(dirfd);
    }
    if (error != nullptr) {
        *error = e;
    }
    return e == 0;
}

int crearArchivoNuevo(const QString& path, unsigned mode) {
    const QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT) {
        return -1;
    }
    return ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
}

QString hostName() {
    char buf[256] = {0};
    if (gethostname(buf, sizeof(buf) - 1) != 0) {
        return QString();
    }
    return QString::fromLocal8Bit(buf);
}

QString loginName() {
    if (const passwd* pw = getpwuid(geteuid())) {
        return QString::fromLocal8Bit(pw->pw_name);
    }
    return qEnvironmentVariable("USER");
}

} // namespace v7::paths
