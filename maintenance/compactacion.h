// Compaction of database veliro7: vacuumdb (full, analyze) through the script v7.Compact.bat, then
// REINDEX DATABASE. The maintenance window shows its steps in EtCompacta and ProgBarr.
#pragma once

#include "platform/notify.h"

#include <QString>

#include <functional>

namespace v7 {

// The bar's scale: tenths of the designed steps 0 to 5 (3.2 is 32).
inline constexpr int kCompactaMaximo = 50;

struct [[nodiscard]] ResultadoCompactacion {
    bool ok = false;
    MsgIcon icono = MsgIcon::Critical;
    QString texto;
};

// The vacuumdb command text for sh (values quoted; -w: never waits for a password prompt).
QString comandoCompactar(const QString& carpetaBin, const QString& servidor, int puerto, const QString& usuario,
                         const QString& salida, const QString& errores);

// Compacts and reindexes with the session's server and login. avance gets the bar's value (0..50) and,
// when not empty, the label's text. Events run meanwhile, so the caller locks its window first.
ResultadoCompactacion compactarBase(const std::function<void(int valor, const QString& texto)>& avance);

} // namespace v7
