// The export file of a collection: a plain-SQL dump of the thirteen staging tables, made by the
// server's own pg_dump, then packed into a .zip with the same name.
#pragma once

#include <QString>
#include <QStringList>

namespace v7::acervo {

struct ParametrosVolcado {
    QString carpetaBin; // the server's client tools
    QString servidor;
    int puerto = 0;
    QString usuario;
    QString clave; // reaches pg_dump through its environment only
    QString archivoBackup;
};

// pg_dump's arguments: no ownership commands, plain SQL, each staging table as one exact name, and
// --strict-names so that a missing table fails the dump instead of leaving it out.
QStringList argumentosVolcado(const ParametrosVolcado& p);

enum class FallaVolcado {
    Ninguna,
    NoIniciado, // pg_dump could not be started
    Fallido,    // pg_dump ended with an error
    SinArchivo, // it reported success but wrote no file
};

struct [[nodiscard]] ResultadoVolcado {
    FallaVolcado falla = FallaVolcado::Ninguna;
    int estado = -1; // pg_dump's exit status
    QString detalle; // pg_dump's error lines, or why it did not start
    bool ok() const { return falla == FallaVolcado::Ninguna; }
};

// Runs the dump into p.archivoBackup, letting events run while it waits. An older file of that name
// (and its .zip) is removed first; after a failure no file of that name is left.
ResultadoVolcado volcarExportacion(const ParametrosVolcado& p);

struct [[nodiscard]] ResultadoEmpacado {
    bool ok = false;
    QString archivo; // the export file to name: the .zip, or the .backup when packing failed
};

// Packs the dump into its .zip (one entry, the dump's file name) and removes the dump once the
// archive has been checked.
ResultadoEmpacado empacarExportacion(const QString& archivoBackup);

} // namespace v7::acervo
