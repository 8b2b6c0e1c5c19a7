#include "platform/service.h"
#include "tests/support/escuchas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace v7;
using v7::service::Outcome;
using v7::test::PgCluster;

namespace {

QString firstLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return QStringLiteral("<missing>");
    }
    return QString::fromLocal8Bit(f.readLine()).trimmed();
}

// Spanish messages from pg_ctl unless the layer runs it in the C locale.
class SpanishEnvironment {
public:
    SpanishEnvironment() : m_lcAll(qgetenv("LC_ALL")), m_language(qgetenv("LANGUAGE")) {
        qputenv("LC_ALL", "C.UTF-8");
        qputenv("LANGUAGE", "es");
    }
    ~SpanishEnvironment() {
        qputenv("LC_ALL", m_lcAll);
        qputenv("LANGUAGE", m_language);
    }

private:
    QByteArray m_lcAll, m_language;
};

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            ASSERT_TRUE(c.start()) << c.logTail().toStdString();
        }
    }
    void TearDown() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            c.start();
        }
    }
    QString folder() const { return PgCluster::instance().installFolder(); }
};

TEST_F(ServiceControl, StopStartReloadAndStatusFollowTheServer) {
    auto& cluster = PgCluster::instance();
    SpanishEnvironment spanish;
    test::TempDir tmp;
    const QString out = tmp.file(QStringLiteral("v7.reload.txt"));

    service::Result r = service::status(folder());
    EXPECT_EQ(r.outcome, Outcome::Done) << r.message.toStdString();
    EXPECT_TRUE(r.running);

    // Running: the reload's standard output starts with the text the console looks for.
    r = service::reload(folder(), out);
    EXPECT_EQ(r.outcome, Outcome::Done) << r.message.toStdString();
    EXPECT_EQ(firstLine(out).toStdString(), "server signaled");
    EXPECT_EQ(QFile(out).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    r = service::start(folder());
    EXPECT_EQ(r.outcome, Outcome::AlreadyThere);
    EXPECT_TRUE(r.running);

    // Events keep running while the layer waits for pg_ctl.
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    r = service::stop(folder());
    timer.stop();
    EXPECT_EQ(r.outcome, Outcome::Done) << r.message.toStdString() << r.output.toStdString();
    EXPECT_FALSE(r.running);
    EXPECT_FALSE(cluster.isRunning());
    EXPECT_GT(ticks, 0);

    r = service::status(folder());
    EXPECT_EQ(r.outcome, Outcome::Done);
    EXPECT_FALSE(r.running);

    r = service::stop(folder());
    EXPECT_EQ(r.outcome, Outcome::AlreadyThere);

    // Stopped: nothing on standard output (the complaint goes to stderr), as the console expects.
    r = service::reload(folder(), out);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_FALSE(r.running);
    EXPECT_TRUE(QFileInfo::exists(out));
    EXPECT_EQ(QFileInfo(out).size(), 0);
    EXPECT_TRUE(r.output.contains(QStringLiteral("Is server running?"))) << r.output.toStdString();
    EXPECT_FALSE(r.message.isEmpty());

    r = service::start(folder());
    ASSERT_EQ(r.outcome, Outcome::Done) << r.message.toStdString() << cluster.logTail().toStdString();
    EXPECT_TRUE(r.running);
    EXPECT_TRUE(cluster.isRunning());
    EXPECT_EQ(cluster.scalar(QStringLiteral("SELECT 41 + 1;")), QStringLiteral("42"));
    EXPECT_TRUE(QFileInfo::exists(cluster.dataFolder() + QStringLiteral("/pg_log/startup.log")));
    // The server runs as the data folder's owner, never as root.
    const QString pid = firstLine(cluster.dataFolder() + QStringLiteral("/postmaster.pid"));
    QFileInfo proc(QStringLiteral("/proc/") + pid);
    EXPECT_EQ(proc.owner(), cluster.osOwner());
}

// pg_ctl only says that the start failed; the server's own reason comes from the tail of its log.
TEST_F(ServiceControl, AFailedStartBringsTheServerLogsReason) {
    auto& cluster = PgCluster::instance();
    ASSERT_TRUE(cluster.stop());
    service::Result r;
    {
        test::EscuchaMuda ocupado(cluster.port());
        r = service::start(folder());
    }
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_FALSE(r.running);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.output.contains(QStringLiteral("could not start server"))) << r.output.toStdString();
    EXPECT_TRUE(r.message.contains(r.output.trimmed()));
    EXPECT_TRUE(r.logFile.startsWith(cluster.dataFolder() + QStringLiteral("/pg_log/"))) << r.logFile.toStdString();
    EXPECT_TRUE(r.logTail.contains(QStringLiteral("Address already in use"))) << r.logTail.toStdString();
    EXPECT_LE(r.logTail.count(QLatin1Char('\n')), 12);
}

