// The pieces of the import of a collection export on a library's own server: reading the chosen file
// (the dump, or the export's .zip holding it), running psql on a script the kit did not write, the checks
// made on what was loaded, the merge script and the counts shown afterwards. corrida_importacion.h puts
// them in order; nothing here shows a box.
#pragma once

#include "core/psql_ajeno.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace v7::acervo {

// Every staging table dropped, in one text: "DROP TABLE IF EXISTS analisis.zexporta_…;" thirteen times.
QString sentenciaBorrarTablas();

// Whether the staging tables are still there (the merge script drops them when it commits). nullopt
// when the catalogue could not be read.
std::optional<bool> hayTablasExportacion(QString& error);
// Whether every one of the thirteen staging tables is there (a dump loaded whole). nullopt on failure.
std::optional<bool> tablasExportacionCompletas(QString& error);

// The largest export file read (a dump, or what a .zip holds).
inline constexpr qint64 kLimiteArchivoImportacion = 1024LL * 1024 * 1024;

// The chosen export file, read into memory: the dump itself, or the one .backup member of the export's
// .zip. A link at the chosen name, anything but a regular file and a file over the limit are refused.
struct ArchivoImportacion {
    QByteArray datos;
    QString motivo; // why it cannot be imported, in Spanish; empty when read
    bool ok() const { return motivo.isEmpty(); }
};
ArchivoImportacion leerArchivoImportacion(const QString& ruta);

// The .backup member of a zip archive held in memory (at most limite bytes).
ArchivoImportacion dumpDelZip(const QByteArray& zip, const QString& ruta, qint64 limite = kLimiteArchivoImportacion);

// Whether the bytes are a collection export dump: it creates the staging tables.
bool esExportacion(const QByteArray& datos);

// The sentence that names the file the import needs.
QString textoArchivoNecesario();

// The check of an export file's statements, for prepararScriptAjeno: what pg_dump writes for the staging
// tables and nothing else. The settings of a dump's head (SET of its own settings, the search path through
// set_config), CREATE TABLE of a staging table with plain columns of the server's own types, COPY of a
// staging table from stdin with its data, and comments run; ALTER TABLE … OWNER TO of a staging table is
// left out (the load's login owns what it makes). Anything else is refused, naming its line. A staging
// table is one of the thirteen, in schema analisis (named so, or through a search path that starts there).
RevisorSentencias revisorExportacion();
// The export file prepared for psql under that check.
ScriptAjeno prepararExportacion(const QByteArray& datos);

// The login psql connects as.
struct CuentaPsql {
    QString usuario;
    QString clave;
};

// One run of psql on database veliro7 with the session's login (or the one given), its password only in
// psql's environment, reading the script on its standard input (prepared by core/psql_ajeno: a fresh
// \restrict key first) and stopping at the first failing statement.
struct ResultadoPsql {
    bool iniciado = false;
    QString errorInicio; // why it did not start
    int estado = -1;     // exit status: 0 ok, 1 file, 2 connection, 3 script error
    QStringList errores; // psql's error lines
    bool ok() const { return iniciado && estado == 0; }
    // The failure for a message box: what the exit status means (Spanish), then "Detalle: " and psql's
    // lines without the statements they quote (empty when ok).
    QString detalle() const;
};

// Runs psql of carpetaBin on entrada; its output and error lines go to the file salida.
ResultadoPsql ejecutarPsql(const QString& carpetaBin, const QByteArray& entrada, const QString& salida,
                           const CuentaPsql* cuenta = nullptr);

// The load of an export file runs as a login made for it alone: it may connect to veliro7 and create tables
// in schema analisis, nothing more (no server programs, roles, settings of the server, other tables,
// functions or extensions). Its password is fresh and random and reaches the server only as a SCRAM
// verifier, psql only through its environment. After psql, the login may own nothing but plain staging
// tables (no triggers, rules, indexes, defaults, constraints, policies, grants): those are handed to the
// session's login and the login is dropped; anything else it made is dropped with it and named.
struct ResultadoCarga {
    ResultadoPsql psql;
    QString cuenta; // the login that loaded the file
    QString ajeno;  // what the file made that a load does not (dropped again); empty when nothing
    QString error;  // the login could not be made or taken away: Spanish, then the server's words
    bool ok() const { return error.isEmpty() && ajeno.isEmpty() && psql.ok(); }
};
ResultadoCarga cargarConCuentaTemporal(const QString& carpetaBin, const QByteArray& entrada, const QString& salida);

