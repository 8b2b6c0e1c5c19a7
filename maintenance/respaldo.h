// The backup archive writer, shared by the maintenance window's manual backup and the unattended backup
// program. It holds no window and reads no session state: the caller hands it the connection, the server,
// the credentials and the folders.
//
// The archive is a .zip holding, at its root, base.backup (pg_dump custom format), rolesv7.sql (pg_dumpall
// -g) and checksum.dat (scrambled lines "table#count" for the three control tables, the date line and the
// engine line). The counts are taken inside the transaction that holds the control tables locked while
// pg_dump runs, so they are the counts of the data the dump holds; they are stored in config_veliro.control
// from another connection before the dump begins, so the archive's copy of that table holds them too.
// Where the server and pg_dump can share a snapshot (9.2 and later) the dump reads the database as the
// locking transaction saw it right after those counts were stored.
//
//     ParametrosRespaldo p;
//     p.servidor = host; p.puerto = port; p.usuario = user; p.clave = password;
//     p.carpetaBin = installFolder + "bin";            // pg_dump, pg_dumpall, pg_config
//     p.carpetaPrograma = v7::paths::programFolder();  // the staging folder r<yyyymmdd> goes here
//     p.carpetaScripts = p.carpetaPrograma + "config/"; // where v7.Backup.bat and the others are written
//     p.archivo = "/backups/veliro7_20240101.zip";
//     p.carpetaExistente = CarpetaExistente::Fallar;   // another backup of the day may be running
//     p.avance = [&](PasoRespaldo paso) { log(textoPaso(paso)); };
//     const BloqueoRespaldo lock(p.carpetaPrograma);    // one backup per program folder at a time
//     if (!lock.tomado()) { log(lock.error()); return; }
//     const ResultadoRespaldo r = escribirRespaldo(p, connection); // a shared_ptr: kept alive meanwhile
//     if (!r.ok()) log(myOwnTextFor(r.falla, r.script, r.detalle));
//
// On every failure the transaction is ended, the staging folder and the scripts with their output files
// are removed, and no archive is left at p.archivo (an older archive of that name stays as it was; a new
// one replaces it only once it was packed and tested). The connection is left open and outside any
// transaction. Each program maps the failure to its own message text. The same clean-up runs when a
// signal or a time limit ends the program meanwhile (process::terminarConLimpieza). With
// CarpetaExistente::Vaciar the writer first sweeps what a run killed outright left: the backup's own files in
// staging folders (and a folder once that empties it) and the private packing folders beside the destination
// (ResultadoRespaldo::restosBarridos); anything else in a staging folder stays.
//
// Files: the staging folder is made 0700 and everything the tools write is 0600 (umask 077); the password
// reaches the tools in their environment only, never in a script; no link is followed when the staging
// folder, its files or the scripts and their outputs are made, emptied or removed (a link at the staging
// folder's name is refused). Every tool is the child itself (its script ends in exec), so it dies with
// the program even when the program is killed outright.
#pragma once

#include "platform/db.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

