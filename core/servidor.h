// Checks made before touching the server: the shared connection, pg_ctl's view of the local server, and
// the client-tools folder that matches the connected server.
#pragma once

#include <QString>

namespace v7 {

// Empty while the shared connection is open, else "No existe conexion con el servidor" (the connection
// object is created, closed, when there is none yet).
QString VerificarConexion();

// True when pg_ctl status on RutaPostgres + "data" says the server runs. Asked through the service layer
// (platform/service.h), as the data folder's owner; when pg_ctl cannot be asked (no installation, a user
// that may not run it) the reason is shown (critical icon) and the result is false.
bool EstadoServidor();

// The numeric major version in a version text ("PostgreSQL 9.0" -> 9, "PostgreSQL 15.18 on …" -> 15);
// -1 when it holds none.
int versionMayor(const QString& texto);

// The bin folder (no final "/") of the installation candidate that matches VersionServidor: the last one
// of exactly that name, else the last one of the same numeric major version; empty when none matches.
// Candidate lists that were never filled or do not match each other are shown as a failure (warning,
// titled "Error al ubicar utileria de respaldo del PostgreSQL") and give empty text.
QString ObtenerRutaBinPostgres();

} // namespace v7
