// Every message box, input box and file or folder dialog of V7Tools goes through this service,
// so that tests can answer them and read what was shown.
#pragma once

#include "platform/notify.h"

#include <QString>

#include <optional>

class QWidget;

namespace v7 {

// The caption of boxes shown without a title.
inline const QString kProgramTitle = QStringLiteral("V7Tools");

// Also the notifier of shared routines: their messages become message boxes without a parent.
class Dialogs : public Notifier {
public:
    MsgResult notify(MsgIcon icon, const QString& text, MsgButtons buttons, const QString& title) override {
        return message(nullptr, icon, text, buttons, title);
    }

    // An empty title shows the program's title. porDefecto names the button that Enter presses (an
    // irreversible step defaults to No); none: the first button.
    virtual MsgResult message(QWidget* parent, MsgIcon icon, const QString& text, MsgButtons buttons = MsgButtons::Ok,
                              const QString& title = QString(), std::optional<MsgResult> porDefecto = std::nullopt) = 0;
    // nullopt when cancelled.
    virtual std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title = QString(),
                                         const QString& defaultText = QString()) = 0;
    // The chosen path, or empty when cancelled. filter in Qt form ("Respaldo (*.zip)").
    virtual QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                             const QString& filter) = 0;
    // preguntarReemplazo false: choosing an existing file asks nothing (a file to read, such as the archive
    // to restore, chosen in the dialog the design names).
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& initialPath, const QString& filter,
                             bool preguntarReemplazo = true) = 0;
    virtual QString pickFolder(QWidget* parent, const QString& title, const QString& initialPath) = 0;
};

// The service in use: the real Qt dialogs unless a test installed its own.
Dialogs& dialogs();
// Installs a replacement (not owned); nullptr restores the real dialogs. Either way the service
// in use also becomes the notifier of shared routines.
void setDialogs(Dialogs* replacement);

} // namespace v7
