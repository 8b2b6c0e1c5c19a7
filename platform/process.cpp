#include "platform/process.h"

#include "platform/events.h"
#include "platform/paths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <set>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace v7::process {

namespace {

// Between two polls of the child: short enough that windows stay responsive and short tools end quickly.
constexpr int kPollMs = 3;
// How long the children get to end after SIGTERM before SIGKILL, when the program is ending.
constexpr int kGraciaHijosMs = 2000;

// The children being waited for (each leads its own process group), for the end of the program.
std::mutex g_hijosMutex;
std::set<pid_t> g_hijos;

std::atomic<bool> g_terminando{false};
thread_local bool t_vigilante = false;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            m_fd = o.m_fd;
            o.m_fd = -1;
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

QByteArray readAll(int fd) {
    QByteArray data;
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
        return data;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n > 0) {
            data.append(buf, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return data;
}

// The file descriptor a stream of the child is given (-1 for Inherit/Stdout), or an errno.
int openSink(Sink sink, const QString& file, bool append, const char* captureName, Fd& fd) {
    switch (sink) {
    case Sink::Discard:
        fd = Fd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        break;
    case Sink::Capture:
        fd = Fd(::memfd_create(captureName, MFD_CLOEXEC));
        break;
    case Sink::File:
        fd = Fd(::open(QFile::encodeName(file).constData(),
                       O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC), 0600));
        break;
    case Sink::Inherit:
    case Sink::Stdout:
        return 0;
    }
    return fd.valid() ? 0 : errno;
}

QString findProgram(const QString& program, const QString& pathValue) {
    if (program.contains(QLatin1Char('/'))) {
        return program;
    }
    for (const QString& dir : pathValue.split(QLatin1Char(':'))) {
        const QString candidate = (dir.isEmpty() ? QStringLiteral(".") : dir) + QLatin1Char('/') + program;
        const QFileInfo fi(candidate);
        if (fi.isFile() && fi.isExecutable()) {
            return candidate;
        }
    }
    return QString();
}

std::vector<std::string> childEnvironment(const Command& c) {
    QMap<QString, QString> extra = c.environment;
    if (c.cLocale) {
        extra.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    }
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        const QString name = QString::fromLocal8Bit(*e, eq != nullptr ? int(eq - *e) : -1);
        if (!extra.contains(name)) {
            env.emplace_back(*e);
        }
    }
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
        env.emplace_back((it.key() + QLatin1Char('=') + it.value()).toLocal8Bit().toStdString());
    }
    return env;
}

QString pathOf(const std::vector<std::string>& env) {
    for (const std::string& e : env) {
        if (e.rfind("PATH=", 0) == 0) {
            return QString::fromLocal8Bit(e.c_str() + 5);
        }
    }
    return QStringLiteral("/usr/bin:/bin");
}

Result notStarted(int err) {
    Result r;
    r.startErrno = err;
    r.startError = QString::fromLocal8Bit(std::strerror(err));
    return r;
}

} // namespace

Command Command::shellScript(const QString& scriptPath, const QStringList& args) {
    Command c;
    c.program = QStringLiteral("/bin/sh");
    c.arguments = QStringList{scriptPath} + args;
    return c;
}

Command Command::shellLine(const QString& commandLine) {
    Command c;
    c.program = QStringLiteral("/bin/sh");
    c.arguments = QStringList{QStringLiteral("-c"), commandLine};
    return c;
}

int Result::status() const {
    if (!started) {
        return -1;
    }
    return signal != 0 ? 128 + signal : exitCode;
}

