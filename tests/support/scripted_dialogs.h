// A dialogs service for tests: each dialog takes the next scripted answer and is recorded.
// A dialog with no answer left fails the test and answers Cancel (or nothing).
#pragma once

#include "platform/dialogs_ui.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace v7::test {

struct ShownDialog {
    QString kind; // "message", "input", "open", "save", "folder"
    MsgIcon icon = MsgIcon::None;
    QString title;
    QString text;
    MsgButtons buttons = MsgButtons::Ok;
    std::optional<MsgResult> porDefecto; // the button Enter presses, when the box named one
    bool preguntaReemplazo = true;       // a save dialog that asks before choosing an existing file
};

// Installed by the test main and again when a ScriptedDialogs goes away: any dialog or notice
// without a script fails the test at once instead of waiting for a person.
void prohibirDialogos();

class ScriptedDialogs final : public Dialogs {
public:
    ScriptedDialogs() { setDialogs(this); }
    ~ScriptedDialogs() override { prohibirDialogos(); }

    // Answers in the order dialogs will appear: a MsgResult for a box, a text for input and
    // file dialogs (an empty text means cancelled; std::nullopt for a cancelled input box).
    ScriptedDialogs& answer(MsgResult r) {
        m_answers.push_back(Answer{true, r, false, QString()});
        return *this;
    }
    ScriptedDialogs& answer(const QString& text) {
        m_answers.push_back(Answer{false, MsgResult::Ok, true, text});
        return *this;
    }
    ScriptedDialogs& cancelInput() {
        m_answers.push_back(Answer{false, MsgResult::Cancel, false, QString()});
        return *this;
    }

    const std::vector<ShownDialog>& shown() const { return m_shown; }
    QStringList texts() const;
    bool allAnswered() const { return m_answers.empty(); }
    void clear() {
        m_shown.clear();
        m_answers.clear();
    }

    MsgResult message(QWidget* parent, MsgIcon icon, const QString& text, MsgButtons buttons, const QString& title,
                      std::optional<MsgResult> porDefecto) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    QString openFile(QWidget* parent, const QString& title, const QString& initialPath, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& initialPath, const QString& filter,
                     bool preguntarReemplazo) override;
    QString pickFolder(QWidget* parent, const QString& title, const QString& initialPath) override;

private:
    std::optional<QString> nextText(const ShownDialog& d);

    struct Answer {
        bool isBox;       // an answer for a message box
        MsgResult result; // its button
        bool hasText;     // a text dialog's answer; false: cancelled input
        QString text;
    };
    std::deque<Answer> m_answers;
    std::vector<ShownDialog> m_shown;
};

} // namespace v7::test