// The logins of loads that never reached their end (a killed program) are dropped once their validity has run
// out (a day). Nothing is reported: the next load tries again.
void retirarCuentasVencidas();

// The prefix of those logins' names.
inline const QString kPrefijoCuentaCarga = QStringLiteral("v7_carga_");

// A password as the server stores it for SCRAM-SHA-256 ("SCRAM-SHA-256$<iterations>:<salt>$<stored key>:<server
// key>"), so that the password itself is never sent in a statement (nor written to the server's log).
QString verificadorScram(const QByteArray& clave, const QByteArray& sal, int iteraciones = 4096);

// psql's error lines in its output (at most a screenful); the last lines when none is marked. Lines that
// quote a statement or its data (LINE, CONTEXT, QUERY, the caret) are left out.
QStringList lineasErrorPsql(const QByteArray& salida);

// --- The checks of the loaded file --------------------------------------------------------------------

// Items of the file that belong to a library other than BIBLIO_ACTIVA's (0 without that row).
std::optional<qint64> ejemplaresDeOtraBiblioteca(QString& error);
// ACT_ACERVO (empty without the row) and the file's own stamp (empty when it has none).
std::optional<QString> versionInstalada(QString& error);
std::optional<QString> versionCargada(QString& error);

// A stamp "yyyymmdd_hhmm" as a moment; nullopt when it is not one.
std::optional<QDateTime> leerSello(const QString& sello);
// The date of a moment as messages show it: Spanish weekday and month names, "ddd d 'de' MMM 'de' yyyy".
QString textoFecha(const QDate& fecha);
// The refusal of a file that is not newer than the installed update; nullopt when a stamp cannot be read.
std::optional<QString> mensajeNoReciente(const QString& instalada, const QString& cargada);

// --- Before the merge ----------------------------------------------------------------------------------

// "COLECCION: " … "EJEMPLARES: [" … "]" for each collection of the file that this server lacks;
// empty when none is missing.
std::optional<QString> coleccionesFaltantes(QString& error);
QString mensajeColecciones(const QString& lista);

// Open unprocessed-item entries (state 16 and above) of items that the file brings.
struct NoProcesado {
    QString noAdqui;
    QString estado;
};
std::optional<QVector<NoProcesado>> noProcesadosIncluidos(QString& error);
QString mensajeNoProcesados(const QVector<NoProcesado>& items);
// The statement that takes one entry out of the unprocessed items: state 16 is closed, a higher
// state loses its 16 and stays open.
QString sentenciaQuitarNoProcesado(const NoProcesado& item);

// The tag table of a server never exported from lacks the link columns that the staged tag rows
// carry, and the merge copies rows by position: they are added as the export adds them. Empty on
// success, else the reason.
QString asegurarColumnasEnlace();

// --- The merge script ----------------------------------------------------------------------------------

inline const QString kVacuum = QStringLiteral("VACUUM FULL ANALYZE;");

// A template file's text: UTF-8 when it is valid UTF-8, else Windows-1252 (files saved on Windows).
QString decodificarPlantilla(const QByteArray& bytes);

// The merge script that runs: the program's own (staff may change the stored copies), without its closing
// vacuum. Empty when the program carries none.
QString scriptPropio();

// The stored copy of the merge script: the shared work-files folder's file while one is configured, else
// the row RESTAURA_ACERVO of reportes.plantillas. It is read only to be compared with the program's own.
struct CopiaGuardada {
    QString origen; // the file or the table
    QString texto;  // decoded; empty when not read
    bool leida = false;
    QString error; // why it could not be read (the SQL layer's text or a Spanish reason)
};
CopiaGuardada leerCopiaGuardada();

// Whether two texts of the script are the same script: line ends and the closing vacuum do not count.
bool mismoScript(const QString& a, const QString& b);
// What the user is told when the stored copy is missing or is not the program's own; empty when it is.
QString avisoCopiaGuardada(const CopiaGuardada& copia, const QString& propio);

// --- After the merge -----------------------------------------------------------------------------------

struct EstadisticasAcervo {
    QString fichas;     // "Libros (n). Revistas (n). Analíticas (n)."
    QString ejemplares; // "Libros (n). Revistas (n)."
};
// Records and items of the merged collection (the unprocessed-items record and accompanying material
// left out); nullopt with the SQL layer's error text when they could not be counted.
std::optional<EstadisticasAcervo> estadisticasAcervo(QString& error);
QString mensajeEstadisticas(const EstadisticasAcervo& e);
// Records left in status MON by the merge become CAP.
QString sentenciaCerrarMontadas();

} // namespace v7::acervo
