#include "platform/service.h"

#include "core/errores.h" // err::kCrLf only (header-only: this library links no part of core)
#include "platform/archivo_seguro.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::service {

namespace {

using err::kCrLf;

// How much of the server log a failed start or stop brings back.
constexpr int kLogTailLines = 12;
constexpr qint64 kLogTailBytes = 64 * 1024;

// pg_ctl's exit status of "status" on a stopped server, and on a folder that is no cluster.
constexpr int kStatusNotRunning = 3;
constexpr int kStatusNoDataFolder = 4;

struct Target {
    QString dataFolder;
    QString pgCtl;
    QString owner;
    uid_t uid = 0;
    gid_t gid = 0;
};

Result refusal(Outcome outcome, const QString& message) {
    Result r;
    r.outcome = outcome;
    r.message = message;
    return r;
}

Result noInstallation(const QString& what, const QString& path) {
    return refusal(Outcome::NoInstallation,
                   what + path + kCrLf + QStringLiteral("Verifique la instalación y reinténtelo nuevamente"));
}

Result notPermitted(const QString& owner, const QString& dataFolder) {
    const QString who =
        owner.isEmpty() ? QStringLiteral("el dueño de la carpeta de datos %1").arg(dataFolder)
                        : QStringLiteral("el usuario \"%1\", dueño de la carpeta de datos %2,").arg(owner, dataFolder);
    return refusal(Outcome::NotPermitted,
                   QStringLiteral("Solo root o %1 puede iniciar, detener o recargar el servidor PostgreSQL.").arg(who) +
                       kCrLf + QStringLiteral("Ejecute el programa como uno de ellos e inténtelo nuevamente"));
}

// The installation's data folder and pg_ctl, and who may run pg_ctl on them; a refusal when there is no
// such installation or this program may not act on it.
std::optional<Result> locate(const QString& installFolder, Target& t) {
    const QString folder = paths::withSlash(installFolder.trimmed());
    t.dataFolder = folder + QStringLiteral("data");
    t.pgCtl = folder + QStringLiteral("bin/pg_ctl");
    struct stat st {};
    if (folder.isEmpty() || ::stat(QFile::encodeName(t.dataFolder).constData(), &st) != 0) {
        if (!folder.isEmpty() && errno == EACCES) {
            return notPermitted(QString(), t.dataFolder); // there, but hidden from this user
        }
        return noInstallation(QStringLiteral("No se encontró la carpeta de datos del servidor PostgreSQL: "),
                              t.dataFolder);
    }
    if (!S_ISDIR(st.st_mode)) {
        return noInstallation(QStringLiteral("No se encontró la carpeta de datos del servidor PostgreSQL: "),
                              t.dataFolder);
    }
    t.uid = st.st_uid;
    t.gid = st.st_gid;
    if (const passwd* pw = ::getpwuid(st.st_uid)) {
        t.owner = QString::fromLocal8Bit(pw->pw_name);
    }
    if (::geteuid() != 0 && ::geteuid() != st.st_uid) {
        return notPermitted(t.owner.isEmpty() ? QString::number(st.st_uid) : t.owner, t.dataFolder);
    }
    if (t.owner.isEmpty()) {
        return refusal(
            Outcome::NotPermitted,
            QStringLiteral("La carpeta de datos %1 pertenece a un usuario que no existe en este equipo (%2).")
                .arg(t.dataFolder, QString::number(st.st_uid)));
    }
    if (!QFileInfo::exists(t.dataFolder + QStringLiteral("/PG_VERSION"))) {
        return noInstallation(QStringLiteral("La carpeta no contiene los datos de un servidor PostgreSQL: "),
                              t.dataFolder);
    }
    const QFileInfo pgCtl(t.pgCtl);
    if (!pgCtl.isFile() || !pgCtl.isExecutable()) {
        return noInstallation(QStringLiteral("No se encontró el programa pg_ctl del servidor PostgreSQL: "), t.pgCtl);
    }
    return std::nullopt;
}

// pg_ctl as the data folder's owner, C locale, stdin at /dev/null. Without an output file both of its
// outputs are captured together; with one, stdout goes to the file and stderr is captured.
process::Result runPgCtl(const Target& t, const QStringList& args, const QString& outputFile = QString()) {
    process::Command c;
    c.program = t.pgCtl;
    c.arguments = args;
    c.cLocale = true;
    c.workingFolder = QStringLiteral("/"); // the owner may not be allowed into this program's folder
    if (outputFile.isEmpty()) {
        c.out = process::Sink::Capture;
        c.err = process::Sink::Stdout;
    } else {
        c.out = process::Sink::File;
        c.outFile = outputFile;
        c.err = process::Sink::Capture;
    }
    return process::run(process::asUser(c, t.owner));
}

Result fromRun(const process::Result& p, const QString& outputFile) {
    Result r;
    r.exitCode = p.status();
    r.output = QString::fromLocal8Bit(outputFile.isEmpty() ? p.output : p.errorOutput);
    if (!p.started) {
        r.output = p.startError;
    }
    return r;
}

Result failed(Result r, const QString& what) {
    r.outcome = Outcome::Failed;
    r.message = what;
    if (!r.output.trimmed().isEmpty()) {
        r.message += kCrLf + r.output.trimmed();
    }
    return r;
}

// Whether the server runs; nullopt (with the failure in r) when pg_ctl could not tell.
std::optional<bool> probe(const Target& t, Result& r) {
    r = fromRun(runPgCtl(t, {QStringLiteral("status"), QStringLiteral("-D"), t.dataFolder}), QString());
    if (r.exitCode == 0) {
        return true;
    }
    if (r.exitCode == kStatusNotRunning) {
        return false;
    }
    if (r.exitCode == kStatusNoDataFolder) {
        r = noInstallation(QStringLiteral("La carpeta no contiene los datos de un servidor PostgreSQL: "),
                           t.dataFolder);
        return std::nullopt;
    }
    r = failed(r, QStringLiteral("No se logró consultar el estado del servidor PostgreSQL."));
    return std::nullopt;
}

bool runsNow(const Target& t) {
    Result ignored;
    return probe(t, ignored).value_or(false);
}

// The folder the start log goes to, owned like the data folder (the server's logging collector creates
// it too, but only once it runs). The data folder is its owner's to change: the folder is made and handed
// over through descriptors, never by a name that could have been swapped for a link in between.
void ensureLogFolder(const Target& t) {
    const archivo::Carpeta datos = archivo::Carpeta::abrir(t.dataFolder);
    if (datos.ok()) {
        // A failure here shows when pg_ctl cannot open its log.
        (void)datos.crearSubcarpeta(QStringLiteral("pg_log"), 0700, t.uid, t.gid);
    }
}

} // namespace

