#include "tests/support/pg_cluster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

namespace v7::test {

namespace {

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
        socklen_t len = sizeof(a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "test cluster: %s\n", qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

// A watcher that outlives this test program: it holds the read end of a pipe whose write end only this
// program holds, so it reads end of file once the program is gone, however it ended, and then stops the
// cluster and removes its folder. CTest's time limit stops and kills the test's whole process tree (every
// descendant, whatever its process group) and runs no atexit handler: so the watcher is a grandchild whose
// parent exits at once, which leaves it an orphan of init, out of that tree.
void vigilarCluster(const QString& root, const QString& data, const QString& bin, const QString& owner) {
    const bool conservar = !qEnvironmentVariableIsEmpty("V7_KEEP_CLUSTER");
    const QString pgctl = bin + QStringLiteral("/pg_ctl stop -w -t 30 -m immediate -D '") + data + QStringLiteral("'");
    QString guion = QStringLiteral("if [ -d '") + data + QStringLiteral("' ]; then ");
    guion += geteuid() == 0 ? QStringLiteral("runuser -u ") + owner + QStringLiteral(" -- ") + pgctl : pgctl;
    guion += QStringLiteral(" >/dev/null 2>&1; fi");
    if (!conservar) {
        guion += QStringLiteral("; rm -rf '") + root + QStringLiteral("'");
    }
    const QByteArray comando = guion.toLocal8Bit();
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        return;
    }
    const pid_t p = ::fork();
    if (p == 0) {
        if (::fork() != 0) {
            ::_exit(0); // the watcher's parent goes at once: the watcher is reparented
        }
        ::setsid(); // and out of the test's process group and session
        // Nothing else of the test program is held open meanwhile (its output pipes neither, which the test's
        // runner reads to their end): only the pipe's read end, as fd 3.
        if (tubo[0] != 3) {
            ::dup2(tubo[0], 3);
        }
        ::close_range(4, ~0U, 0);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        if (devnull > 3) {
            ::close(devnull);
        }
        char b = 0;
        for (;;) {
            const ssize_t n = ::read(3, &b, 1);
            if (n == 0 || (n < 0 && errno != EINTR)) {
                break;
            }
        }
        ::execl("/bin/sh", "sh", "-c", comando.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(tubo[0]);
    if (p > 0) {
        int estado = 0;
        while (::waitpid(p, &estado, 0) < 0 && errno == EINTR) {
        }
    }
    // The write end stays open, unread, for as long as this program lives.
}

void chownTree(const QString& path, const QString& owner) {
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), owner, path});
}

} // namespace

QString baseSchemaPath() {
    return QStringLiteral(V7_SOURCE_DIR "/schema/veliro7_base.sql");
}
QString librarySchemaPath() {
    return QStringLiteral(V7_SOURCE_DIR "/schema/veliro7_biblioteca.sql");
}

PgCluster& PgCluster::instance() {
    static PgCluster* c = [] {
        auto* p = new PgCluster();
        p->init();
        std::atexit([] { PgCluster::instance().shutdown(); });
        return p;
    }();
    return *c;
}

int PgCluster::runAsOwner(const QString& program, const QStringList& args, QString* output) const {
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    proc.setProcessEnvironment(env);
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setWorkingDirectory(QStringLiteral("/"));
    const QString exe = program.contains(QLatin1Char('/')) ? program : m_bin + QLatin1Char('/') + program;
    if (geteuid() == 0) {
        proc.start(QStringLiteral("runuser"),
                   QStringList{QStringLiteral("-u"), m_owner, QStringLiteral("--"), exe} + args);
    } else {
        proc.start(exe, args);
    }
    if (!proc.waitForFinished(120000)) {
        proc.kill();
        proc.waitForFinished();
        return -1;
    }
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(proc.readAll());
    }
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

