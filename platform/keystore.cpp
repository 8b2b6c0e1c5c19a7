#include "platform/keystore.h"

#include "platform/archivo_seguro.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::keystore {

namespace {

const QChar kSep = QLatin1Char('\\');

struct Root {
    const char* name;
    const char* abbreviation;
};
constexpr Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_USERS", nullptr},        {"HKEY_CURRENT_CONFIG", nullptr},
};

Error osError(int err) {
    const bool denied = err == EACCES || err == EPERM || err == EROFS;
    return Error{denied ? ErrorKind::Denied : ErrorKind::Io, err, QString::fromLocal8Bit(std::strerror(err))};
}

Error invalidValue(const QString& what) {
    return Error{ErrorKind::Io, EINVAL, what};
}

bool isMissing(int err) {
    return err == ENOENT || err == ENOTDIR;
}

// The file's lines without their line ends; a missing file is an empty store.
bool readLines(const QString& file, QStringList& lines, Error& error) {
    lines.clear();
    const QByteArray name = QFile::encodeName(file);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (isMissing(err)) {
            return true;
        }
        error = osError(err);
        return false;
    }
    QByteArray data;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = osError(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        data.append(buffer, n);
    }
    ::close(fd);
    if (data.startsWith("\xEF\xBB\xBF")) {
        data.remove(0, 3);
    }
    QString text = QString::fromUtf8(data);
    lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast(); // the final line end
    }
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    return true;
}

bool makeFolders(const QString& folder, Error& error) {
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QString prefix;
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        prefix += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(prefix);
        if (::mkdir(name.constData(), 0755) != 0 && errno != EEXIST) {
            error = osError(errno);
            return false;
        }
    }
    return true;
}

// Replaced whole (platform/archivo_seguro.h): readers see the old file or the new one, never a part, and a
// link planted at its name is refused rather than written through.
Error replaceFile(const QString& file, const QByteArray& data) {
    Error error;
    const QFileInfo info(file);
    if (!makeFolders(info.absolutePath(), error)) {
        return error;
    }
    archivo::OpcionesEscritura o;
    o.modo = 0644;
    int numero = 0;
    if (!archivo::escribirAtomico(info.absoluteFilePath(), data, o, &numero).isEmpty()) {
        return osError(numero != 0 ? numero : EIO);
    }
    return Error{};
}

bool sectionName(const QString& line, QString& name) {
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']'))) {
        return false;
    }
    name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

