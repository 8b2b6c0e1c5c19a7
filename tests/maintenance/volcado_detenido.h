// A backup caught in the middle of its dump: another session holds a table that every dump reads, so
// pg_dump waits on the server until the lock goes. Used to stop or time out a backup while its tools run.
#pragma once

#include "platform/events.h"
#include "tests/support/pg_cluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

namespace v7::test {

class VolcadoDetenido {
public:
    VolcadoDetenido() {
        auto& c = PgCluster::instance();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), c.password());
        env.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("v7-cerrojo"));
        m_psql.setProcessEnvironment(env);
        m_psql.start(
            c.binFolder() + QStringLiteral("/psql"),
            {QStringLiteral("-h"), c.host(), QStringLiteral("-p"), QString::number(c.port()), QStringLiteral("-U"),
             c.superuser(), QStringLiteral("-d"), QStringLiteral("veliro7"), QStringLiteral("-c"),
             QStringLiteral("LOCK TABLE catalogos.analistas IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(600);")});
        EXPECT_TRUE(esperar(QStringLiteral("SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a USING (pid) "
                                           "WHERE a.application_name = 'v7-cerrojo' AND l.granted AND "
                                           "l.mode = 'AccessExclusiveLock'")))
            << "the lock was not taken";
    }
    ~VolcadoDetenido() { liberar(); }
    VolcadoDetenido(const VolcadoDetenido&) = delete;
    VolcadoDetenido& operator=(const VolcadoDetenido&) = delete;

    // The backend pid of a pg_dump that waits on the lock; 0 when none came in time.
    int esperarVolcado() {
        const QString sql = QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = 'pg_dump' AND "
                                           "wait_event_type = 'Lock' LIMIT 1");
        return esperar(sql) ? PgCluster::instance().scalar(sql).toInt() : 0;
    }

    void liberar() {
        if (m_psql.state() == QProcess::NotRunning) {
            return;
        }
        PgCluster::instance().psql(QStringLiteral(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'v7-cerrojo'"));
        m_psql.waitForFinished(10000);
    }

private:
    // Polls a count or pid query until it gives something other than 0 or nothing (30 s at most).
    static bool esperar(const QString& sql) {
        QElapsedTimer reloj;
        reloj.start();
        while (reloj.elapsed() < 30000) {
            const QString v = PgCluster::instance().scalar(sql);
            if (!v.isEmpty() && v != QLatin1String("0")) {
                return true;
            }
            events::pause(50);
        }
        return false;
    }

    QProcess m_psql;
};

// The live processes whose command line holds texto (the test's own excluded).
inline QStringList procesosCon(const QString& texto) {
    QStringList encontrados;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numero = false;
        pid.toInt(&numero);
        if (!numero || pid.toLongLong() == QCoreApplication::applicationPid()) {
            continue;
        }
        QFile f(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (!f.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray linea = f.readAll().replace('\0', ' ');
        QFile estado(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        const bool zombi = estado.open(QIODevice::ReadOnly) && estado.readAll().contains(") Z ");
        if (!zombi && linea.contains(texto.toUtf8())) {
            encontrados << pid + QLatin1Char(' ') + QString::fromUtf8(linea);
        }
    }
    return encontrados;
}

// The parent process of pid (0 when it cannot be told).
inline qint64 padreDe(qint64 pid) {
    QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray linea = f.readAll();
    // After the command's closing parenthesis: the state, then the parent's pid.
    return linea.mid(linea.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

} // namespace v7::test