void PgCluster::init() {
    m_bin = QStringLiteral(V7_PG_BINDIR);
    if (!QFileInfo::exists(m_bin + QStringLiteral("/initdb"))) {
        fail(QStringLiteral("no initdb in ") + m_bin);
    }
    m_owner = geteuid() == 0 ? QStringLiteral("postgres") : QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
    QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/v7pg-XXXXXX"));
    tmp.setAutoRemove(false);
    if (!tmp.isValid()) {
        fail(QStringLiteral("no temporary folder"));
    }
    m_root = tmp.path();
    QFile::link(m_bin, m_root + QStringLiteral("/bin"));
    {
        QFile pw(m_root + QStringLiteral("/pwfile"));
        pw.open(QIODevice::WriteOnly);
        pw.write(password().toUtf8() + "\n");
    }
    QFile::setPermissions(m_root + QStringLiteral("/pwfile"), QFile::ReadOwner | QFile::WriteOwner);
    if (geteuid() == 0) {
        chownTree(m_root, m_owner);
    }
    QString out;
    int rc = runAsOwner(QStringLiteral("initdb"),
                        {QStringLiteral("-D"), dataFolder(), QStringLiteral("-U"), superuser(), QStringLiteral("-A"),
                         QStringLiteral("scram-sha-256"),
                         QStringLiteral("--pwfile=") + m_root + QStringLiteral("/pwfile"), QStringLiteral("-E"),
                         QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
                        &out);
    QFile::remove(m_root + QStringLiteral("/pwfile"));
    if (rc != 0) {
        fail(QStringLiteral("initdb failed: ") + out);
    }
    m_port = freePort();
    {
        QFile conf(dataFolder() + QStringLiteral("/postgresql.conf"));
        conf.open(QIODevice::Append);
        QTextStream ts(&conf);
        ts << "\nport = " << m_port << "\n"
           << "listen_addresses = '127.0.0.1'\n"
           << "unix_socket_directories = '" << m_root << "'\n"
           << "logging_collector = on\n"
           << "log_directory = 'pg_log'\n"
           << "log_filename = 'postgresql-%Y-%m-%d_%H%M%S.log'\n"
           << "fsync = off\n"
           << "lc_messages = 'C'\n";
    }
    // Private ODBC driver registry: both names psqlODBC is reached by, no communication log. A test
    // program that sets V7_TEST_SIN_ALIAS=1 gets only the distribution's own names (the driver
    // manager reads its registry once per process, so this cannot change within a program).
    {
        QFile ini(m_root + QStringLiteral("/odbcinst.ini"));
        ini.open(QIODevice::WriteOnly);
        QTextStream ts(&ini);
        const bool alias = qEnvironmentVariable("V7_TEST_SIN_ALIAS") != QLatin1String("1");
        for (const char* name : {"PostgreSQL ODBC Driver(UNICODE)", "PostgreSQL Unicode"}) {
            if (alias || QLatin1String(name) != QLatin1String("PostgreSQL ODBC Driver(UNICODE)")) {
                ts << "[" << name << "]\nDriver=psqlodbcw.so\nCommLog=0\nDebug=0\n\n";
            }
        }
        ts << "[PostgreSQL ANSI]\nDriver=psqlodbca.so\nCommLog=0\nDebug=0\n\n";
        QFile odbc(m_root + QStringLiteral("/odbc.ini"));
        odbc.open(QIODevice::WriteOnly);
    }
    qputenv("ODBCSYSINI", QFile::encodeName(m_root));
    qputenv("ODBCINSTINI", "odbcinst.ini");
    if (!start()) {
        fail(QStringLiteral("the server did not start:\n") + logTail());
    }
    m_started = true;
    vigilarCluster(m_root, dataFolder(), m_bin, m_owner);
    freshDatabase();
}

bool PgCluster::start() {
    QString out;
    int rc =
        runAsOwner(QStringLiteral("pg_ctl"),
                   {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                    QStringLiteral("-D"), dataFolder(), QStringLiteral("-l"), m_root + QStringLiteral("/server.log")},
                   &out);
    return rc == 0;
}

bool PgCluster::stop() {
    QString out;
    return runAsOwner(QStringLiteral("pg_ctl"),
                      {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"), QStringLiteral("fast"),
                       QStringLiteral("-D"), dataFolder()},
                      &out) == 0;
}

bool PgCluster::isRunning() const {
    return runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("status"), QStringLiteral("-D"), dataFolder()}) == 0;
}

