#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Run by the test below as a program of its own: starts its cluster, says where, and waits to be killed.
TEST(PgClusterFixture, ProgramaQueMuere) {
    const QByteArray aviso = qgetenv("V7_AVISO_CLUSTER");
    if (aviso.isEmpty()) {
        GTEST_SKIP() << "only as the other test's helper";
    }
    const QString data = v7::test::PgCluster::instance().dataFolder();
    QFile f(QString::fromLocal8Bit(aviso));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QFile::encodeName(data));
    f.close();
    ::sleep(120);
}

// A test killed at its time limit runs no clean-up: its cluster must still not outlive it.
TEST(PgClusterFixture, ClusterStopsWhenItsProgramIsKilled) {
    v7::test::TempDir dir;
    const QString aviso = dir.file(QStringLiteral("data"));
    qputenv("V7_AVISO_CLUSTER", QFile::encodeName(aviso));
    const pid_t programa = ::fork();
    ASSERT_GE(programa, 0);
    if (programa == 0) {
        ::execl("/proc/self/exe", "pg_cluster_test", "--gtest_filter=PgClusterFixture.ProgramaQueMuere", nullptr);
        ::_exit(127);
    }
    qunsetenv("V7_AVISO_CLUSTER");
    QElapsedTimer t;
    t.start();
    QString data;
    while (data.isEmpty() && t.elapsed() < 60000) {
        QFile f(aviso);
        if (f.open(QIODevice::ReadOnly)) {
            data = QString::fromLocal8Bit(f.readAll());
        }
        ::usleep(50000);
    }
    ASSERT_FALSE(data.isEmpty());
    QFile pidFile(data + QStringLiteral("/postmaster.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t postmaster = QString::fromLatin1(pidFile.readLine()).trimmed().toInt();
    ASSERT_GT(postmaster, 0);
    ASSERT_EQ(::kill(postmaster, 0), 0);

    ::kill(programa, SIGKILL);
    int st = 0;
    ::waitpid(programa, &st, 0);
    t.restart();
    while ((::kill(postmaster, 0) == 0 || QDir(data).exists()) && t.elapsed() < 30000) {
        ::usleep(50000);
    }
    EXPECT_NE(::kill(postmaster, 0), 0) << "the server of a killed test still runs";
    EXPECT_FALSE(QDir(data).exists());
}

} // namespace