Result run(const Command& c) {
    puntoDeControl();
    const std::vector<std::string> env = childEnvironment(c);
    const QString exe = findProgram(c.program, pathOf(env));
    if (exe.isEmpty()) {
        return notStarted(ENOENT);
    }

    Fd in;
    if (c.entrada.has_value()) {
        // The child reads what the caller hands it from a private in-memory file, rewound.
        in = Fd(::memfd_create("v7-stdin", MFD_CLOEXEC));
        if (in.valid()) {
            const QByteArray& d = *c.entrada;
            for (qsizetype hecho = 0; hecho < d.size();) {
                const ssize_t n = ::write(in.get(), d.constData() + hecho, size_t(d.size() - hecho));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    return notStarted(errno != 0 ? errno : EIO);
                }
                hecho += n;
            }
            ::lseek(in.get(), 0, SEEK_SET);
        }
    } else {
        in = Fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    if (!in.valid()) {
        return notStarted(errno);
    }
    Fd out, err;
    if (int e = openSink(c.out == Sink::Stdout ? Sink::Inherit : c.out, c.outFile, c.append, "v7-stdout", out)) {
        return notStarted(e);
    }
    if (int e = openSink(c.err, c.errFile, c.append, "v7-stderr", err)) {
        return notStarted(e);
    }

    // Everything the child needs is prepared before the fork: between fork and exec only
    // async-signal-safe calls are made (this program has other threads).
    const QByteArray exeName = QFile::encodeName(exe);
    const QByteArray folder = QFile::encodeName(c.workingFolder);
    std::vector<QByteArray> argStore;
    argStore.push_back(QFile::encodeName(c.program));
    for (const QString& a : c.arguments) {
        argStore.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& a : argStore) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    int aviso[2] = {-1, -1}; // the child writes its errno here when exec fails
    if (::pipe2(aviso, O_CLOEXEC) != 0) {
        return notStarted(errno);
    }
    Fd avisoLeer(aviso[0]), avisoEscribir(aviso[1]);
    const pid_t padre = ::getpid();
    const int fdIn = in.get();
    const int fdOut = out.valid() ? out.get() : -1;
    const int fdErr = err.valid() ? err.get() : -1;
    const bool errAStdout = c.err == Sink::Stdout;

    const pid_t pid = ::fork();
    if (pid < 0) {
        return notStarted(errno);
    }
    if (pid == 0) {
        // Its own process group, so a timeout also ends what a script started; default signals and an
        // empty mask, whatever this program blocked or ignored; and it dies with this program, even when
        // this program is killed outright (SIGKILL runs no clean-up of ours).
        ::setpgid(0, 0);
        struct sigaction sa {};
        sa.sa_handler = SIG_DFL;
        for (int s = 1; s < NSIG; ++s) {
            ::sigaction(s, &sa, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int e = 0;
        if (::getppid() != padre) {
            ::_exit(127); // this program died before the line above took effect
        }
        if (::dup2(fdIn, STDIN_FILENO) < 0 || (fdOut >= 0 && ::dup2(fdOut, STDOUT_FILENO) < 0) ||
            (errAStdout ? ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0
                        : (fdErr >= 0 && ::dup2(fdErr, STDERR_FILENO) < 0)) ||
            (!folder.isEmpty() && ::chdir(folder.constData()) != 0)) {
            e = errno;
        } else {
            ::execve(exeName.constData(), argv.data(), envp.data());
            e = errno;
        }
        [[maybe_unused]] const ssize_t n = ::write(aviso[1], &e, sizeof e);
        ::_exit(127);
    }
    avisoEscribir.reset();
    {
        std::lock_guard<std::mutex> lock(g_hijosMutex);
        g_hijos.insert(pid);
    }
    int errExec = 0;
    ssize_t leidos = 0;
    while ((leidos = ::read(avisoLeer.get(), &errExec, sizeof errExec)) < 0 && errno == EINTR) {
    }
    if (leidos == sizeof errExec) {
        int st = 0;
        while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        std::lock_guard<std::mutex> lock(g_hijosMutex);
        g_hijos.erase(pid);
        return notStarted(errExec);
    }

    Result r;
    r.started = true;
    int wstatus = 0;
    bool perdido = false;
    // The wait blocks a thread of its own (the windows keep running); pidfd tells when the child ended.
    events::esperarEnHilo([&] {
        const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const pid_t w = ::waitpid(pid, &wstatus, WNOHANG);
            if (w == pid) {
                break;
            }
            if (w < 0 && errno != EINTR) {
                perdido = true; // someone else reaped it (the watcher, when the program is ending)
                break;
            }
            int espera = 100;
            if (c.timeoutMs >= 0) {
                const qint64 resta = c.timeoutMs - clock.elapsed();
                if (resta <= 0) {
                    ::kill(-pid, SIGKILL);
                    ::kill(pid, SIGKILL);
                    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
                    }
                    r.timedOut = true;
                    break;
                }
                espera = int(qMin<qint64>(resta, 100));
            }
            if (pidfd >= 0) {
                pollfd p{pidfd, POLLIN, 0};
                ::poll(&p, 1, espera);
            } else {
                ::usleep(kPollMs * 1000);
            }
        }
        if (pidfd >= 0) {
            ::close(pidfd);
        }
    });
    {
        std::lock_guard<std::mutex> lock(g_hijosMutex);
        g_hijos.erase(pid);
    }
    puntoDeControl();
    if (perdido) {
        r.exitCode = -1;
        return r;
    }
    if (WIFEXITED(wstatus)) {
        r.exitCode = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        r.signal = WTERMSIG(wstatus);
    }
    if (c.out == Sink::Capture) {
        r.output = readAll(out.get());
    }
    if (c.err == Sink::Capture) {
        r.errorOutput = readAll(err.get());
    }
    return r;
}