void PgCluster::shutdown() {
    if (!m_started) {
        return;
    }
    m_started = false;
    if (isRunning()) {
        stop();
    }
    if (qEnvironmentVariableIsEmpty("V7_KEEP_CLUSTER")) {
        QDir(m_root).removeRecursively();
    }
}

QString PgCluster::logTail(int lines) const {
    QStringList all;
    QStringList files = QDir(dataFolder() + QStringLiteral("/pg_log")).entryList(QDir::Files, QDir::Name);
    QStringList paths{m_root + QStringLiteral("/server.log")};
    for (const auto& f : files) {
        paths << dataFolder() + QStringLiteral("/pg_log/") + f;
    }
    for (const auto& p : paths) {
        QFile f(p);
        if (f.open(QIODevice::ReadOnly)) {
            all += QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        }
    }
    return all.mid(qMax(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}

QString PgCluster::connectionString(const QString& user, const QString& password, const QString& database,
                                    const QString& driver) const {
    const QString u = user.isEmpty() ? superuser() : user;
    const QString p = user.isEmpty() ? this->password() : password;
    QString pw = p;
    pw.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QStringLiteral("DRIVER={%1};SERVER=%2;PORT=%3;DATABASE=%4;UID=%5;PWD={%6}")
        .arg(driver, host(), QString::number(m_port), database, u, pw);
}

bool PgCluster::psql(const QString& sql, QString* output, const QString& database) const {
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), password());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    proc.setProcessEnvironment(env);
    proc.start(m_bin + QStringLiteral("/psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), host(),
                QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"), superuser(), QStringLiteral("-d"),
                database, QStringLiteral("-f"), QStringLiteral("-")});
    proc.write(sql.toUtf8());
    proc.closeWriteChannel();
    proc.waitForFinished(120000);
    const QString out = QString::fromUtf8(proc.readAllStandardOutput());
    const QString err = QString::fromUtf8(proc.readAllStandardError());
    if (output != nullptr) {
        *output = out;
    }
    const bool ok = proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
    if (!ok) {
        std::fprintf(stderr, "psql failed: %s\n%s\n", qPrintable(sql.left(400)), qPrintable(err));
    }
    return ok;
}

QString PgCluster::scalar(const QString& sql, const QString& database) const {
    QString out;
    if (!psql(sql, &out, database)) {
        return QString();
    }
    return out.section(QLatin1Char('\n'), 0, 0);
}

void PgCluster::freshDatabase() {
    QString schema;
    for (const QString& path : {baseSchemaPath(), librarySchemaPath()}) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("no schema file ") + path);
        }
        schema += QString::fromUtf8(f.readAll()) + QLatin1Char('\n');
    }
    if (!psql(QStringLiteral("DROP DATABASE IF EXISTS veliro7 WITH (FORCE);\nCREATE DATABASE veliro7;"), nullptr,
              QStringLiteral("postgres")) ||
        !psql(schema)) {
        fail(QStringLiteral("could not create database veliro7"));
    }
}

process::Command PgCluster::comandoPsql(const QString& sql) const {
    process::Command c;
    c.program = m_bin + QStringLiteral("/psql");
    c.arguments = QStringList{QStringLiteral("-X"),      QStringLiteral("-h"), host(),      QStringLiteral("-p"),
                              QString::number(m_port),   QStringLiteral("-U"), superuser(), QStringLiteral("-d"),
                              QStringLiteral("veliro7"), QStringLiteral("-c"), sql};
    c.environment.insert(QStringLiteral("PGPASSWORD"), password());
    return c;
}

} // namespace v7::test
