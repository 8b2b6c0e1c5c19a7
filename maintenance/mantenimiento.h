// Maintenance statements of the maintenance window's restore: one statement with only a success flag,
// reopening the shared connection from the login's typed values, raising every serial sequence to its
// column's highest value, and statements too long to run on the window's thread.
#pragma once

#include "platform/db.h"

#include <QString>
#include <QStringList>

namespace v7 {

// Runs sql on the shared connection; exito is true when it ran. Shows nothing.
void EjecutarSentencia(const QString& sql, bool& exito);

// The connection string ConectarODBC opens: driver "PostgreSQL Unicode", the password braced ("}" doubled),
// a server or user that SERVER=/UID= cannot carry in pqopt (cadenaConexionOdbc).
QString cadenaConectarODBC(const QString& servidor, int puerto, const QString& usuario, const QString& clave);

// Reopens the shared connection with the login's typed server, port, user and password (the session's
// connection values while the login has not copied them yet, as during the login's offer to restore).
// exito is true when it opened. Shows nothing.
void ConectarODBC(bool& exito);

// One serial column and the sequence its default draws from.
struct ColumnaSerial {
    QString esquema, tabla, columna;
    QString secuencia; // as regclass text: quoted where needed, schema-qualified
};

// The columns whose default is nextval(...), with their sequences, in schema order. ok false (with the
// driver's text in error) when the list could not be read.
QVector<ColumnaSerial> columnasSeriales(bool& ok, QString& error);

// The statement that raises one sequence to the column's highest value: it never moves a sequence back,
// and an empty table leaves it as it is.
QString sentenciaSecuencia(const ColumnaSerial& c);

// Raises every serial sequence of the database so that its next value follows the highest stored in its
// column. The failure texts, in order: one "No se logro actualizar la secuencia <name>" per sequence that
// could not be raised (the others still are), or the routine's error when the columns could not be listed.
[[nodiscard]] QStringList ActualizarSecuenciasVELIRO();

// Runs one statement on a connection of its own (the session's connection string) in a worker thread,
// letting window events run meanwhile: for REINDEX and long UPDATEs that would otherwise freeze the
// windows. No statement time-out applies to it. True when it ran; else error holds the driver's failure.
bool sentenciaLarga(const QString& sql, db::DbError& error);

// The folder of the client tools that match the connected server (by numeric major version), else the
// installation's bin folder. No final "/".
QString carpetaHerramientas();

} // namespace v7
