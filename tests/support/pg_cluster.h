// A throwaway PostgreSQL cluster for one test program: laid out like an installation folder
// (bin/ -> the server's programs, data/ the cluster, logging into data/pg_log), listening on a
// free loopback port with password authentication. Started on first use, stopped at exit.
#pragma once

#include "platform/process.h"

#include <QString>
#include <QStringList>

namespace v7::test {

class PgCluster {
public:
    static PgCluster& instance(); // starts it on first call; a failure to start aborts the test program

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }
    QString superuser() const { return QStringLiteral("postgres"); }
    QString password() const { return QStringLiteral("v7-test-pw"); }
    QString installFolder() const { return m_root + QStringLiteral("/"); } // like RutaPostgres
    QString dataFolder() const { return m_root + QStringLiteral("/data"); }
    QString binFolder() const { return m_bin; }
    QString osOwner() const { return m_owner; } // the OS user that owns the cluster

    // ODBC connection string as the login builds it (driver alias registered for the tests).
    QString connectionString(const QString& user = QString(), const QString& password = QString(),
                             const QString& database = QStringLiteral("veliro7"),
                             const QString& driver = QStringLiteral("PostgreSQL ODBC Driver(UNICODE)")) const;

    // Runs SQL through psql as the superuser; returns false (and logs) on failure. Output rows are
    // unaligned, "|"-separated, without headers.
    bool psql(const QString& sql, QString* output = nullptr, const QString& database = QStringLiteral("veliro7")) const;
    // The command of another client: psql as the superuser on veliro7 running sql (password in its
    // environment), for a test to run on a thread of its own.
    process::Command comandoPsql(const QString& sql) const;
    // The first value of a query (empty on failure).
    QString scalar(const QString& sql, const QString& database = QStringLiteral("veliro7")) const;

    // Drops and recreates database veliro7 with the kit's and the library's schema files.
    void freshDatabase();

    bool stop();
    bool start();
    bool isRunning() const;
    // Runs a server tool (pg_ctl, createdb…) as the cluster's owner; returns the exit code.
    int runAsOwner(const QString& program, const QStringList& args, QString* output = nullptr) const;

    void shutdown(); // at exit
    QString logTail(int lines = 60) const;

private:
    PgCluster() = default;
    void init();

    QString m_root;
    QString m_bin;
    QString m_owner;
    int m_port = 0;
    bool m_started = false;
};

// The schema files shared with the demo: the kit's own tables, then the library's.
QString baseSchemaPath();
QString librarySchemaPath();

} // namespace v7::test
