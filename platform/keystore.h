// The key store that stands in for the registry: one INI-style text file whose sections are full
// key paths ("[HKEY_LOCAL_MACHINE\SOFTWARE\VELIRO7\Globals]") holding name=value entries.
// Key paths and value names compare case-insensitively, as registry keys do; a missing value reads
// as the empty text. Writes replace the file atomically, so a reader never sees half a file.
#pragma once

#include <QString>
#include <QStringList>

namespace v7::keystore {

enum class ErrorKind {
    None,
    Denied,     // the file or its folder may not be written (or read) by this process
    InvalidKey, // the path has no known root key
    Io,         // any other failure of the file system
};

struct Error {
    ErrorKind kind = ErrorKind::None;
    int number = 0; // errno of the failing call (0 for InvalidKey)
    QString description;

    bool isSet() const { return kind != ErrorKind::None; }
};

struct ReadResult {
    QString value; // empty when absent
    bool found = false;
    Error error;
};

// "HKLM\Software\X\" -> "HKEY_LOCAL_MACHINE\Software\X": abbreviated roots expanded, repeated and
// trailing separators dropped. Case is kept; compare with sameKey().
QString normalizeKey(const QString& keyPath);
bool sameKey(const QString& a, const QString& b);
// Whether the path starts with one of the registry's root keys.
bool hasValidRoot(const QString& keyPath);

// Splits a full value path ("HKEY_LOCAL_MACHINE\SOFTWARE\VELIRO7\Globals\PuertoPg") at its last
// separator into key path and value name. False when there is no separator.
bool splitValuePath(const QString& fullPath, QString& keyPath, QString& name);

class KeyStore {
public:
    // V7_REGISTRY when set and not empty, else /etc/veliro7/registry.ini.
    static QString defaultFile();

    explicit KeyStore(QString file = defaultFile());

    const QString& file() const { return m_file; }

    // A missing file, key or value is no error: found stays false and the value empty.
    [[nodiscard]] ReadResult read(const QString& keyPath, const QString& name) const;

    // The same for a full value path ("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\PuertoPg"); a path
    // without a known root or without a value name is an InvalidKey error.
    [[nodiscard]] ReadResult readValue(const QString& fullPath) const;

    // Sets one value, creating the key (and the file and its folder) as needed. The rest of the
    // file, comments included, is kept as it was. Values are single lines; blanks around a name or
    // a value are not kept (hand-edited "PuertoPg = 5432" reads as "5432").
    [[nodiscard]] Error write(const QString& keyPath, const QString& name, const QString& value) const;

    // The names of the keys directly below keyPath, in file order, each once.
    [[nodiscard]] QStringList subkeys(const QString& keyPath, Error* error = nullptr) const;

private:
    QString m_file;
};

} // namespace v7::keystore
