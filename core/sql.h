// The SQL layer on the shared connection: statements, queries and reopening a dropped connection.
// Failures are reported by result and an error text whose three lines callers show or inspect.
#pragma once

#include "platform/db.h"
#include "platform/events.h"

#include <QString>

#include <functional>
#include <memory>

namespace v7 {

using RecordsetPtr = std::unique_ptr<db::Recordset>;

// Runs a statement that returns no rows. True with the driver's row count; false with -1 and
// "Error: <n><description>" CR LF "[Source]: public function ExecuteSQLaction" CR LF "[cadSQL]:<sql>".
// A dropped connection is reopened with CadenaConexion and the statement retried (a bounded number of times).
bool ExecuteSQLaction(const QString& sql, int& rowsAffected, QString& errorText);

// Runs a query: an open recordset on its first row (at end of data when empty), or nullptr with
// total -1 and the error text. With countFrom (the FROM/WHERE part) total gets
// "SELECT count(*) as total " + countFrom, else 0.
RecordsetPtr ExecuteSQLrs(const QString& sql, int& total, QString& errorText, const QString& countFrom = QString());

// Replaces the shared connection with one freshly opened with connectionString. On failure the
// shared connection is emptied and errorText is "Ocurrió el error: <n> <description>" CR LF <string>.
bool ConexionServer(const QString& connectionString, QString& errorText);

// The connection time-out of every reopening, as the login gives its own.
inline constexpr int kPlazoConexionSegundos = 5;

// How many reopen-and-retry cycles one statement may take before its last failure is returned.
inline constexpr int kMaxReconnectCycles = 3;

// The three-line error text of the execution routines (passwords in the statement redacted).
QString sqlErrorText(const db::DbError& e, const QString& routine, const QString& sql);

// Whether an error means the connection is gone: the texts the system always looked for, or
// psqlODBC's SQLSTATEs for a lost connection.
bool esConexionPerdida(const QString& errorText, const db::DbError& e);

// How a program's SQL layer on the shared connection behaves. V7Tools's routines above and V7backup's
// (autobackup/basedatos.h) are this one implementation, each with its own policy: their texts, how often
// a lost connection is reopened and the statement retried, and how it is reopened. A statement of a
// transaction that died with its connection is never retried (it would commit on its own).
struct PoliticaSql {
    bool abrirSiCerrada = false;        // reopen a closed shared connection before running
    int reintentosAccion = 0;           // reconnect-and-retry cycles of a statement
    int reintentosConsulta = 0;         // ... of a query
    bool blancoEnErrorConsulta = false; // "Error: <n> <description>" in a query's error text
    bool cuentaDelRecordset = false;    // without a count clause the count is the record count (else 0)
    std::function<bool(const QString& errorText, const db::DbError& e)> conexionPerdida;
    std::function<bool(const QString& cadena, QString& errorText)> reconectar; // with CadenaConexion
};

// V7Tools's policy: up to kMaxReconnectCycles retries of a statement, none of a query, ConexionServer.
const PoliticaSql& politicaHerramientas();

// The limits of statements that a window sends and a person waits for: how long one may wait for another
// session's lock, and how long it may run. The long maintenance work (backup, restore, compaction) has its
// own progress and no such limit.
struct Plazos {
    int bloqueoMs = 5000;
    int sentenciaMs = 30000;
};
inline constexpr Plazos kPlazosInteractivos{};

// Sets the limits on the shared connection for as long as it lives (session settings, put back to the
// server's defaults at the end; a connection reopened meanwhile starts with the defaults anyway).
class PlazosEnConexion {
public:
    explicit PlazosEnConexion(const Plazos& plazos);
    ~PlazosEnConexion();
    PlazosEnConexion(const PlazosEnConexion&) = delete;
    PlazosEnConexion& operator=(const PlazosEnConexion&) = delete;
};

// Runs trabajo (statements on the shared connection) under the limits, on a thread of its own while the
// windows keep running (the status probe keeps off the connection meanwhile), and returns its result.
// A limit that runs out makes the statement fail with SQLSTATE 55P03 (lock) or 57014 (time-out); its
// error text gives err::fraseDeErrorSql() its Spanish sentence.
template <typename F> auto conPlazos(const Plazos& plazos, F&& trabajo) {
    events::OperacionLarga larga;
    return events::esperar([&] {
        PlazosEnConexion limites(plazos);
        return trabajo();
    });
}

// ExecuteSQLaction and ExecuteSQLrs under a policy (their results and texts as described above).
bool ejecutarAccion(const PoliticaSql& politica, const QString& sql, int& rowsAffected, QString& errorText);
RecordsetPtr ejecutarConsulta(const PoliticaSql& politica, const QString& sql, int& total, QString& errorText,
                              const QString& countFrom);

} // namespace v7
