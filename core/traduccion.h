// The program reads in Spanish whatever the machine's locale is: dates and numbers, month names, and Qt's own
// texts (standard buttons, file dialogs, context menus).
#pragma once

#include <QLocale>

namespace v7 {

// Before the application object is made: Qt reads the machine's locale once, the first time it needs it,
// and its file dialogs show their dates in it. A machine whose locale is not Spanish is read as Spanish
// instead; the process's own locale (the C library's, the environment its children get) stays as it was.
void prepararLocaleEspanol();

// The Spanish locale the program uses: the machine's own when it is Spanish (its country's formats), else
// Latin-American Spanish.
QLocale localeEspanol();

// Installs Qt's Spanish translations on the running application, and the kit's own for the few texts Qt's
// lack (the file dialog's "Folder", say); false when Qt's are not installed (Debian ships them in
// qt6-translations-l10n), and then Qt's English texts stay beside the kit's own.
bool cargarTraduccionesQt();

// After the application object is made: localeEspanol() as the default locale, and the translations above.
bool usarEspanol();

} // namespace v7
