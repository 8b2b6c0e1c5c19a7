// Control of the product's PostgreSQL server, in place of the Windows service commands.
//
// The console knows the server by its service name ("postgresql-x64-9.0", "postgresql-9.0"); here both
// names stand for the installation the session found (RutaPostgres: bin/pg_ctl and data/). Every action
// runs pg_ctl on data/ with LC_ALL=C, as the OS user that owns data/: pg_ctl refuses to run as root, so
// when this program runs as root it goes through runuser; any other user is refused with a message.
// The waits let window events run (v7::process::run).
//
//     if (auto r = v7::service::runNetCommand(command, sesion().RutaPostgres)) { … r->refused() … }
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace v7::service {

// The names the console gives the server's service (compared case-insensitively, as Windows does).
inline const QStringList kServiceNames = {QStringLiteral("postgresql-9.0"), QStringLiteral("postgresql-x64-9.0")};
bool isServiceName(const QString& name);

enum class Outcome {
    Done,           // start/stop: the server is now running/stopped; reload: signalled; status: told
    AlreadyThere,   // start on a running server, stop on a stopped one: nothing was run
    Failed,         // pg_ctl ran and failed (output says why)
    NoInstallation, // no data folder or no bin/pg_ctl at the installation folder
    NotPermitted,   // this program is neither root nor the owner of the data folder
    UnknownService, // a service command for a name that is not the server's
};

struct Result {
    Outcome outcome = Outcome::Failed;
    bool running = false; // the server runs once the action is over (as far as pg_ctl tells)
    int exitCode = -1;    // pg_ctl's exit status; -1 when it was not run
    QString output;       // what pg_ctl printed (stdout and stderr; with an output file, stderr only)
    QString message;      // in Spanish, for the administrator; empty for Done and AlreadyThere
    QString logFile;      // failed start or stop: the server log read below (the newest file of data/pg_log)
    QString logTail;      // its last lines
    QString logRefused;   // in Spanish: why that log was not read (a link, a file of another user…)
    // reload: asked of the server over the session's connection (SELECT pg_reload_conf()), not with pg_ctl
    bool throughConnection = false;

    bool ok() const { return outcome == Outcome::Done || outcome == Outcome::AlreadyThere; }
    // Nothing was run: the installation, the user or the name does not allow it.
    bool refused() const {
        return outcome == Outcome::NoInstallation || outcome == Outcome::NotPermitted ||
               outcome == Outcome::UnknownService;
    }
};

// pg_ctl start -w -D <data> -l <data>/pg_log/startup.log (the server's own log files are written by its
// logging collector into the same folder). pg_log is made when missing and handed to the data folder's
// owner through its own descriptor, so a link swapped in for it is never given away. A failed start or stop
// also brings the tail of the newest log.
[[nodiscard]] Result start(const QString& installFolder);
// pg_ctl stop -m fast -w -D <data>.
[[nodiscard]] Result stop(const QString& installFolder);
// pg_ctl status -D <data>: outcome Done with running telling the state.
[[nodiscard]] Result status(const QString& installFolder);
// Asks the running server to reload its configuration over the session's connection (SELECT
// pg_reload_conf()): true when it took the signal, else *error says why in Spanish.
using ReloadOverConnection = std::function<bool(QString* error)>;

// pg_ctl reload -D <data>. With an output file, pg_ctl's standard output goes there (created mode 0600,
// truncated) and its error output does not, as "pg_ctl reload > file" does: on a running server the file's
// first line is "server signaled", on a stopped one the file is empty. When the installation has no pg_ctl
// that this program may run (a cluster laid out by the distribution, or a program that is neither root nor
// the data folder's owner) and overConnection is given, the reload is asked of the server through it
// instead (throughConnection): the output file then reads as pg_ctl's would, "server signaled" when the
// server took the signal, empty when not (the outcome is then Failed with the reason). Otherwise, when the
// action is refused, the file is not written.
[[nodiscard]] Result reload(const QString& installFolder, const QString& outputFile = QString(),
                            const ReloadOverConnection& overConnection = {});
// Whether a reload of this installation runs pg_ctl (rather than going over the session's connection).
bool reloadRunsPgCtl(const QString& installFolder);

// The last lines (at most maxLines) of the newest file in <install>/data/pg_log, and its path. The data
// folder's owner runs the server and may change that folder at will: pg_log is read only when it is a real
// folder of that owner (or of root), and its newest entry only when it is a regular file of that owner;
// otherwise nothing is read and *refused says why.
QString serverLogTail(const QString& installFolder, int maxLines, QString* file = nullptr, QString* refused = nullptr);

// A command line "net start NAME" or "net stop NAME" (any case, the name possibly in double quotes) run
// against the installation; std::nullopt for any other command line.
[[nodiscard]] std::optional<Result> runNetCommand(const QString& commandLine, const QString& installFolder);

} // namespace v7::service
