// The export file of a collection: a plain-SQL dump of the thirteen staging tables, made by the
// server's own pg_dump, then packed into a .zip with the same name.
//
// The destination folder may be one that other users write (a shared folder): nothing there is reached by
// a name that someone could have planted or swapped. The dump goes into a file the kit creates itself in a
// private folder (0700, a name nobody can foresee) made in the destination, is packed from there, and only
// the finished export file is moved to its name, never onto a link or another user's file.
#pragma once

#include "platform/archivo_seguro.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace v7::acervo {

// ---------------------------------------------------------------- shared by the export files

// Whether nombre in c is a regular file of this program's user: an earlier export, which a run may replace or
// remove. Anything else there (a link, another user's file, a folder) is not the kit's to touch.
bool esArchivoPropio(const archivo::Carpeta& c, const QString& nombre);
// Removes nombre from c when it is such a file (the name itself: nothing swapped in is followed).
void quitarSiEsPropio(const archivo::Carpeta& c, const QString& nombre);

struct [[nodiscard]] Colocacion {
    QString nombre;  // the name it got in the destination; empty when it could not be moved
    QString ocupado; // the name it was meant to have, when something that is not the kit's stood there
    int error = 0;   // errno when it could not be moved
    bool ok() const { return !nombre.isEmpty(); }
};

// Moves nombre of privada to destino under the same name, over an earlier file of this program's user; where
// a link or anything else stands at it, under the first free name "<base>-2<ext>", "-3"…
Colocacion colocarExportacion(const archivo::Carpeta& privada, const QString& nombre, const archivo::Carpeta& destino);

// The closing box's paragraph when the name was taken: ocupado was left alone and the export file saved as
// colocado, or under the name the box gives above it when colocado is empty.
QString textoNombreOcupado(const QString& ocupado, const QString& colocado = QString());

// ---------------------------------------------------------------- the dump

struct ParametrosVolcado {
    QString carpetaBin; // the server's client tools
    QString servidor;
    int puerto = 0;
    QString usuario;
    QString clave;         // reaches pg_dump through its environment only
    QString archivoBackup; // the export file's name: folder + respB….backup
};

// pg_dump's arguments: no ownership commands, plain SQL to its standard output, each staging table as one
// exact name, and --strict-names so that a missing table fails the dump instead of leaving it out.
QStringList argumentosVolcado(const ParametrosVolcado& p);

enum class FallaVolcado {
    Ninguna,
    Carpeta,    // the destination folder cannot take the dump (detalle says why)
    NoIniciado, // pg_dump could not be started
    Fallido,    // pg_dump ended with an error
    SinArchivo, // it reported success but wrote nothing
    Colocacion, // the finished export file could not be moved to its name (detalle says why)
};

struct [[nodiscard]] ResultadoVolcado {
    FallaVolcado falla = FallaVolcado::Ninguna;
    int estado = -1;       // pg_dump's exit status
    QString detalle;       // pg_dump's error lines, or why the folder or the file could not be used
    bool empacado = false; // the .zip was written and checked; otherwise the .backup is the export file
    QString archivo;       // the export file as placed
    // The name it was meant to have, when a link or another user's file stood there: it is left alone and
    // archivo is the next free name ("respB07_20180907_1435-2.zip").
    QString nombreOcupado;
    bool ok() const { return falla == FallaVolcado::Ninguna; }
};

// Dumps the staging tables, packs the dump into its .zip (one entry, the dump's file name) and puts the
// export file at its name in p.archivoBackup's folder: the .zip, or the .backup when packing failed. Events
// run while pg_dump works; volcado, when given, hears when the dump is done, before packing. An older export
// file of this program's user at the .backup or .zip name is replaced or removed, so it cannot pass for this
// run's output; after a failure no file of those names of this user is left, nor anything of this run.
ResultadoVolcado volcarExportacion(const ParametrosVolcado& p, const std::function<void()>& volcado = {});

} // namespace v7::acervo