namespace v7 {

// The control tables, in the order their lines stand in checksum.dat.
inline const QStringList kTablasControl{QStringLiteral("catalogos.usuarios"), QStringLiteral("prestamo.devoluciones"),
                                        QStringLiteral("prestamo.multas")};

// Members of the archive.
inline const QString kMiembroVolcado = QStringLiteral("base.backup");
inline const QString kMiembroRoles = QStringLiteral("rolesv7.sql");
inline const QString kMiembroChecksum = QStringLiteral("checksum.dat");

// Scripts (and the version output file) the writer uses; all are removed when it returns.
inline const QString kScriptVolcado = QStringLiteral("v7.Backup.bat");
inline const QString kScriptRoles = QStringLiteral("v7.backup_rol.bat");
inline const QString kScriptVersion = QStringLiteral("v7.version.bat");
inline const QString kSalidaVersion = QStringLiteral("pg_version.txt");

// What to do when the day's staging folder exists already.
enum class CarpetaExistente {
    Vaciar, // empty it of the backup's own files and use it (a folder left by a crash must not add members;
            // one that holds anything else stops the backup, CarpetaNoCreada); the staging folders of earlier
            // days are cleared the same way and removed once empty (ResultadoRespaldo::restosDejados: what
            // stayed). Only while holding BloqueoRespaldo.
    Fallar, // fail at once, before touching the database
};

// The steps, in the order they run; avance is called before each.
enum class PasoRespaldo {
    Carpeta,  // staging folder
    Bloqueo,  // BEGIN, the three locks, counts and config_veliro.control
    Volcado,  // pg_dump
    Roles,    // pg_dumpall -g
    Version,  // pg_config --version
    Checksum, // checksum.dat
    Empaque,  // 7za a, 7za t, move into place
    Limpieza, // staging folder removed
};

// The bar of a backup: progreso goes from 0 to this.
inline constexpr int kMilesimasRespaldo = 1000;

// A configuration row (config_veliro.configuracion) that the archive must carry with another value than the
// live database keeps while the backup runs: enArchivo is written with the control counts, before the dump
// reads the table, and enCurso again once the dump's snapshot is fixed (on servers that cannot share a
// snapshot, once the dump has ended).
struct ValorEnArchivo {
    QString clave;
    QString enArchivo;
    QString enCurso;
};

struct ParametrosRespaldo {
    QString servidor;
    int puerto = 0;
    QString usuario;
    QString clave;           // reaches the tools only in their environment (PGPASSWORD), never in a file
    QString carpetaBin;      // the PostgreSQL tools' folder (with or without final "/")
    QString carpetaPrograma; // holds the staging folder "r" + yyyymmdd; 7za and its work files are looked up
                             // in paths::programFolder(), which is normally this same folder
    QString carpetaScripts;  // where the scripts and their outputs are written; empty: carpetaPrograma
    QString archivo;         // the destination .zip
    CarpetaExistente carpetaExistente = CarpetaExistente::Vaciar;
    QDateTime momento;                        // the backup's date and time (folder name, date line); invalid: now
    std::function<void(PasoRespaldo)> avance; // may be empty; called on the writer's thread
    // How far the work has got, 0 to kMilesimasRespaldo, and what it is doing, in Spanish: at each step, and
    // while the dump and the packing run, from a thread of its own (by the tables the dump has read and the
    // archive's size so far). Calls never overlap. May be empty.
    std::function<void(int milesimas, const QString& texto)> progreso;
    QVector<ValorEnArchivo> valoresEnArchivo;
};

enum class FallaRespaldo {
    Ninguna,
    CarpetaExistente,  // the staging folder exists and carpetaExistente is Fallar (detalle: its path)
    CarpetaNoCreada,   // the staging folder could not be made or emptied (estado: system error number;
                       // detalle: system text and path), or it holds what is not the backup's (estado: 58;
                       // detalle: a sentence naming those files)
    SinClaveCifrado,   // VER_V7TOOLS selects no scrambler key (detalle: why)
    Sentencia,         // a statement failed (estado: the driver's error number; detalle: its text, the statement)
    ScriptNoEscrito,   // CrearArchivoBat failed (script; detalle: its text)
    ScriptNoIniciado,  // the runner could not start the script (script; detalle: "number description")
    HerramientaFallo,  // the tool exited with a non-zero status (script; estado: the status; detalle: its error
                       // lines; tamanoSalida)
    ArchivoVacio,      // the tool's output file is missing or empty, or holds no version line (script; detalle:
                       // the file's path; estado and tamanoSalida: 0 when it exists empty, -1 when missing)
    ChecksumNoEscrito, // checksum.dat could not be written (detalle: system text)
    Empaque,           // ComprimirRespaldo failed (detalle: its text)
    Destino,           // the destination cannot take the archive (detalle: the whole message, see
                       // motivoDestinoRespaldo); nothing was made or locked
};

enum class ScriptRespaldo { Ninguno, Volcado, Roles, Version };

struct ConteoControl {
    QString tabla;
    qint64 registros = 0;
};

struct [[nodiscard]] ResultadoRespaldo {
    FallaRespaldo falla = FallaRespaldo::Ninguna;
    ScriptRespaldo script = ScriptRespaldo::Ninguno;
    int estado = 0;
    qint64 tamanoSalida = -1; // size of the failed tool's output file (-1: missing)
    QString detalle;
    QString carpeta;                // the staging folder used (removed by now)
    QVector<ConteoControl> conteos; // as written to checksum.dat and config_veliro.control (once taken)
    QString version;                // the engine line (plain), once read
    QStringList restosBarridos;     // what a killed run had left and this one removed (CarpetaExistente::Vaciar)
    QStringList restosDejados;      // what lay in an earlier day's staging folder and was not the backup's: left
    bool ok() const { return falla == FallaRespaldo::Ninguna; }
};

// One backup at a time per program folder (the staging folder's name depends only on the date): holds the
// flock of carpetaPrograma + "config/respaldo.lock" while it lives; a process that dies holds nothing. Take
// it before escribirRespaldo, above all with CarpetaExistente::Vaciar.
class BloqueoRespaldo {
public:
    explicit BloqueoRespaldo(const QString& carpetaPrograma);
    ~BloqueoRespaldo();
    BloqueoRespaldo(const BloqueoRespaldo&) = delete;
    BloqueoRespaldo& operator=(const BloqueoRespaldo&) = delete;

