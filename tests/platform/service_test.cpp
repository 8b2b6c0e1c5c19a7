#include "platform/archivo_seguro.h"
#include "platform/paths.h"
#include "platform/service.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/escuchas.h"
#include "tests/support/instalacion_falsa.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include <atomic>
#include <ctime>
#include <new>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

// The data folder is its owner's to change. While the start makes pg_log and hands it to that owner, the
// owner swaps the new folder for a link to a root-only folder as fast as it can, over and over, while the
// start runs many times: the folder the link points to never changes owner.
TEST_F(ServiceControl, PgLogSwappedForALinkWhileTheStartMakesItIsNeverHandedOver) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, as the start runs";
    }
    test::InstalacionFalsa inst;
    ASSERT_TRUE(inst.ok());
    const QByteArray pgLog = QFile::encodeName(inst.datos() + QStringLiteral("/pg_log"));
    const QByteArray victima = QFile::encodeName(inst.victima());
    void* compartida =
        ::mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(compartida, MAP_FAILED);
    auto* cambios = new (compartida) std::atomic<long>(0);
    const uid_t uid = inst.duenoUid();
    const gid_t gid = inst.duenoGid();
    const pid_t intruso = ::fork();
    ASSERT_GE(intruso, 0);
    if (intruso == 0) {
        // Only system calls from here on. It ends by itself if nobody stops it.
        if (::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(1);
        }
        timespec inicio{};
        ::clock_gettime(CLOCK_MONOTONIC, &inicio);
        for (;;) {
            if (::rmdir(pgLog.constData()) == 0 && ::symlink(victima.constData(), pgLog.constData()) == 0) {
                cambios->fetch_add(1);
                // The link stands a moment, then goes so that the next start makes the folder again.
                const timespec momento{0, 20000}; // 20 µs
                ::nanosleep(&momento, nullptr);
                ::unlink(pgLog.constData());
            }
            timespec ahora{};
            ::clock_gettime(CLOCK_MONOTONIC, &ahora);
            if (ahora.tv_sec - inicio.tv_sec > 60) {
                ::_exit(0);
            }
        }
    }
    // The start itself, then the routine it makes the folder with, in a tight loop (a start costs three runs
    // of pg_ctl; the race is won, if at all, in a few microseconds).
    int arranques = 0;
    int vueltas = 0;
    QElapsedTimer reloj;
    reloj.start();
    while ((reloj.elapsed() < 1500 || arranques < 20) && arranques < 200 && test::duenoDe(inst.victima()) == 0) {
        const service::Result r = service::start(inst.carpeta());
        ++arranques;
        if (r.outcome != Outcome::Failed) {
            ADD_FAILURE() << r.message.toStdString();
            break;
        }
    }
    const archivo::Carpeta datos = archivo::Carpeta::abrir(inst.datos());
    EXPECT_TRUE(datos.ok()) << datos.motivo().toStdString();
    while (datos.ok() && (reloj.elapsed() < 3000 || vueltas < 500) && vueltas < 1000000 &&
           test::duenoDe(inst.victima()) == 0) {
        (void)datos.crearSubcarpeta(QStringLiteral("pg_log"), 0700, uid, gid);
        ::unlinkat(datos.fd(), "pg_log", AT_REMOVEDIR);
        ++vueltas;
    }
    ::kill(intruso, SIGKILL);
    ::waitpid(intruso, nullptr, 0);
    const long hechos = cambios->load();
    ::munmap(compartida, sizeof(std::atomic<long>));

    EXPECT_EQ(test::duenoDe(inst.victima()), 0u) << "after " << arranques << " starts and " << vueltas << " folders";
    EXPECT_EQ(test::duenoDe(inst.secreto()), 0u);
    EXPECT_GT(hechos, 0) << "the swap never happened";
    std::cout << arranques << " starts and " << vueltas << " folders made, " << hechos << " swaps\n";
}

// A failed start brings the newest log of pg_log only when pg_log is a real folder of the data folder's owner
// (or root) and that log is a regular file of the owner; else the start says why and nothing of it is read.
TEST_F(ServiceControl, AFailedStartReadsNoLogBehindALinkNorOfAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to plant files of several users";
    }
    test::InstalacionFalsa inst;
    ASSERT_TRUE(inst.ok());
    const QString pgLog = inst.datos() + QStringLiteral("/pg_log");
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QString duenoNombre = PgCluster::instance().osOwner();
    struct Caso {
        const char* nombre;
        std::function<bool()> plantar;
        QString motivo; // empty: the tail is shown
    };
    auto carpetaDelDueno = [&] {
        return QDir().mkdir(pgLog) &&
               ::chown(QFile::encodeName(pgLog).constData(), inst.duenoUid(), inst.duenoGid()) == 0;
    };
    const Caso casos[] = {
        {"pg_log a link to a root-only folder", [&] { return QFile::link(inst.victima(), pgLog); },
         QStringLiteral("/pg_log es un enlace simbólico en una carpeta que otro usuario puede cambiar")},
        {"a root-only file hard-linked into pg_log",
         [&] {
             return carpetaDelDueno() &&
                    ::link(
                        QFile::encodeName(inst.secreto()).constData(),
                        QFile::encodeName(pgLog + QStringLiteral("/postgresql-2026-01-01_000000.log")).constData()) ==
                        0;
         },
         QStringLiteral("pertenece al usuario \"root\" y no a \"") + duenoNombre + QLatin1Char('"')},
        {"the newest log a link",
         [&] { return carpetaDelDueno() && QFile::link(inst.secreto(), pgLog + QStringLiteral("/postgresql.log")); },
         QStringLiteral("es un enlace simbólico; por seguridad no se sigue")},
        {"pg_log of another user",
         [&] {
             return QDir().mkdir(pgLog) &&
                    ::chown(QFile::encodeName(pgLog).constData(), nobody->pw_uid, nobody->pw_gid) == 0 &&
                    inst.delDueno(pgLog + QStringLiteral("/postgresql.log"), "SECRETO de otro\n");
         },
         QStringLiteral("pertenece al usuario \"nobody\"")},
        {"the owner's own log",
         [&] { return carpetaDelDueno() && inst.delDueno(pgLog + QStringLiteral("/postgresql.log"), "FATAL: x\n"); },
         QString()},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        ASSERT_TRUE(paths::borrarSinSeguirEnlaces(pgLog));
        ASSERT_TRUE(c.plantar());
        const service::Result r = service::start(inst.carpeta());
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_FALSE(r.logTail.contains(QStringLiteral("SECRETO")));
        if (c.motivo.isEmpty()) {
            EXPECT_EQ(r.logTail, QStringLiteral("FATAL: x"));
            EXPECT_TRUE(r.logRefused.isEmpty()) << r.logRefused.toStdString();
        } else {
            EXPECT_TRUE(r.logTail.isEmpty());
            EXPECT_TRUE(r.logRefused.contains(c.motivo)) << r.logRefused.toStdString();
        }
        EXPECT_EQ(test::duenoDe(inst.victima()), 0u);
        EXPECT_EQ(test::duenoDe(inst.secreto()), 0u);
        EXPECT_EQ(test::InstalacionFalsa::leer(inst.secreto()), QByteArray("SECRETO-DE-ROOT\n"));
    }
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
