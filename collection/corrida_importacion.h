// The import of a collection export on a library's own server, apart from its window: the chosen file is
// read and checked (an export dump or its .zip, no psql instruction of its own), loaded into the staging
// tables under psql's \restrict, checked against this server, and merged with the program's own merge
// script; the statistics close it. Questions, log entries and boxes on the way go through
// InterfazImportacion; the run ends with a step result.
//
//     acervo::EstadoImportacion estado;
//     const acervo::ResultadoImportacion r = acervo::importarAcervo(ruta, estado, ui);
//     if (!r.mensaje.texto.isEmpty()) mostrarFallo(this, r.mensaje, r.titulo);
#pragma once

#include "core/errores.h"
#include "platform/notify.h"

#include <QString>

#include <functional>
#include <optional>

namespace v7::acervo {

struct InterfazImportacion {
    std::function<void(const QString& entrada)> registro;       // a dated entry on top of the log (" - …")
    std::function<void(const QString& linea)> registroSinFecha; // a line on top of the log, as it is
    std::function<void(const QString& carpeta)> carpeta;        // the folder of the chosen file
    std::function<void(Gravedad gravedad, const QString& texto, const QString& titulo)> aviso;
    // A Yes/No question: a plain one without gravedad, else one that tells something of that severity first;
    // porDefecto is the button Enter presses (none: the first).
    std::function<MsgResult(std::optional<Gravedad> gravedad, const QString& texto, const QString& titulo,
                            std::optional<MsgResult> porDefecto)>
        pregunta;
};

// What the load leaves for the merge.
struct EstadoImportacion {
    bool primeraActualizacion = false; // this server had no installed update when the file was loaded
    QString versionCargada;            // the file's stamp (the merge drops its table)
    QString carpeta;                   // the folder of the chosen file
    QString carpetaBin;                // the client tools found by the load
};

enum class FinImportacion {
    Fusionado, // merged and committed
    Rechazado, // the file or this server refused it before anything was merged
    Detenido,  // the administrator stopped it at a question
    Fallido,   // a step failed; nothing was merged
};

struct [[nodiscard]] ResultadoImportacion {
    FinImportacion fin = FinImportacion::Fallido;
    int linea = 0; // the load's step where it ended (10, 20, …)
    // The closing box, shown once the window is given back; no text when nothing is left to say.
    Fallo mensaje;
    QString titulo;
    bool informe = false; // the error report of a failed query: the caller names where it happened
    bool fusionado() const { return fin == FinImportacion::Fusionado; }
};

// The load and its checks, then the merge. Every way that ends without a merge drops the staging tables
// the load made.
ResultadoImportacion importarAcervo(const QString& ruta, EstadoImportacion& estado, const InterfazImportacion& ui);

// The merge of the loaded staging tables: the collections and unprocessed-items questions, the program's
// own merge script (a stored copy that differs is told and not run), the vacuum and the statistics.
ResultadoImportacion fusionarAcervo(EstadoImportacion& estado, const InterfazImportacion& ui);

// The counts of the merged collection; with quitaEstatusEspecial also the closing steps of an import
// (records of status MON closed, the installed stamp recorded, the outcome boxes, the log's last line).
void resultadoEstadistico(bool quitaEstatusEspecial, const EstadoImportacion& estado, const InterfazImportacion& ui);

} // namespace v7::acervo
