// An installation folder as the console knows one (bin/pg_ctl, data/ with PG_VERSION), whose data folder
// belongs to the test cluster's OS user and whose pg_ctl only pretends: "status" says the server is stopped
// and "start" fails at once. For tests of what the cluster's owner can do to its own folder while the kit
// runs as root. Beside it, a victim: a root-only folder holding a root-only file. It lies beside the test
// cluster's own folder, which that OS user can reach.
#pragma once

#include "tests/support/pg_cluster.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::test {

class InstalacionFalsa {
public:
    InstalacionFalsa()
        : m_dir(QFileInfo(QFileInfo(PgCluster::instance().dataFolder()).path()).path() +
                QStringLiteral("/v7test-XXXXXX")) {
        const QString raiz = m_dir.path() + QLatin1Char('/');
        m_ok = ::chmod(QFile::encodeName(raiz).constData(), 0755) == 0 && QDir().mkpath(raiz + "inst/bin") &&
               QDir().mkpath(datos()) && QDir().mkpath(victima()) &&
               ::chmod(QFile::encodeName(victima()).constData(), 0700) == 0;
        m_ok =
            m_ok && escribirArchivo(raiz + "inst/bin/pg_ctl",
                                    "#!/bin/sh\ncase \"$1\" in\n  status) echo 'pg_ctl: no server running'; exit 3;;\n"
                                    "  start) echo 'pg_ctl: could not start server' >&2; exit 1;;\nesac\nexit 1\n",
                                    0755);
        m_ok = m_ok && escribirArchivo(datos() + "/PG_VERSION", "15\n", 0600) &&
               escribirArchivo(secreto(), "SECRETO-DE-ROOT\n", 0600);
        if (const passwd* pw = ::getpwnam(PgCluster::instance().osOwner().toLocal8Bit().constData())) {
            m_uid = pw->pw_uid;
            m_gid = pw->pw_gid;
            m_ok = m_ok && ::chown(QFile::encodeName(datos()).constData(), m_uid, m_gid) == 0 &&
                   ::chown(QFile::encodeName(datos() + "/PG_VERSION").constData(), m_uid, m_gid) == 0 &&
                   ::chmod(QFile::encodeName(datos()).constData(), 0700) == 0;
        } else {
            m_ok = false;
        }
    }
    bool ok() const { return m_ok; }
    QString carpeta() const { return m_dir.path() + QStringLiteral("/inst/"); } // like RutaPostgres
    QString datos() const { return m_dir.path() + QStringLiteral("/inst/data"); }
    QString victima() const { return m_dir.path() + QStringLiteral("/victima"); } // root's, 0700
    QString secreto() const { return victima() + QStringLiteral("/secreto.log"); }
    uid_t duenoUid() const { return m_uid; }
    gid_t duenoGid() const { return m_gid; }

    // A file as the cluster's owner would leave it.
    bool delDueno(const QString& ruta, const QByteArray& datos) const {
        return escribirArchivo(ruta, datos, 0600) && ::chown(QFile::encodeName(ruta).constData(), m_uid, m_gid) == 0;
    }

    static QByteArray leer(const QString& ruta) {
        QFile f(ruta);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static bool escribirArchivo(const QString& ruta, const QByteArray& datos, mode_t modo) {
        QFile f(ruta);
        if (!f.open(QIODevice::WriteOnly) || f.write(datos) != datos.size()) {
            return false;
        }
        f.close();
        return ::chmod(QFile::encodeName(ruta).constData(), modo) == 0;
    }

private:
    QTemporaryDir m_dir;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_ok = false;
};

} // namespace v7::test
