// One statement on a connection of its own, run off the caller's thread while that thread keeps
// handling its events: the driver has no asynchronous execution, so the statement gets a thread
// and the windows stay live (repaints, timers) until it ends.
#pragma once

#include "platform/db.h"

#include <QString>

#include <functional>

namespace v7 {

struct [[nodiscard]] ResultadoAsincrono {
    bool ok = false;
    // One line "[" number "] - " description CR LF per error of opening or running; empty on success.
    QString errores;
};

// Opens a connection with cadena, runs sql without records and closes it, on a thread of its own
// (events::esperar): the calling thread's events run meanwhile, and tick runs there every intervaloMs
// until the statement has ended. Nothing is cancelled: the call returns when the server has answered.
ResultadoAsincrono ejecutarAsincrono(const QString& cadena, const QString& sql, const std::function<void()>& tick = {},
                                     int intervaloMs = 10);

// The error line of one failure.
QString lineaError(const db::DbError& e);

// The activity bar's rule while a statement runs: when the maximum is not above value + 1 it doubles,
// then the value goes up by one. The bar keeps moving and never fills.
void avanzarActividad(int& valor, int& maximo);

} // namespace v7
