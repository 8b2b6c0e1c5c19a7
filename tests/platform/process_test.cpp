#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace v7::process;

namespace {

TEST(ProcessRunner, OutcomesOfTinyPrograms) {
    struct Case {
        const char* name;
        Command cmd;
        bool started;
        int exitCode;
        int signal;
        bool timedOut;
        int status;
    };
    Command sleeper = Command::shellLine(QStringLiteral("sleep 5"));
    sleeper.timeoutMs = 200;
    Command missing;
    missing.program = QStringLiteral("v7-no-such-program");
    Command missingPath;
    missingPath.program = QStringLiteral("/nonexistent/tool");
    const Case cases[] = {
        {"exit 0", Command::shellLine(QStringLiteral("exit 0")), true, 0, 0, false, 0},
        {"exit 3", Command::shellLine(QStringLiteral("exit 3")), true, 3, 0, false, 3},
        {"kill -9", Command::shellLine(QStringLiteral("kill -9 $$")), true, -1, SIGKILL, false, 128 + SIGKILL},
        {"timeout", sleeper, true, -1, SIGKILL, true, 128 + SIGKILL},
        {"missing program", missing, false, -1, 0, false, -1},
        {"missing path", missingPath, false, -1, 0, false, -1},
    };
    for (const Case& c : cases) {
        QElapsedTimer t;
        t.start();
        const Result r = run(c.cmd);
        EXPECT_EQ(r.started, c.started) << c.name;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(r.signal, c.signal) << c.name;
        EXPECT_EQ(r.timedOut, c.timedOut) << c.name;
        EXPECT_EQ(r.status(), c.status) << c.name;
        EXPECT_EQ(r.ok(), c.status == 0) << c.name;
        EXPECT_LT(t.elapsed(), 3000) << c.name;
        if (!c.started) {
            EXPECT_EQ(r.startErrno, ENOENT) << c.name;
            EXPECT_FALSE(r.startError.isEmpty()) << c.name;
        }
    }
}

TEST(ProcessRunner, TimeoutEndsWhatTheScriptStarted) {
    v7::test::TempDir dir;
    const QString pidFile = dir.file(QStringLiteral("pid"));
    Command c = Command::shellLine(QStringLiteral("sleep 30 & echo $! > '") + pidFile + QStringLiteral("'; wait"));
    c.timeoutMs = 300;
    const Result r = run(c);
    ASSERT_TRUE(r.timedOut);
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t grandchild = f.readAll().trimmed().toInt();
    ASSERT_GT(grandchild, 0);
    // Killed with its group; it may linger briefly as a zombie of init.
    QElapsedTimer t;
    t.start();
    bool gone = false;
    while (!gone && t.elapsed() < 2000) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(grandchild));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    }
    EXPECT_TRUE(gone);
}

// Run by the test below in a program of its own: starts a long child and waits for it until killed.
TEST(ProcessRunner, HijoQueEspera) {
    const QByteArray archivo = qgetenv("V7_PID_HIJO");
    if (archivo.isEmpty()) {
        GTEST_SKIP() << "only as the other test's helper";
    }
    run(Command::shellLine(QStringLiteral("echo $$ > '") + QString::fromLocal8Bit(archivo) +
                           QStringLiteral("'; exec sleep 60")));
}

// The out-of-memory killer or kill -9 runs no clean-up of ours: the child must still not outlive us.
TEST(ProcessRunner, ChildDiesWhenTheProgramIsKilled) {
    v7::test::TempDir dir;
    const QString pidFile = dir.file(QStringLiteral("pid"));
    qputenv("V7_PID_HIJO", QFile::encodeName(pidFile));
    const pid_t programa = ::fork();
    ASSERT_GE(programa, 0);
    if (programa == 0) {
        ::execl("/proc/self/exe", "process_test", "--gtest_filter=ProcessRunner.HijoQueEspera", nullptr);
        ::_exit(127);
    }
    qunsetenv("V7_PID_HIJO");
    QElapsedTimer t;
    t.start();
    pid_t hijo = 0;
    while (hijo <= 0 && t.elapsed() < 10000) {
        QFile f(pidFile);
        if (f.open(QIODevice::ReadOnly)) {
            hijo = f.readAll().trimmed().toInt();
        }
        ::usleep(10000);
    }
    ASSERT_GT(hijo, 0);
    ::kill(programa, SIGKILL);
    int st = 0;
    ::waitpid(programa, &st, 0);
    t.restart();
    bool gone = false;
    while (!gone && t.elapsed() < 2000) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(hijo));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        ::usleep(10000);
    }
    EXPECT_TRUE(gone) << "the child outlived its killed parent";
}

