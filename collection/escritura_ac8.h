// The previous generation's collection file (.ac8), written from the staged collection of one library:
// the file and its two tables, then one row per staged item and per staged record. A row the file
// refuses, or whose item number does not fit its key, is left out, logged and counted; a descriptive text
// longer than its field is cut to it, logged and counted; the closing message says how many of each.
// Progress and log lines go through InterfazExportacion; nothing here shows a box.
//
// The chosen folder may be one that other users write: the file is built in a private folder of the
// program's work folder, copied through descriptors into a file made in a private folder (0700, a name
// nobody can foresee) inside the chosen folder, and only then moved to its name, never onto a link or
// another user's file.
#pragma once

#include "collection/ac8.h"
#include "collection/corrida_exportacion.h"

#include <QString>
#include <QStringList>

namespace v7::acervo {

// Creates the file with its two tables and closes it; the file's failure when it could not.
ac8::Resultado crearArchivoAc8(const QString& ruta);
ac8::Resultado definirTablaEjemplares(ac8::ArchivoAcervo& archivo);
ac8::Resultado definirTablaFichas(ac8::ArchivoAcervo& archivo);
// The message of a file that could not be created: its number, two line ends, its description.
QString textoFallaAc8(const ac8::Resultado& r);

// Whether the chosen name can take the file: not while a folder stands there. Nothing is removed here: an
// earlier file of this program's user at the name is replaced only by the finished file.
bool nombreAc8Utilizable(const QString& ruta);

// A record's fixed data (its last 008 row) and its packed tags, read through the tag function of the
// server. False with error when the tags could not be read. conEnlaces: whether the live tag table has its
// link columns (asked of the server when not given).
bool etiquetasV6(qint64 idficha, QString& datosFijos, QString& etiquetas, QString* error = nullptr,
                 std::optional<bool> conEnlaces = std::nullopt);

// How a run of the writer ended.
struct [[nodiscard]] ResultadoAc8 {
    bool creado = false;          // the file was created and its rows written (some may be left out)
    int ejemplaresFuera = 0;      // items left out
    int fichasFuera = 0;          // records left out
    int filasRecortadas = 0;      // rows written with a text cut to its field
    QStringList lecturasFallidas; // staged rows or the file that could not be read or saved
    QString titulo;               // the closing message; empty when the failure was shown on the way
    Fallo mensaje;
    QString archivo; // the file as placed; empty when none was
    // The chosen name, when a link or another user's file stood there: it is left alone and archivo is the
    // next free name ("acervo-2.ac8").
    QString nombreOcupado;
    // Whether the error log has lines to show.
    bool conDetalles() const {
        return ejemplaresFuera > 0 || fichasFuera > 0 || filasRecortadas > 0 || !lecturasFallidas.isEmpty();
    }
};

// The closing message of a written file: "Exportación exitosa" only when no row was left out or cut; it
// names the file when it went under a free name.
void textoCierreAc8(ResultadoAc8& r);

// Writes the file from the staged items and records of library nBib and puts it at ruta: over an earlier
// file of this program's user, else (a link or anything else at the name) under the next free name. Once
// the file is made it is put in place whatever the run met afterwards (the rows written stay); when it
// could not be made or placed, an earlier file of this user at ruta is removed, so it cannot pass for this
// run's output, and nothing of the run is left. The overall bar goes 1 to 5, the specific bar row by row;
// the closing steps put both back at 1 and clear the status texts.
ResultadoAc8 escribirAc8(const QString& ruta, int nBib, const InterfazExportacion& ui);

} // namespace v7::acervo
