#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (::stat(native.constData(), &st) != 0) {
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
