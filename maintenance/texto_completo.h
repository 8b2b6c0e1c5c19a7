// The catalogue's full-text search after a restore: a backup of the old engine gets the text-search
// configuration pg_catalog.espanol, the two analisis functions, the trigger, the columns and the index of
// analisis.etiquetasmarc; a backup of a newer engine only needs the configuration again (it lives in
// pg_catalog, outside every dump).
#pragma once

#include "core/errores.h"

#include <QString>

#include <functional>

namespace v7 {

// The text of analisis.referenciacatalogos2(text, bigint, text) and of analisis.actualiza_tipos(integer),
// CR LF lines, without the ALTER ... OWNER that follows them.
QString funcionReferenciaCatalogos2();
QString funcionActualizaTipos();

// Progress of the steps: the bar's value (-1: unchanged) and the status text (empty: unchanged).
using AvanceTextoCompleto = std::function<void(int valor, const QString& estado)>;

// pg_catalog.espanol exists, mapped to unaccent (the extension created in pg_catalog when missing). A
// failure is the message that stops the restore.
Resultado<> asegurarDiccionarioEspanol();

// The whole upgrade of an old engine's backup, progress 5 to 7; a failure is the message that stops the
// restore. A failure of the configuration key ANA_FULLTEXTSEARCH is told through aviso and passed over.
Resultado<> actualizarTextoCompleto(const AvanceTextoCompleto& avance, const std::function<void(const Fallo&)>& aviso);

} // namespace v7