bool isComment(const QString& line) {
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

bool entry(const QString& line, QString& name, QString& value) {
    if (isComment(line)) {
        return false;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) {
        return false;
    }
    name = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    return true;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString normalizeKey(const QString& keyPath) {
    QStringList parts = keyPath.trimmed().split(kSep, Qt::SkipEmptyParts);
    if (!parts.isEmpty()) {
        for (const Root& root : kRoots) {
            if (sameName(parts.first(), QLatin1String(root.name)) ||
                (root.abbreviation && sameName(parts.first(), QLatin1String(root.abbreviation)))) {
                parts.first() = QLatin1String(root.name);
                break;
            }
        }
    }
    return parts.join(kSep);
}

bool sameKey(const QString& a, const QString& b) {
    return sameName(normalizeKey(a), normalizeKey(b));
}

bool hasValidRoot(const QString& keyPath) {
    const QString first = normalizeKey(keyPath).section(kSep, 0, 0);
    for (const Root& root : kRoots) {
        if (first == QLatin1String(root.name)) {
            return true;
        }
    }
    return false;
}

bool splitValuePath(const QString& fullPath, QString& keyPath, QString& name) {
    const QString path = fullPath.trimmed();
    const qsizetype last = path.lastIndexOf(kSep);
    if (last < 0) {
        return false;
    }
    keyPath = path.left(last);
    name = path.mid(last + 1);
    return true;
}

QString KeyStore::defaultFile() {
    const QString fromEnv = qEnvironmentVariable("V7_REGISTRY");
    return fromEnv.isEmpty() ? QStringLiteral("/etc/veliro7/registry.ini") : fromEnv;
}

KeyStore::KeyStore(QString file) : m_file(std::move(file)) {}

ReadResult KeyStore::readValue(const QString& fullPath) const {
    QString keyPath, name;
    if (!splitValuePath(fullPath, keyPath, name)) {
        ReadResult r;
        r.error =
            Error{ErrorKind::InvalidKey, 0, QStringLiteral("Raíz no válida en la clave del registro: ") + fullPath};
        return r;
    }
    return read(keyPath, name);
}

ReadResult KeyStore::read(const QString& keyPath, const QString& name) const {
    ReadResult result;
    if (!hasValidRoot(keyPath)) {
        result.error = Error{ErrorKind::InvalidKey, 0, QStringLiteral("Raíz no válida en la clave del registro")};
        return result;
    }
    QStringList lines;
    if (!readLines(m_file, lines, result.error)) {
        return result;
    }
    bool inKey = false;
    for (const QString& line : lines) {
        QString section, entryName, value;
        if (sectionName(line, section)) {
            inKey = sameKey(section, keyPath);
        } else if (inKey && entry(line, entryName, value) && sameName(entryName, name)) {
            // A later entry overrides an earlier one, as write() updates the last.
            result.value = value;
            result.found = true;
        }
    }
    return result;
}

Error KeyStore::write(const QString& keyPath, const QString& name, const QString& value) const {
    if (!hasValidRoot(keyPath)) {
        return Error{ErrorKind::InvalidKey, 0, QStringLiteral("Raíz no válida en la clave del registro")};
    }
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))) {
        return invalidValue(QStringLiteral("El valor contiene saltos de línea"));
    }
    if (name.contains(QLatin1Char('=')) || name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')) ||
        name.trimmed().startsWith(QLatin1Char('[')) || name.trimmed().startsWith(QLatin1Char(';')) ||
        name.trimmed().startsWith(QLatin1Char('#'))) {
        return invalidValue(QStringLiteral("Nombre de valor no válido: ") + name);
    }
    Error error;
    QStringList lines;
    if (!readLines(m_file, lines, error)) {
        return error;
    }
    int lastEntry = -1;     // the entry to replace
    int lastInSection = -1; // the last entry or header of the key, where a new entry goes after
    QString existingName;
    bool inKey = false;
    for (int i = 0; i < lines.size(); ++i) {
        QString section, entryName, entryValue;
        if (sectionName(lines.at(i), section)) {
            inKey = sameKey(section, keyPath);
            if (inKey) {
                lastInSection = i;
            }
        } else if (inKey && entry(lines.at(i), entryName, entryValue)) {
            lastInSection = i;
            if (sameName(entryName, name)) {
                lastEntry = i;
                existingName = entryName;
            }
        }
    }
    if (lastEntry >= 0) {
        lines[lastEntry] = existingName + QLatin1Char('=') + value;
    } else if (lastInSection >= 0) {
        lines.insert(lastInSection + 1, name.trimmed() + QLatin1Char('=') + value);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) {
            lines.append(QString());
        }
        lines.append(QLatin1Char('[') + normalizeKey(keyPath) + QLatin1Char(']'));
        lines.append(name.trimmed() + QLatin1Char('=') + value);
    }
    return replaceFile(m_file, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

QStringList KeyStore::subkeys(const QString& keyPath, Error* error) const {
    QStringList result;
    Error readError;
    QStringList lines;
    if (!readLines(m_file, lines, readError)) {
        if (error) {
            *error = readError;
        }
        return result;
    }
    const QString parent = normalizeKey(keyPath) + kSep;
    for (const QString& line : lines) {
        QString section;
        if (!sectionName(line, section)) {
            continue;
        }
        const QString key = normalizeKey(section);
        if (key.size() <= parent.size() || !key.startsWith(parent, Qt::CaseInsensitive)) {
            continue;
        }
        const QString child = key.mid(parent.size()).section(kSep, 0, 0);
        if (!result.contains(child, Qt::CaseInsensitive)) {
            result.append(child);
        }
    }
    if (error) {
        *error = Error{};
    }
    return result;
}

} // namespace v7::keystore
