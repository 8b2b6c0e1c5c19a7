// Messages that shared routines show. Routines hold no widgets: V7Tools routes these to its
// dialogs service (message boxes), V7backup to its log, tests to a scripted double.
#pragma once

#include <QString>

namespace v7 {

enum class MsgIcon { None, Information, Warning, Critical, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MsgResult { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

class Notifier {
public:
    virtual ~Notifier() = default;
    // An empty title means the program's own.
    virtual MsgResult notify(MsgIcon icon, const QString& text, MsgButtons buttons = MsgButtons::Ok,
                             const QString& title = QString()) = 0;
};

// The answer given where nobody can answer: Ok, No for a question, Abort, else Cancel.
MsgResult respuestaSinPersona(MsgButtons buttons);

// The notifier in use; by default one that writes to stderr and answers Ok (or Cancel where the
// buttons offer it), so nothing ever waits for a person.
Notifier& notifier();
// Installs a replacement (not owned); nullptr restores the default.
void setNotifier(Notifier* replacement);

// Shorthand for notifier().notify(...).
inline MsgResult avisar(MsgIcon icon, const QString& text, MsgButtons buttons = MsgButtons::Ok,
                        const QString& title = QString()) {
    return notifier().notify(icon, text, buttons, title);
}

} // namespace v7