TEST(ProcessRunner, StreamsEnvironmentAndStdin) {
    v7::test::TempDir dir;
    // stdin is /dev/null: read gets end of file at once instead of waiting.
    Command c = Command::shellLine(QStringLiteral("read x; echo \"[$x]\"; echo \"$V7_A|$LC_ALL\"; echo err >&2; pwd"));
    c.environment.insert(QStringLiteral("V7_A"), QStringLiteral("a b'c"));
    c.cLocale = true;
    c.workingFolder = dir.path();
    c.out = Sink::Capture;
    c.err = Sink::Capture;
    c.timeoutMs = 5000;
    Result r = run(c);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.output, QByteArray("[]\na b'c|C\n") + QFile::encodeName(dir.path()).chopped(1) + "\n");
    EXPECT_EQ(r.errorOutput, QByteArray("err\n"));

    // Both streams into one file, then appended to.
    c.out = Sink::File;
    c.err = Sink::Stdout;
    c.outFile = dir.file(QStringLiteral("out.txt"));
    r = run(c);
    ASSERT_TRUE(r.ok());
    c.append = true;
    c.arguments = QStringList{QStringLiteral("-c"), QStringLiteral("echo more")};
    ASSERT_TRUE(run(c).ok());
    QFile f(c.outFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    EXPECT_TRUE(all.startsWith("[]\na b'c|C\n")) << all.constData();
    EXPECT_TRUE(all.contains("err\n"));
    EXPECT_TRUE(all.endsWith("more\n"));
    EXPECT_EQ(QFile::permissions(c.outFile) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    // An output file that cannot be opened, or a link at its name: nothing starts, nothing is written.
    c.outFile = dir.file(QStringLiteral("missing/out.txt"));
    r = run(c);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startErrno, ENOENT);
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("out.txt")), dir.file(QStringLiteral("link.txt"))));
    c.outFile = dir.file(QStringLiteral("link.txt"));
    r = run(c);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startErrno, ELOOP);
    EXPECT_TRUE(all == [&] {
        QFile g(dir.file(QStringLiteral("out.txt")));
        return g.open(QIODevice::ReadOnly) ? g.readAll() : QByteArray();
    }());

    // Given input reaches stdin whole, binary bytes included.
    Command lee = Command::shellLine(QStringLiteral("cat"));
    lee.entrada = QByteArray("uno\n\0dos\n", 9);
    lee.out = Sink::Capture;
    r = run(lee);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.output, *lee.entrada);
}

