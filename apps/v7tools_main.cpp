// V7Tools: the console first; it shows the login and ends the program when the login is not completed.
#include "console/FrmInicio.h"
#include "core/traduccion.h"
#include "maintenance/restauracion.h"
#include "platform/dialogs_ui.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    // Dates in Qt's own dialogs in Spanish too: Qt reads the machine's locale while the application starts.
    v7::prepararLocaleEspanol();
    QApplication app(argc, argv);
    // Numbers written into SQL and files never follow the desktop's locale.
    std::setlocale(LC_NUMERIC, "C");

    // Dates, month names and Qt's own texts (Sí/No, Guardar, Cancelar, the file dialogs) in Spanish like the rest.
    v7::usarEspanol();

    v7::setDialogs(nullptr); // shared routines' messages become message boxes

    // Ended by a signal (a logout sends SIGTERM): the tools of a running backup are stopped and its
    // staging folder and scripts removed before the program ends.
    v7::process::terminarConLimpieza();
    // A restore killed outright left its extracted archive (the roles' password hashes among it) in the work
    // folder: it goes now, not only when the next restore runs.
    (void)v7::limpiarRestauracionAbandonada(v7::paths::workFolder());
    v7::FrmInicio consola;
    if (!consola.Form_Load()) {
        return 0;
    }
    consola.show();
    return app.exec();
}
