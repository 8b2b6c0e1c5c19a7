// Compaction of database veliro7: vacuumdb (full, analyze) through the script v7.Compact.bat, then
// REINDEX DATABASE. The maintenance window shows its steps in EtCompacta and ProgBarr.
#pragma once

#include "core/errores.h"

#include <QString>

#include <functional>

namespace v7 {

// The bar's scale: 0 to 50, ten units to each stage of the work.
inline constexpr int kCompactaMaximo = 50;

// The vacuumdb command text for sh (values quoted; -w: never waits for a password prompt).
QString comandoCompactar(const QString& carpetaBin, const QString& servidor, int puerto, const QString& usuario,
                         const QString& salida, const QString& errores);

// Compacts and reindexes with the session's server and login: the message of a compaction that ended
// well, or the failure. avance gets the bar's value (0..50) and, when not empty, the label's text. Events
// run meanwhile, so the caller locks its window first.
Resultado<QString> compactarBase(const std::function<void(int valor, const QString& texto)>& avance);

} // namespace v7
