// Command scripts that run the PostgreSQL client tools and the archiver, and the runners that wait for
// them without freezing the windows.
//
// A script is a POSIX sh file (UTF-8, LF line ends, mode 0600) run by /bin/sh. Every value the writers
// put into it is quoted for sh; callers quote the values inside their own command texts with citarSh():
//
//     const QString cmd = QStringLiteral("pg_dump -Fc -f ") + citarSh(destino) + QStringLiteral(" veliro7 > ") +
//                         citarSh(salida) + QStringLiteral(" 2>&1");
//     if (CrearArchivoBat(bat, cmd, sesion().ClaveBD) == QLatin1String("OK") && EjecutarArchivoBat(bat).isEmpty()) …
//
// Command texts are sh. A command text may hold several lines separated by CR LF (or LF). Two Windows-style
// line forms are still understood and translated, so callers may keep them:
//   "set NAME=value" (any case of "set")  ->  export NAME='value'   (value taken literally, quoted here)
//   "PATH=%PATH%;folder"                  ->  export PATH='folder':"$PATH"
//
// Passwords: a script that holds a password (an "export PGPASSWORD=" line) is deleted by the runner when
// its run ends, on every path, including a run that could not start. A password script that was written
// but never run is deleted when the program exits normally, or is ended by a signal or its time limit
// (process::terminarConLimpieza). Where the tool allows it, give the password in the child's environment
// instead (the entorno argument below) and write none into the script. So run every password script through
// EjecutarArchivoBat, EjecutarShellEspera or ejecutarScript below (not through v7::process directly), and
// write a new one for each run.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace v7 {

// value quoted for sh as one word: 'value', each ' written as '\''. The empty text gives ''.
QString citarSh(const QString& value);

// The sh line "export NAME='value'".
QString exportarSh(const QString& name, const QString& value);

// A system error in the system's numbering (53 file not found, 76 path not found, 70 permission denied,
// 75 path/file access error, 61 disk full; else 1000 + errno) with its description. numero 0: no error.
struct ErrorSistema {
    int numero = 0;
    QString descripcion;
    bool hayError() const { return numero != 0; }
};
ErrorSistema errorSistema(int errnoValue);

// Every writer below runs the script's last line through exec when it is one plain command (the tool
// itself is then the child that dies with this program).
//
// Writes the script: [export PGPASSWORD='clave' when clave is not empty], export PATH='<RutaPostgres>bin':"$PATH",
// then the command's lines. "OK" on success; else "Ocurrió el error no. " number CR LF description CR LF
// the script path (nothing is left behind).
QString CrearArchivoBat(const QString& rutaScript, const QString& comando, const QString& clave);

// Writes the script: the first line as given (a drive line such as "C:" or an empty line is dropped: there
// are no drives here), cd 'carpeta', export PGPASSWORD='clave' (also when empty), then the command's lines.
// Returns the failure: empty on success, else the error (the caller's handler reports it).
[[nodiscard]] ErrorSistema CrearBatDirectorio(const QString& rutaScript, const QString& primeraLinea,
                                              const QString& carpeta, const QString& comando, const QString& clave);

// Writes the script: export PATH='carpetaBin':"$PATH", export PGPASSWORD='clave' (also when empty), then the
// command's lines. A failure is shown (v7::avisar, OK only, no title of its own: number ", " description) and
// the caller is not told.
void CrearBatRuta(const QString& rutaScript, const QString& carpetaBin, const QString& comando, const QString& clave);

// How a script run ended.
struct ResultadoScript {
    bool iniciado = false; // the interpreter ran and ended
    ErrorSistema error;    // why it could not start (when !iniciado)
    int estado = -1;       // exit status of the interpreter (128 + signal when killed; -1 when not started)
};

// Runs rutaOComando through /bin/sh and waits, letting window events run: an existing file is run as a
// script, anything else as a command line (sh -c). stdin is /dev/null, the outputs are discarded (the
// script redirects what it needs). No time limit. A password script is deleted afterwards. entorno is
// added to the child's environment: a password given there (PGPASSWORD) is in no file at all.
// entrada, when given, is what the script (and the tool it runs) reads on stdin.
[[nodiscard]] ResultadoScript ejecutarScript(const QString& rutaOComando, const QMap<QString, QString>& entorno = {},
                                             const std::optional<QByteArray>& entrada = std::nullopt);

// The environment that hands a client tool its password (PGPASSWORD), so that no script holds it; empty
// when there is no password.
QMap<QString, QString> entornoClave(const QString& clave);

// ejecutarScript with the designed result: empty text once the interpreter ran and ended (whatever the
// script's own outcome), else the error number, a blank and the description. estado, when given, receives
// the exit status (-1 when not started); a caller whose output file cannot show a failure tests it.
QString EjecutarArchivoBat(const QString& rutaOComando, int* estado = nullptr,
                           const QMap<QString, QString>& entorno = {});

// ejecutarScript with the designed result: true once the child has ended, false when it could not be
// started. mostrarVentana has no effect here (a script has no console window of its own on this system).
bool EjecutarShellEspera(const QString& comando, bool mostrarVentana, int* estado = nullptr);

} // namespace v7