    bool tomado() const { return m_fd >= 0; }
    bool ocupado() const { return m_ocupado; } // not taken because another backup holds it
    QString ruta() const { return m_ruta; }
    QString error() const { return m_error; } // why it was not taken

private:
    int m_fd = -1;
    bool m_ocupado = false;
    QString m_ruta;
    QString m_error;
};

// Writes the archive (see the top of this file). The connection must be open; it is used for the
// scrambler key (VER_V7TOOLS), the UPDATEs of config_veliro.control and the rows of valoresEnArchivo; the
// locks and the counts are taken on a connection the writer opens with its connection string.
ResultadoRespaldo escribirRespaldo(const ParametrosRespaldo& parametros,
                                   const std::shared_ptr<db::Connection>& conexion);

// Why archivo cannot take the backup, as the whole message; empty when it can. The path must be absolute,
// its folder must exist and no folder may stand at its name ("No se logro crear el archivo de respaldo: "
// archivo, CR LF, the reason); it must not lie in a staging folder of carpetaPrograma ("r" + yyyymmdd,
// removed by the backup) nor be one of the work files of carpetaScripts or the program's config/.
QString motivoDestinoRespaldo(const QString& archivo, const QString& carpetaPrograma, const QString& carpetaScripts);

// The staging folder: carpetaPrograma + "r" + yyyymmdd (no final "/").
QString carpetaRespaldo(const QString& carpetaPrograma, const QDate& fecha);

// The status text of a step ("Respaldando la base de datos...").
QString textoPaso(PasoRespaldo paso);

// The script file name of a step ("v7.Backup.bat"...); empty for Ninguno.
QString nombreScript(ScriptRespaldo script);

// The plain lines of checksum.dat, before scrambling: "table#count" in kTablasControl order, the date line
// ("yyyy-MM-dd HH:mm:ss") and, when not empty, the engine line.
QStringList lineasChecksum(const QVector<ConteoControl>& conteos, const QDateTime& momento, const QString& version);

// The engine line from pg_config's output: its first line, trimmed, upper case.
QString lineaVersion(const QByteArray& salidaPgConfig);

// The pg_dump and pg_dumpall command texts for sh (values quoted; the tools taken from carpetaBin, else
// from PATH). -i goes only to tools older than 9.5 and -o only to tools older than 12 (newer ones reject
// them); versionNum is the tools' numeric version (90400, 150018), < 0 when unknown (taken as new). The
// tools' error output goes to the file errores. instantanea, when given, is the exported snapshot the dump
// reads (--snapshot).
QString comandoVolcado(int versionNum, const QString& carpetaBin, const QString& servidor, int puerto,
                       const QString& usuario, const QString& destino, const QString& errores,
                       const QString& instantanea = QString());
QString comandoRoles(const QString& carpetaBin, const QString& servidor, int puerto, const QString& usuario,
                     const QString& destino, const QString& errores);

// The numeric version in a tool's version text ("pg_dump (PostgreSQL) 15.18" -> 150018, "9.4.26" -> 90426);
// -1 when it holds none.
int versionNumerica(const QString& texto);

// The numeric version of the pg_dump in carpetaBin (pg_dump --version); -1 when it cannot be told.
int versionPgDump(const QString& carpetaBin);

} // namespace v7
