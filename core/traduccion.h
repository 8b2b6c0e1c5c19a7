// Qt's own texts (standard buttons, file dialogs, context menus) in Spanish, as the rest of the program.
#pragma once

namespace v7 {

// Installs Qt's Spanish translations on the running application; false when they are not installed
// (Debian ships them in qt6-translations-l10n), and then Qt's English texts stay.
bool cargarTraduccionesQt();

} // namespace v7
