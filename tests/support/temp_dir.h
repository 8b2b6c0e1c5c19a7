// A temporary folder removed at the end of a test.
#pragma once

#include <QDir>
#include <QTemporaryDir>

namespace v7::test {

class TempDir {
public:
    TempDir() : m_dir(QDir::tempPath() + QStringLiteral("/v7test-XXXXXX")) {}
    QString path() const { return m_dir.path() + QStringLiteral("/"); } // ends in "/"
    QString file(const QString& name) const { return path() + name; }

private:
    QTemporaryDir m_dir;
};

} // namespace v7::test