bool isServiceName(const QString& name) {
    for (const QString& known : kServiceNames) {
        if (known.compare(name.trimmed(), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

namespace {

// Starts or stops the server; nothing is run when it already is as wanted.
Result switchTo(const QString& installFolder, bool wantRunning) {
    Target t;
    if (auto refused = locate(installFolder, t)) {
        return *refused;
    }
    Result r;
    const std::optional<bool> running = probe(t, r);
    if (!running) {
        return r;
    }
    if (*running == wantRunning) {
        r = Result{};
        r.outcome = Outcome::AlreadyThere;
        r.running = wantRunning;
        return r;
    }
    QStringList args;
    if (wantRunning) {
        ensureLogFolder(t);
        args = {QStringLiteral("start"), QStringLiteral("-w"),
                QStringLiteral("-t"),    QStringLiteral("60"),
                QStringLiteral("-D"),    t.dataFolder,
                QStringLiteral("-l"),    t.dataFolder + QStringLiteral("/pg_log/startup.log")};
    } else {
        args = {QStringLiteral("stop"), QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                QStringLiteral("-t"),   QStringLiteral("60"), QStringLiteral("-D"),   t.dataFolder};
    }
    r = fromRun(runPgCtl(t, args), QString());
    if (r.exitCode != 0) {
        r = failed(r, wantRunning ? QStringLiteral("No se logró iniciar el servidor PostgreSQL.")
                                  : QStringLiteral("No se logró detener el servidor PostgreSQL."));
        // pg_ctl only says that it failed; the server's reason is in its log.
        r.logTail = serverLogTail(installFolder, kLogTailLines, &r.logFile, &r.logRefused);
        r.running = runsNow(t);
        return r;
    }
    r.outcome = Outcome::Done;
    r.running = wantRunning;
    return r;
}

} // namespace

Result start(const QString& installFolder) {
    return switchTo(installFolder, true);
}

Result stop(const QString& installFolder) {
    return switchTo(installFolder, false);
}

Result status(const QString& installFolder) {
    Target t;
    if (auto refused = locate(installFolder, t)) {
        return *refused;
    }
    Result r;
    if (const std::optional<bool> running = probe(t, r)) {
        r.outcome = Outcome::Done;
        r.running = *running;
    }
    return r;
}

namespace {

// The reload over the session's connection, with pg_ctl's output file written as pg_ctl would have.
Result reloadOverConnection(const ReloadOverConnection& overConnection, const QString& outputFile) {
    Result r;
    r.throughConnection = true;
    QString why;
    const bool signaled = overConnection(&why);
    if (!outputFile.isEmpty()) {
        archivo::OpcionesEscritura o;
        o.conservarDuenoYModo = false;
        const QString e =
            archivo::escribirAtomico(outputFile, signaled ? QByteArrayLiteral("server signaled\n") : QByteArray(), o);
        if (!e.isEmpty()) {
            r.outcome = Outcome::Failed;
            r.message = e;
            return r;
        }
    }
    // The server answered on the connection or not; either way it is its connection that tells.
    r.running = true;
    if (!signaled) {
        r.outcome = Outcome::Failed;
        r.message = QStringLiteral("No se logró recargar la configuración del servidor PostgreSQL.") + kCrLf + why;
        return r;
    }
    r.outcome = Outcome::Done;
    r.exitCode = 0;
    return r;
}

} // namespace

bool reloadRunsPgCtl(const QString& installFolder) {
    Target t;
    return !locate(installFolder, t).has_value();
}

Result reload(const QString& installFolder, const QString& outputFile, const ReloadOverConnection& overConnection) {
    Target t;
    if (auto refused = locate(installFolder, t)) {
        if (overConnection &&
            (refused->outcome == Outcome::NoInstallation || refused->outcome == Outcome::NotPermitted)) {
            return reloadOverConnection(overConnection, outputFile);
        }
        return *refused;
    }
    Result r =
        fromRun(runPgCtl(t, {QStringLiteral("reload"), QStringLiteral("-D"), t.dataFolder}, outputFile), outputFile);
    if (r.exitCode != 0) {
        r = failed(r, QStringLiteral("No se logró recargar la configuración del servidor PostgreSQL."));
        r.running = runsNow(t);
        return r;
    }
    r.outcome = Outcome::Done;
    r.running = true;
    return r;
}

QString serverLogTail(const QString& installFolder, int maxLines, QString* file, QString* refused) {
    auto refuse = [refused](const QString& why) {
        if (refused != nullptr) {
            *refused = why;
        }
        return QString();
    };
    const archivo::Carpeta datos =
        archivo::Carpeta::abrir(paths::withSlash(installFolder.trimmed()) + QStringLiteral("data"));
    if (!datos.ok()) {
        return datos.numeroError() == ENOENT ? QString() : refuse(datos.motivo());
    }
    const uid_t owner = datos.dueno();
    const archivo::Carpeta logs = datos.subcarpeta(QStringLiteral("pg_log"));
    if (!logs.ok()) {
        return logs.numeroError() == ENOENT ? QString() : refuse(logs.motivo());
    }
    if (const QString why = logs.rechazoPorDueno(owner); !why.isEmpty()) {
        return refuse(why);
    }
    // The newest entry that is not a folder: a link or another user's file there is refused, not passed over.
    QString newest;
    timespec newestTime{};
    for (const QString& name : logs.nombres()) {
        struct stat st {};
        if (!logs.estado(name, &st) || S_ISDIR(st.st_mode)) {
            continue;
        }
        if (newest.isEmpty() || st.st_mtim.tv_sec > newestTime.tv_sec ||
            (st.st_mtim.tv_sec == newestTime.tv_sec && st.st_mtim.tv_nsec > newestTime.tv_nsec)) {
            newest = name;
            newestTime = st.st_mtim;
        }
    }
    if (newest.isEmpty()) {
        return QString();
    }
    if (file != nullptr) {
        *file = logs.rutaDe(newest);
    }
    const archivo::Lectura l = logs.leerRegular(newest, kLogTailBytes, archivo::SiExcede::UltimaParte, owner);
    if (!l.ok()) {
        return l.numeroError == ENOENT ? QString() : refuse(l.motivo);
    }
    QStringList lines = QString::fromLocal8Bit(l.datos).split(QLatin1Char('\n'));
    if (l.recortado && !lines.isEmpty()) {
        lines.removeFirst(); // cut in the middle
    }
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) {
        lines.removeLast();
    }
    return lines.mid(qMax<qsizetype>(0, lines.size() - maxLines)).join(QLatin1Char('\n'));
}

std::optional<Result> runNetCommand(const QString& commandLine, const QString& installFolder) {
    static const QRegularExpression net(QStringLiteral(R"(^\s*net\s+(start|stop)\s+(.*?)\s*$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = net.match(commandLine);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    QString name = m.captured(2);
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'))) {
        name = name.mid(1, name.size() - 2).trimmed();
    }
    if (!isServiceName(name)) {
        return refusal(Outcome::UnknownService,
                       QStringLiteral("No existe el servicio \"%1\" en este equipo.").arg(name));
    }
    if (m.captured(1).compare(QLatin1String("start"), Qt::CaseInsensitive) == 0) {
        return start(installFolder);
    }
    return stop(installFolder);
}

} // namespace v7::service
