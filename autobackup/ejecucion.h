// One unattended backup run from start to end: the settings file, the PostgreSQL installation on the
// configured port, the connection to veliro7, the version gate of VER_V7BACKUP, the dated archive, one
// outcome line in the log and the outcome in RESPALDOOK.
//
// RESPALDOOK reads false from the moment the run has connected until it has written a tested archive, so a
// run that is killed outright leaves it false (the login warns). The archive itself carries it true: it
// exists only because the run that wrote it succeeded. While a restore's mark stands the run refuses.
//
//     BitacoraDiaria log(paths::programFolder(), QDate::currentDate());
//     const ResultadoEjecucion r = ejecutarRespaldoAutomatico(log);
//     return codigoSalida(r.desenlace);
#pragma once

#include "autobackup/basedatos.h"
#include "autobackup/bitacora.h"
#include "platform/process.h"

#include <QDate>
#include <QString>
#include <QVector>

#include <optional>

namespace v7::autobackup {

enum class Desenlace {
    Respaldado,            // the archive was written and tested
    SinConfiguracion,      // no settings file
    ConfiguracionVacia,    // an empty settings file
    ConfiguracionAlterada, // a field of the settings file is empty
    VersionRechazada,      // the version gate failed
    RespaldoFallido,       // the backup procedure reported a failure
    RestauracionPendiente, // a restore's mark stands: the database may be partial, so no archive is made of it
    TiempoAgotado,         // the run's time limit passed (terminarEjecucion)
    Interrumpido,          // SIGTERM, SIGINT or SIGHUP ended the run (terminarEjecucion)
    Error,                 // any other failure (the log's error line)
};

struct ResultadoEjecucion {
    Desenlace desenlace = Desenlace::Error;
    QString archivo;                   // the dated archive path, once known
    bool respaldoOkRegistrado = false; // RESPALDOOK was written
};

// One candidate installation of the discovery, in discovery order.
struct InstalacionPg {
    QString carpeta;
    double puerto = 0;
};

struct InstalacionesRegistradas {
    QVector<InstalacionPg> candidatos;
    QString rutaPg; // the product's Globals RutaPg value (may be empty)
};

// The installers' keys and the product's Globals values, in discovery order; an entry is added only
// when its folder value is not empty. A port value that is not a number fails (conversion error).
std::optional<InstalacionesRegistradas> instalacionesRegistradas(Falla& falla);

// RutaPostgres for the configured port: the first candidate on that port, else the RutaPg value, else
// the program folder's "SGBDR/". Always ends in "/".
QString rutaPostgresPara(const InstalacionesRegistradas& instalaciones, int puerto);

// The archive path with "_" + yyyymmdd inserted before its final ".zip" (any case); a path that does
// not end in ".zip" stays as it is.
QString rutaFechada(const QString& ruta, const QDate& fecha);

// The connection string of the run (cadenaConexionOdbc) with the password braced ("}" doubled): a server
// or user that SERVER=/UID= cannot carry goes to pqopt and reaches the server exactly as configured.
QString cadenaConexion(const QString& driver, const QString& servidor, int puerto, const QString& usuario,
                       const QString& clave);

// Runs one backup of the program folder (paths::programFolder()), writing every outcome to bitacora.
// The notices of the routines it calls are written there too and never wait for an answer.
ResultadoEjecucion ejecutarRespaldoAutomatico(Bitacora& bitacora);

// The run's time limit in seconds: kVariableLimite when it holds a whole number of seconds above 0, else
// kLimitePorDefecto (aviso, when given, then gets a log line saying so).
inline const QString kVariableLimite = QStringLiteral("V7_LIMITE_RESPALDO");
inline constexpr qint64 kLimitePorDefecto = 6 * 3600;
qint64 limiteEjecucion(QString* aviso = nullptr);

// The end of a run that a signal or the time limit stopped, as process::terminarConLimpieza calls it on
// its own thread once the children are stopped and the staging folder and scripts removed: one log line,
// and RESPALDOOK on a connection of its own when the run had connected (the run's connection may be
// blocked): false, or true when the run's tested archive had already taken its final name (the line then
// says the archive is complete and kept). limiteSegundos is the limit that was set.
Desenlace terminarEjecucion(Bitacora& bitacora, const process::Fin& fin, qint64 limiteSegundos);

} // namespace v7::autobackup