QString shellQuote(const QString& value) {
    QString q = value;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString ownerOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return QString();
    }
    if (const passwd* pw = ::getpwuid(st.st_uid)) {
        return QString::fromLocal8Bit(pw->pw_name);
    }
    return QString();
}

bool needsRunuser(const QString& user) {
    return ::geteuid() == 0 && !user.isEmpty() && user != QLatin1String("root");
}

QString runuserProgram() {
    for (const char* p : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser", "/bin/runuser"}) {
        if (::access(p, X_OK) == 0) {
            return QString::fromLatin1(p);
        }
    }
    return QStringLiteral("runuser");
}

Command asUser(const Command& command, const QString& user) {
    if (!needsRunuser(user)) {
        return command;
    }
    Command wrapped = command;
    wrapped.program = runuserProgram();
    wrapped.arguments =
        QStringList{QStringLiteral("-u"), user, QStringLiteral("--"), command.program} + command.arguments;
    return wrapped;
}

namespace {

std::mutex g_limpiezasMutex;
std::map<quint64, std::function<void()>> g_limpiezas;
quint64 g_siguienteLimpieza = 1;

std::mutex g_finMutex;
Finalizador g_finalizador;
std::atomic<qint64> g_limiteMs{-1}; // steady-clock milliseconds; -1 none
int g_tubo[2] = {-1, -1};

qint64 ahoraMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void alRecibir(int senal) {
    const int guardado = errno;
    const unsigned char b = static_cast<unsigned char>(senal);
    [[maybe_unused]] const ssize_t n = ::write(g_tubo[1], &b, 1);
    errno = guardado;
}

// SIGTERM to every child's group, then SIGKILL to the groups still there after the grace. The watcher
// reaps what it can; the waiting thread may reap a child first.
void detenerHijos() {
    std::set<pid_t> hijos;
    {
        std::lock_guard<std::mutex> lock(g_hijosMutex);
        hijos = g_hijos;
    }
    for (const pid_t p : hijos) {
        ::kill(-p, SIGTERM);
        ::kill(p, SIGCONT); // a stopped child would never see the SIGTERM
        ::kill(-p, SIGCONT);
    }
    const qint64 hasta = ahoraMs() + kGraciaHijosMs;
    while (!hijos.empty() && ahoraMs() < hasta) {
        for (auto it = hijos.begin(); it != hijos.end();) {
            int estado = 0;
            ::waitpid(*it, &estado, WNOHANG);
            it = ::kill(-*it, 0) != 0 && errno == ESRCH ? hijos.erase(it) : std::next(it);
        }
        ::usleep(20 * 1000);
    }
    for (const pid_t p : hijos) {
        ::kill(-p, SIGKILL);
        int estado = 0;
        ::waitpid(p, &estado, WNOHANG);
    }
}

[[noreturn]] void terminar(int senal) {
    g_terminando = true;
    detenerHijos();
    std::vector<std::function<void()>> limpiezas;
    {
        std::lock_guard<std::mutex> lock(g_limpiezasMutex);
        for (auto it = g_limpiezas.rbegin(); it != g_limpiezas.rend(); ++it) {
            limpiezas.push_back(it->second);
        }
    }
    for (const auto& l : limpiezas) {
        l();
    }
    Finalizador fin;
    {
        std::lock_guard<std::mutex> lock(g_finMutex);
        fin = g_finalizador;
    }
    int estado = senal != 0 ? 128 + senal : 1;
    if (fin) {
        estado = fin(Fin{senal});
    }
    std::fflush(stderr);
    ::_exit(estado);
}

void vigilar() {
    t_vigilante = true;
    for (;;) {
        const qint64 limite = g_limiteMs.load();
        int espera = -1;
        if (limite >= 0) {
            espera = int(qBound(qint64(0), limite - ahoraMs(), qint64(INT_MAX)));
        }
        pollfd p{g_tubo[0], POLLIN, 0};
        const int r = ::poll(&p, 1, espera);
        if (r > 0) {
            unsigned char b = 0;
            if (::read(g_tubo[0], &b, 1) == 1 && b != 0) {
                terminar(b);
            }
            // 0: the limit changed.
        } else if (r == 0 && limite >= 0 && ahoraMs() >= limite) {
            terminar(0);
        }
    }
}

} // namespace

