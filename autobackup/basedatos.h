// V7backup's own SQL layer on the shared connection (sesion().ConexionPrincipal, reconnected with
// sesion().CadenaConexion). It keeps the routine names and error texts of V7Tools's layer, with this
// program's differences: its query error text has a blank after the number, its dead-connection
// test, its reconnection routine and its literal formatter. The statements and queries run through
// V7Tools's one implementation (core/sql.h) under this program's policy; the configuration upsert is
// V7Tools's too (core/config.h). Call them with their namespace: autobackup::ExecuteSQLaction.
#pragma once

#include "core/errores.h"
#include "core/sql.h"
#include "platform/db.h"

#include <QString>
#include <QVariant>

namespace v7::autobackup {

// A raised error as the run's error lines show it: the number and the description.
struct Falla {
    qint64 numero = 0;
    QString descripcion;
    bool hay() const { return numero != 0 || !descripcion.isEmpty(); }
};

// The number of a type-mismatch conversion error ("No coinciden los tipos").
inline constexpr qint64 kErrorTipos = err::kTiposNoCoinciden;

// Runs a statement that returns no rows. True with the affected rows; false with rows -1 and
// "Error: <n><description>" CR LF "[Source]: public function ExecuteSQLaction" CR LF "[cadSQL]:<sql>".
// A closed connection is reopened first. A lost connection is reopened once and the statement run
// once more, except inside a transaction (which died with the connection).
bool ExecuteSQLaction(const QString& sql, int& rows, QString& errorText);

// Runs a query: a recordset on its first row, or nullptr with count -1 and
// "Error: <n> <description>" CR LF "[Source]: public function ExecuteSQLrs" CR LF "[cadSQL]:<sql>".
// With countClause, count is "SELECT count(*) as total " + countClause, else the record count.
RecordsetPtr ExecuteSQLrs(const QString& sql, int& count, QString& errorText, const QString& countClause = QString());

// Replaces the shared connection by a new one opened with cadena. On failure the connection is
// released and errorText is "Ocurrió el error: <n> <description>" CR LF <cadena, password redacted>;
// a server that cannot be reached is also told through v7::avisar (the unattended run logs it).
bool conServidor(const QString& cadena, QString& errorText);

// Upserts key = value on the shared connection while it is open (backslashes doubled, quotes doubled,
// trimmed), serialised with every other writer of the table (guardarValorConfiguracion). True when a row
// was updated or inserted; false when the connection is closed or a statement failed (errorText, when
// given, says which).
bool GuardarConfiguracion(const QString& value, const QString& key, QString* errorText = nullptr);

// Kinds of FormatearValorSQL.
enum TipoValor { kNumero0 = 0, kNumero1 = 1, kTexto = 2, kFecha = 3, kBooleano = 4 };

// The value as an SQL literal: kinds 0/1 the number ("NULL" for null or empty), 2 the trimmed text
// without NULs quoted ("''" when empty, backslashes doubled, quotes doubled, "?" written "\?", in
// E'…' so the stored value is the text itself), 3 'yyyy-mm-dd hh:mm:ss', 4 TRUE/FALSE; null gives
// "NULL", another kind the empty text, a value that does not convert "NULL".
QString FormatearValorSQL(const QVariant& value, int kind);

// Whether schema.table exists (column empty) or has that column, through this layer's ExecuteSQLrs.
bool ExisteColumna(const QString& schema, const QString& table, const QString& column = QString());

} // namespace v7::autobackup
