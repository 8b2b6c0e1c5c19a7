#include "platform/process.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

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

    // An output file that cannot be opened: nothing starts.
    c.outFile = dir.file(QStringLiteral("missing/out.txt"));
    r = run(c);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startErrno, ENOENT);
}

TEST(ProcessRunner, WaitKeepsTimersFiringAndNestedWaitsApart) {
    int ticks = 0;
    Result inner;
    bool innerRan = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (!innerRan) {
            innerRan = true;
            // A handler that waits for its own child inside the outer wait.
            inner = run(Command::shellLine(QStringLiteral("sleep 0.1; exit 5")));
        }
    });
    timer.start();
    const Result outer = run(Command::shellLine(QStringLiteral("sleep 0.4; exit 7")));
    timer.stop();
    EXPECT_EQ(outer.exitCode, 7);
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(inner.exitCode, 5);
    EXPECT_GE(ticks, 8);
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
