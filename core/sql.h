// The SQL layer on the shared connection: statements, queries and reopening a dropped connection.
// Failures are reported by result and an error text whose three lines callers show or inspect.
#pragma once

#include "platform/db.h"

#include <QString>

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

// How many reopen-and-retry cycles one statement may take before its last failure is returned.
inline constexpr int kMaxReconnectCycles = 3;

// The three-line error text of the execution routines (passwords in the statement redacted).
QString sqlErrorText(const db::DbError& e, const QString& routine, const QString& sql);

// Whether an error means the connection is gone: the texts the system always looked for, or
// psqlODBC's SQLSTATEs for a lost connection.
bool esConexionPerdida(const QString& errorText, const db::DbError& e);

} // namespace v7
