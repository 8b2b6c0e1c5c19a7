// Every message box, input box and file or folder dialog of V7Tools goes through this service,
// so that tests can answer them and read what was shown.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace v7 {

enum class MsgIcon { None, Information, Warning, Critical, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MsgResult { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

// The caption of boxes shown without a title.
inline const QString kProgramTitle = QStringLiteral("V7Tools");

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // An empty title shows the program's title.
    virtual MsgResult message(QWidget* parent, MsgIcon icon, const QString& text, MsgButtons buttons = MsgButtons::Ok,
                              const QString& title = QString()) = 0;
    // nullopt when cancelled.
    virtual std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title = QString(),
                                         const QString& defaultText = QString()) = 0;
    // The chosen path, or empty when cancelled. filter in Qt form ("Respaldo (*.zip)").
    virtual QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                             const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& initialPath,
                             const QString& filter) = 0;
    virtual QString pickFolder(QWidget* parent, const QString& title, const QString& initialPath) = 0;
};

// The service in use: the real Qt dialogs unless a test installed its own.
Dialogs& dialogs();
// Installs a replacement (not owned); nullptr restores the real dialogs.
void setDialogs(Dialogs* replacement);

} // namespace v7
