#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QVector>

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

// The process and every descendant of it, read from /proc (parents before their children).
QVector<pid_t> arbol(pid_t raiz) {
    QMultiHash<pid_t, pid_t> hijos;
    for (const QString& p : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (!f.open(QIODevice::ReadOnly)) {
            continue;
        }
        // pid (comm) state ppid ...: the name may hold spaces and parentheses, so read after the last ")".
        const QByteArray st = f.readAll();
        const QList<QByteArray> campos = st.mid(st.lastIndexOf(')') + 2).split(' ');
        if (campos.size() > 1) {
            hijos.insert(campos[1].toInt(), p.toInt());
        }
    }
    QVector<pid_t> todos{raiz};
    for (int i = 0; i < todos.size(); ++i) {
        todos += hijos.values(todos[i]).toVector();
    }
    return todos;
}

// Alive and not a zombie waiting for its parent.
bool vivo(pid_t pid) {
    QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray st = f.readAll();
    return st.mid(st.lastIndexOf(')') + 2, 1) != "Z";
}

// A test stopped at its time limit runs no clean-up: CTest stops and then kills the test program and every
// descendant of it. Its cluster must still not outlive it.
TEST(PgClusterFixture, ClusterStopsWhenItsProgramIsKilledWithItsProcessTree) {
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
    const QString raiz = QFileInfo(data).path();
    QFile pidFile(data + QStringLiteral("/postmaster.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t postmaster = QString::fromLatin1(pidFile.readLine()).trimmed().toInt();
    ASSERT_GT(postmaster, 0);
    ASSERT_TRUE(vivo(postmaster));

    // As CTest ends a test at its time limit: the whole tree stopped, then killed.
    const QVector<pid_t> todos = arbol(programa);
    for (const pid_t p : todos) {
        ::kill(p, SIGSTOP);
    }
    for (const pid_t p : todos) {
        ::kill(p, SIGKILL);
    }
    int st = 0;
    ::waitpid(programa, &st, 0);
    t.restart();
    while ((vivo(postmaster) || QDir(raiz).exists()) && t.elapsed() < 30000) {
        ::usleep(50000);
    }
    EXPECT_FALSE(vivo(postmaster)) << "the server of a killed test still runs";
    EXPECT_FALSE(QDir(raiz).exists()) << raiz.toStdString();
}

} // namespace
