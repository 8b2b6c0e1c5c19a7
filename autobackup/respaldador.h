// The unattended backup procedure: one archive of database veliro7 written by the shared archive
// writer (maintenance/respaldo.h) on the session's connection and credentials, with this program's
// failure texts.
#pragma once

#include "autobackup/basedatos.h"
#include "maintenance/respaldo.h"

#include <QString>

namespace v7::autobackup {

// The folder of the command scripts (RutaConfig): program folder + "config", no final "/".
QString RutaConfig();

// The failure text of a failed archive writer result (the caller logs it after
// " - No se realizó el respaldo. "). archivo is the destination path.
QString textoFalla(const ResultadoRespaldo& r, const QString& archivo);

// Writes the archive at archivo (already dated) from the session's server, port, user, password and
// RutaPostgres, on its open connection, holding the program folder's backup lock (BloqueoRespaldo).
// "OK" on success, else the failure text. On every path the backup's transaction is over, and neither
// the staging folder nor a password script is left. valores: configuration rows the archive carries with
// another value than the live database (ParametrosRespaldo::valoresEnArchivo). restos, when given, gets
// what a killed earlier run had left and this one removed; dejados what lay in an earlier day's staging
// folder, was not the backup's and stayed.
QString Respaldar(const QString& archivo, const QVector<ValorEnArchivo>& valores = {}, QStringList* restos = nullptr,
                  QStringList* dejados = nullptr);

} // namespace v7::autobackup