// Removing a folder never reaches through a link: links met on the way go, their targets stay.
TEST(Paths, RemovalNeverFollowsLinks) {
    v7::test::TempDir dir;
    const QString victima = dir.file(QStringLiteral("victima"));
    QDir().mkpath(victima + QStringLiteral("/sub"));
    QFile f(victima + QStringLiteral("/sub/dato.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();
    const QString arbol = dir.file(QStringLiteral("r20240101"));
    QDir().mkpath(arbol + QStringLiteral("/a/b"));
    ASSERT_TRUE(QFile::link(victima, arbol + QStringLiteral("/enlace-carpeta")));
    ASSERT_TRUE(QFile::link(victima + QStringLiteral("/sub/dato.txt"), arbol + QStringLiteral("/a/b/enlace-archivo")));
    ASSERT_TRUE(QFile::link(victima, dir.file(QStringLiteral("enlace-raiz"))));

    for (const QString& ruta : {arbol, dir.file(QStringLiteral("enlace-raiz")), dir.file(QStringLiteral("nada"))}) {
        int e = -1;
        EXPECT_TRUE(v7::paths::borrarSinSeguirEnlaces(ruta, &e)) << ruta.toStdString() << " " << e;
        EXPECT_FALSE(QFileInfo::exists(ruta) || QFileInfo(ruta).isSymLink()) << ruta.toStdString();
    }
    EXPECT_TRUE(QFile::exists(victima + QStringLiteral("/sub/dato.txt")));

    // A new file replaces a link at its name instead of writing through it.
    const QString enlace = dir.file(QStringLiteral("salida.txt"));
    ASSERT_TRUE(QFile::link(victima + QStringLiteral("/sub/dato.txt"), enlace));
    const int fd = v7::paths::crearArchivoNuevo(enlace);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(QFileInfo(enlace).isSymLink());
    EXPECT_EQ(QFileInfo(enlace).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QFile g(victima + QStringLiteral("/sub/dato.txt"));
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), QByteArray("keep"));
}

TEST(ProcessRunner, WaitKeepsTimersFiringAndNestedWaitsApart) {
    int ticks = 0;
    Result inner;
    bool innerRan = false;
    qint64 innerMs = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (!innerRan) {
            innerRan = true;
            // A handler that waits for its own child inside the outer wait.
            QElapsedTimer inside;
            inside.start();
            inner = run(Command::shellLine(QStringLiteral("sleep 0.1; exit 5")));
            innerMs = inside.elapsed();
        }
    });
    QElapsedTimer clock;
    clock.start();
    timer.start();
    const Result outer = run(Command::shellLine(QStringLiteral("sleep 0.4; exit 7")));
    const qint64 outerMs = clock.elapsed();
    timer.stop();
    EXPECT_EQ(outer.exitCode, 7);
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(inner.exitCode, 5);
    // Ticks in proportion to the time the timer could fire: not while its own handler waited, nor before its
    // first interval. An idle machine gives one each 20 ms; a busy one delays them, so one each 100 ms is asked
    // (a wait that blocked would give none at all).
    const qint64 free = qMax<qint64>(0, outerMs - innerMs - 20);
    EXPECT_GE(ticks, 1 + free / 100) << outerMs << " ms in all, " << innerMs << " ms in the inner wait";
}

TEST(ProcessRunner, RunsAsAnotherUserOnlyFromRoot) {
    Command c = Command::shellLine(QStringLiteral("id -un"));
    EXPECT_EQ(asUser(c, QStringLiteral("root")).program, c.program);
    EXPECT_EQ(asUser(c, QString()).program, c.program);
    if (::geteuid() != 0 || ownerOf(QStringLiteral("/")) != QLatin1String("root")) {
        GTEST_SKIP() << "needs root";
    }
    Command as = asUser(c, QStringLiteral("nobody"));
    as.out = Sink::Capture;
    as.environment.insert(QStringLiteral("V7_B"), QStringLiteral("kept"));
    as.arguments.last() = QStringLiteral("echo \"$(id -un) $V7_B\"");
    as.workingFolder = QStringLiteral("/");
    const Result r = run(as);
    ASSERT_TRUE(r.ok()) << r.status();
    EXPECT_EQ(r.output, QByteArray("nobody kept\n"));
}

TEST(ProcessRunner, ShellQuoteKeepsAnyValueOneWord) {
    v7::test::TempDir dir;
    const QString values[] = {QString(),
                              QStringLiteral("a b"),
                              QStringLiteral("it's"),
                              QStringLiteral("$(touch x);`y` \"z\"\\"),
                              QStringLiteral("ñandú\nsegunda"),
                              QStringLiteral("''")};
    for (const QString& v : values) {
        Command c = Command::shellLine(QStringLiteral("printf %s ") + shellQuote(v));
        c.out = Sink::Capture;
        c.workingFolder = dir.path();
        const Result r = run(c);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(QString::fromUtf8(r.output), v);
    }
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("x"))));
}

} // namespace