TEST_F(ServiceControl, NetCommandsRouteTheServiceNamesToTheInstallation) {
    auto& cluster = PgCluster::instance();

    struct Case {
        const char* line;
        bool handled;
        Outcome outcome;
        bool runningAfter;
    };
    const Case cases[] = {
        {"net stop postgresql-x64-9.0", true, Outcome::Done, false},
        {"NET STOP \"postgresql-9.0\"", true, Outcome::AlreadyThere, false},
        {"net start otro-servicio", true, Outcome::UnknownService, false},
        {"  net   start   Postgresql-X64-9.0  ", true, Outcome::Done, true},
        {"net start postgresql-9.0", true, Outcome::AlreadyThere, true},
        {"netstart postgresql-9.0", false, Outcome::Failed, true},
        {"pg_ctl reload", false, Outcome::Failed, true},
        {"net stop", false, Outcome::Failed, true},
    };
    for (const Case& c : cases) {
        const std::optional<service::Result> r = service::runNetCommand(QString::fromUtf8(c.line), folder());
        ASSERT_EQ(r.has_value(), c.handled) << c.line;
        if (r) {
            EXPECT_EQ(r->outcome, c.outcome) << c.line << ": " << r->message.toStdString();
            EXPECT_EQ(r->refused(), c.outcome == Outcome::UnknownService) << c.line;
        }
        EXPECT_EQ(cluster.isRunning(), c.runningAfter) << c.line;
    }
}

TEST_F(ServiceControl, MissingInstallationIsRefusedWithoutRunningAnything) {
    test::TempDir tmp;
    QDir(tmp.path()).mkpath(QStringLiteral("vacia/data"));
    QDir(tmp.path()).mkpath(QStringLiteral("sinpgctl/data"));
    QFile v(tmp.file(QStringLiteral("sinpgctl/data/PG_VERSION")));
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("15\n");
    v.close();
    const QString out = tmp.file(QStringLiteral("salida.txt"));

    const QString folders[] = {QString(), tmp.file(QStringLiteral("no-existe/")), tmp.path(),
                               tmp.file(QStringLiteral("vacia")), tmp.file(QStringLiteral("sinpgctl/"))};
    for (const QString& f : folders) {
        for (const service::Result& r :
             {service::start(f), service::stop(f), service::status(f), service::reload(f, out)}) {
            EXPECT_EQ(r.outcome, Outcome::NoInstallation) << f.toStdString();
            EXPECT_TRUE(r.refused());
            EXPECT_EQ(r.exitCode, -1);
            EXPECT_TRUE(r.message.contains(QStringLiteral("Verifique la instalación"))) << r.message.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(out));
}

// A user that is neither root nor the owner of the data folder gets the message and nothing runs, whether
// the folder is hidden from it (the test cluster) or only not its own.
TEST_F(ServiceControl, OtherUsersAreRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as a third user";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t nobodyUid = nobody->pw_uid;
    const gid_t nobodyGid = nobody->pw_gid;
    test::TempDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("inst/data")));
    QFile::link(PgCluster::instance().binFolder(), tmp.file(QStringLiteral("inst/bin")));
    QFile v(tmp.file(QStringLiteral("inst/data/PG_VERSION")));
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.close();
    const QString owner = PgCluster::instance().osOwner();
    ASSERT_EQ(::chown(QFile::encodeName(tmp.file(QStringLiteral("inst/data"))).constData(),
                      ::getpwnam(owner.toLocal8Bit().constData())->pw_uid, 0),
              0);
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                          QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);

    const QString hidden = folder();
    const QString visible = tmp.file(QStringLiteral("inst/"));
    int pipeFd[2];
    ASSERT_EQ(::pipe(pipeFd), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFd[0]);
        char codes[2] = {100, 100};
        if (::setgid(nobodyGid) == 0 && ::setuid(nobodyUid) == 0) {
            const service::Result a = service::stop(hidden);
            codes[0] = char(int(a.outcome) * 10 + (a.message.startsWith(QStringLiteral("Solo root o ")) ? 1 : 0));
            const service::Result b = service::start(visible);
            codes[1] =
                char(int(b.outcome) * 10 +
                     (b.message.contains(QStringLiteral("el usuario \"") + owner + QStringLiteral("\"")) ? 1 : 0));
        }
        (void)!::write(pipeFd[1], codes, 2);
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    char codes[2] = {0, 0};
    ASSERT_EQ(::read(pipeFd[0], codes, 2), 2);
    ::close(pipeFd[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(int(codes[0]), int(Outcome::NotPermitted) * 10 + 1);
    EXPECT_EQ(int(codes[1]), int(Outcome::NotPermitted) * 10 + 1);
    EXPECT_TRUE(PgCluster::instance().isRunning());
}

} // namespace