void terminarConLimpieza(Finalizador finalizador) {
    {
        std::lock_guard<std::mutex> lock(g_finMutex);
        g_finalizador = std::move(finalizador);
    }
    static const bool instalado = [] {
        if (::pipe2(g_tubo, O_CLOEXEC) != 0) {
            return false;
        }
        ::fcntl(g_tubo[1], F_SETFL, O_NONBLOCK);
        std::thread(vigilar).detach();
        struct sigaction sa {};
        sa.sa_handler = alRecibir;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(s, &sa, nullptr);
        }
        return true;
    }();
    if (!instalado) {
        std::fprintf(stderr, "the signal watcher could not be installed: %s\n", std::strerror(errno));
    }
}

void limitarDuracion(qint64 ms) {
    g_limiteMs = ms < 0 ? -1 : ahoraMs() + ms;
    if (g_tubo[1] >= 0) {
        const unsigned char despierta = 0;
        [[maybe_unused]] const ssize_t n = ::write(g_tubo[1], &despierta, 1);
    }
}

void puntoDeControl() {
    if (!g_terminando || t_vigilante) {
        return;
    }
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

Limpieza::Limpieza(std::function<void()> accion) {
    std::lock_guard<std::mutex> lock(g_limpiezasMutex);
    m_id = g_siguienteLimpieza++;
    g_limpiezas.emplace(m_id, std::move(accion));
}

Limpieza::~Limpieza() {
    std::lock_guard<std::mutex> lock(g_limpiezasMutex);
    g_limpiezas.erase(m_id);
}

// Shared with the watcher thread's clean-up, hence its own lock.
struct Restos::Lista {
    std::mutex mutex;
    QStringList rutas;
    void borrar() {
        QStringList copia;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copia = rutas;
        }
        for (const QString& r : copia) {
            paths::borrarSinSeguirEnlaces(r);
        }
    }
};

Restos::Restos() : m_lista(std::make_shared<Lista>()), m_alTerminar([lista = m_lista] { lista->borrar(); }) {}

void Restos::agregar(const QString& ruta) {
    std::lock_guard<std::mutex> lock(m_lista->mutex);
    m_lista->rutas << ruta;
}

void Restos::borrar() const {
    m_lista->borrar();
}

} // namespace v7::process
