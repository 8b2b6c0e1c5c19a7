// The export run of one library's collection, apart from its window: the checks of what was chosen, the
// staging tables (the statements of exportacion.h, in their order, with their bookkeeping), the previous
// generation's renumbering and the dump file. The window fills InterfazExportacion with its progress bars,
// labels, log and boxes; nothing here touches a widget or shows a box.
//
//     acervo::InterfazExportacion ui;
//     ui.sentencia = [&](const QString& sql, QString& error) { return executeSQLasync(sql, PBar1, 0, error); };
//     ui.registro = [&](const QString& linea) { anteponer(txtLog, linea); };
//     …
//     const acervo::ResultadoPreparacion r = acervo::prepararExportacion(seleccion, version, ui);
#pragma once

#include "collection/exportacion.h"
#include "core/errores.h"

#include <QDate>
#include <QString>

#include <functional>
#include <optional>

namespace v7::acervo {

// What the export run reports and asks on the way. Every member may be left empty.
struct InterfazExportacion {
    // Runs one staging statement while the window stays live; false with the error lines in error. Empty:
    // ejecutarSentencia() below.
    std::function<bool(const QString& sql, QString& error)> sentencia;
    // The overall and the specific progress bars; maximo <= 0 leaves the maximum as it is.
    std::function<void(int valor, int maximo)> avanceGeneral;
    std::function<void(int valor, int maximo)> avanceEspecifico;
    std::function<void(const QString& texto)> estado;   // the status label
    std::function<void(const QString& linea)> registro; // a line on top of the run's log
    std::function<void(const QString& linea)> error;    // a line of the error log (previous generation's file)
    // A box on the way: of that severity, or a plain one without gravedad.
    std::function<void(std::optional<Gravedad> gravedad, const QString& texto, const QString& titulo)> aviso;
};

// One staging statement on a connection of its own (CadenaConexion, filled from the shared connection when
// empty), off the windows' thread. False with one "[n] - description" line per error.
bool ejecutarSentencia(const QString& sql, QString& error, const std::function<void()>& tick = {});

// --- The checks before anything is written --------------------------------------------------------------

struct DatosExportacion {
    bool hayBiblioteca = false;    // an entry of the library list is chosen
    std::optional<int> biblioteca; // its id, when the entry carries one
    QString carpeta;               // the destination folder
    QDate desde, hasta;
};

enum class RechazoExportacion { Ninguno, FaltaBiblioteca, BibliotecaNoValida, SinCarpeta, FechasInvertidas };

// The first check that fails, in the order they are made (the dates and the folder for both formats).
RechazoExportacion revisarExportacion(const DatosExportacion& d);

struct Aviso {
    QString titulo;
    QString texto;
};
Aviso avisoRechazo(RechazoExportacion r);
// No local client tools of the server's version.
Aviso avisoSinHerramientas(const QString& versionServidor);

// --- The staging -------------------------------------------------------------------------------------------

enum class FinPreparacion {
    Preparada,       // the staged collection waits for its writer
    FallaEstructura, // a staging step failed: aviso lists them (the run's one warning)
    Interrumpida,    // the renumbering could not start: aviso says why
};

struct [[nodiscard]] ResultadoPreparacion {
    FinPreparacion fin = FinPreparacion::Interrumpida;
    QString aviso;
    bool ok() const { return fin == FinPreparacion::Preparada; }
};

// Builds the staging tables of the selection under the run's stamp: the stamp table, [01] to [012] for
// this generation's dump (the overall bar at 1 of 16 first, one step each), or [01], [02] and the
// renumbering for the previous generation's file. A failed step never stops the run; every failure is
// listed at the end.
ResultadoPreparacion prepararExportacion(const Seleccion& sel, const QString& version, const InterfazExportacion& ui);

// The count line of a staging table for the run's log ("Fichas: 7"); nullopt for tables without one. A
// count that cannot be read gives its failure in Spanish instead.
std::optional<QString> lineaConteo(const QString& tabla);

// The previous generation's records get one number each: the items take their record's number, then each
// item row whose number equals the row before it while its record differs gives its record a new number.
// A renumbering that fails is told through ui.aviso and the walk goes on. Empty, or the failure that
// stopped the renumbering before it began.
QString renumerarFichas(const InterfazExportacion& ui);

// --- The dump file -----------------------------------------------------------------------------------------

struct [[nodiscard]] ResultadoArchivo {
    bool ok = false;
    Fallo mensaje; // the closing box (Informacion when written)
    QString titulo;
    QString archivo; // the export file written (the .zip, or the .backup when packing failed); empty when none
};

// Dumps the staged tables into the export file of this library and stamp in carpeta, with the local client
// tools of carpetaBin and the session's login, then packs it into its .zip (volcado.h: a link or another
// user's file at the export file's name is left alone and the file gets the next free name, which the
// closing box names).
ResultadoArchivo escribirVolcado(const QString& carpetaBin, const QString& carpeta, int nBib, const QString& version,
                                 const InterfazExportacion& ui);

} // namespace v7::acervo
