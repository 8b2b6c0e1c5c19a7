// The manual backup as V7Tools runs it: the server and connection checks, then the archive writer with
// the session's values, and the outcome as the message the maintenance window shows.
#pragma once

#include "core/errores.h"
#include "maintenance/respaldo.h"

#include <QString>

#include <functional>

namespace v7 {

struct [[nodiscard]] MensajeRespaldo {
    bool ok = false;
    Fallo mensaje;               // what the window shows: the success (Informacion) or the failure
    ResultadoRespaldo resultado; // the writer's outcome (empty when a check stopped the backup before it)
};

// Backs up database veliro7 into destino with the session's server, login and installation, on the shared
// connection; the staging folder goes into the program folder, the scripts into the private work folder.
// The work runs on a thread of its own while window events run, so the caller locks its window first.
// progreso hears how far it has got (ParametrosRespaldo::progreso): from other threads, so a window hands
// it over to its own thread.
MensajeRespaldo respaldoManual(const QString& destino,
                               const std::function<void(int milesimas, const QString& texto)>& progreso = {});

// The maintenance window's text for a failed writer outcome.
QString mensajeFallaRespaldo(const ResultadoRespaldo& r);
// Whether the writer failed because the roles file came out empty (its box has always shown no icon).
bool rolesVacios(const ResultadoRespaldo& r);

} // namespace v7
