// Showing a routine's failure: the one place where a severity becomes a message box's icon.
#pragma once

#include "core/errores.h"
#include "platform/dialogs_ui.h"

#include <optional>

class QWidget;

namespace v7 {

MsgIcon iconoDe(Gravedad gravedad);
// No severity: a plain box without an icon.
MsgIcon iconoDe(const std::optional<Gravedad>& gravedad);

// Shows the failure in a message box (OK only) through the dialogs service.
void mostrarFallo(QWidget* parent, const Fallo& fallo, const QString& titulo = QString());

} // namespace v7
