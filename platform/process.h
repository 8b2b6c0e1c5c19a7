// The one way this system starts a child process and waits for it.
//
// The wait never freezes the windows: it blocks a thread of its own while window events and timers run
// (v7::events::esperarEnHilo). A handler that runs during a wait may start another wait; each wait keeps
// its own child and outcome.
//
//     v7::process::Command c = v7::process::Command::shellScript(path);
//     c.out = v7::process::Sink::Capture;
//     const v7::process::Result r = v7::process::run(c);
//     if (r.ok()) … r.output …
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace v7::process {

// Where a child's stdout or stderr goes.
enum class Sink {
    Discard, // /dev/null
    Capture, // kept in Result::output / Result::errorOutput
    File,    // written to Command::outFile / errFile (created mode 0600; truncated unless append; a link
             // at that name is not followed: the child does not start)
    Inherit, // this program's own stream
    Stdout,  // stderr only: wherever stdout goes (2>&1)
};

struct Command {
    QString program; // a path, or a name looked up on the child's PATH
    QStringList arguments;
    QString workingFolder;              // empty: this program's current folder
    QMap<QString, QString> environment; // added to (or replacing in) this program's environment
    bool cLocale = false;               // LC_ALL=C, for output that is parsed
    Sink out = Sink::Discard;
    Sink err = Sink::Discard;
    QString outFile, errFile;
    bool append = false;
    int timeoutMs = -1; // < 0: no limit; on expiry the child's process group is killed
    // What the child reads on stdin (from a private in-memory file); none: /dev/null.
    std::optional<QByteArray> entrada;

    // /bin/sh running a script file, or a command line.
    static Command shellScript(const QString& scriptPath, const QStringList& args = {});
    static Command shellLine(const QString& commandLine);
};

struct Result {
    bool started = false;
    int startErrno = 0;     // why it did not start (errno), when !started
    QString startError;     // the same as text
    int exitCode = -1;      // when it exited by itself
    int signal = 0;         // when a signal ended it
    bool timedOut = false;  // killed at the time limit
    QByteArray output;      // captured stdout
    QByteArray errorOutput; // captured stderr

    // Exit status in the shell's terms: exitCode, 128 + signal, or -1 when it did not start.
    int status() const;
    // Started, ended by itself with exit code 0.
    bool ok() const { return started && !timedOut && signal == 0 && exitCode == 0; }
};

// Starts the command (stdin at /dev/null unless entrada is given) and waits for its end, letting events
// run. The child leads its own process group and dies with this program, even when this program is
// killed outright (parent-death signal): run its tools through exec so that the tool itself is the child.
// While the program is ending (see below) it starts nothing and does not return.
Result run(const Command& command);

// value quoted for sh as one word: 'value', each ' written as '\''.
QString shellQuote(const QString& value);

// The login name owning path (empty when it cannot be told).
QString ownerOf(const QString& path);

// Whether a program running as root must hand this user's tools to runuser: true when this program runs
// as root and user is someone else.
bool needsRunuser(const QString& user);
// The runuser program (an absolute path where one exists: cron's PATH has no sbin).
QString runuserProgram();

// The command run as the given user: wrapped in "runuser -u <user> --" when this program runs as root and
// user is someone else (tools such as pg_ctl refuse root); unchanged otherwise. The environment additions
// still reach the program.
Command asUser(const Command& command, const QString& user);

// Ending the program on SIGTERM, SIGINT or SIGHUP, or when its time limit passes, without leaving a child,
// a staging folder or a password file behind. A program whose waits start tools installs it once:
//
//     v7::process::terminarConLimpieza([&](const v7::process::Fin& fin) { log(fin); return 128 + fin.senal; });
//     v7::process::limitarDuracion(6 * 3600 * 1000); // optional
//
// The work is done by a watcher thread, never by the thread that may be blocked in a database call or a
// wait: it stops the process group of every child this runner started (SIGTERM, then SIGKILL after a
// short grace), runs the clean-ups registered with Limpieza (newest first), then the finaliser, and ends
// the program at once with the status the finaliser returns (128 + signal without one). Once the end has
// begun, every other thread that reaches a wait, a new child or puntoDeControl() stops there for good.
struct Fin {
    int senal = 0; // the signal; 0 when the time limit passed
    bool porLimite() const { return senal == 0; }
};
using Finalizador = std::function<int(const Fin&)>;

// Installs the handlers and the watcher (once; a later call only replaces the finaliser).
void terminarConLimpieza(Finalizador finalizador = {});

// The program's time limit, counted from now; < 0 removes it. Needs terminarConLimpieza().
void limitarDuracion(qint64 ms);

// Stops the calling thread for good once the end has begun (does nothing on the watcher thread).
void puntoDeControl();

// A clean-up for an abnormal end, registered for as long as the object lives. The action runs on the
// watcher thread while the registering thread may be anywhere: it must only remove files and folders
// (never following links) and guard what it shares.
class Limpieza {
public:
    explicit Limpieza(std::function<void()> accion);
    ~Limpieza();
    Limpieza(const Limpieza&) = delete;
    Limpieza& operator=(const Limpieza&) = delete;

private:
    quint64 m_id = 0;
};

// Files and folders that must not outlive a scope (scripts, tool outputs, an extracted archive): removed,
// links never followed, when the object goes away, and by the clean-up of a program that a signal or its
// time limit ends meanwhile.
class Restos {
public:
    Restos();
    ~Restos() { borrar(); }
    Restos(const Restos&) = delete;
    Restos& operator=(const Restos&) = delete;

    void agregar(const QString& ruta);
    void borrar() const;

private:
    struct Lista;
    std::shared_ptr<Lista> m_lista;
    Limpieza m_alTerminar;
};

} // namespace v7::process
