#include "tests/support/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace v7::test {

namespace {

class DialogosProhibidos final : public Dialogs {
public:
    MsgResult message(QWidget*, MsgIcon, const QString& text, MsgButtons, const QString&,
                      std::optional<MsgResult>) override {
        EXPECT_FALSE(text.trimmed().isEmpty()) << "a message box without text";
        ADD_FAILURE() << "message box without a scripted answer: " << text.toStdString();
        return MsgResult::Cancel;
    }
    std::optional<QString> input(QWidget*, const QString& prompt, const QString&, const QString&) override {
        ADD_FAILURE() << "input box without a scripted answer: " << prompt.toStdString();
        return std::nullopt;
    }
    QString openFile(QWidget*, const QString& title, const QString&, const QString&) override { return fail(title); }
    QString saveFile(QWidget*, const QString& title, const QString&, const QString&, bool) override {
        return fail(title);
    }
    QString pickFolder(QWidget*, const QString& title, const QString&) override { return fail(title); }

private:
    static QString fail(const QString& title) {
        ADD_FAILURE() << "file or folder dialog without a scripted answer: " << title.toStdString();
        return QString();
    }
};

} // namespace

void prohibirDialogos() {
    static DialogosProhibidos guard;
    setDialogs(&guard);
}

QStringList ScriptedDialogs::texts() const {
    QStringList out;
    for (const auto& d : m_shown) {
        out << d.text;
    }
    return out;
}

MsgResult ScriptedDialogs::message(QWidget*, MsgIcon icon, const QString& text, MsgButtons buttons,
                                   const QString& title, std::optional<MsgResult> porDefecto) {
    m_shown.push_back(ShownDialog{QStringLiteral("message"), icon, title.isEmpty() ? kProgramTitle : title, text,
                                  buttons, porDefecto});
    // Every box says something: a failure shown without its reason is a fault of its own.
    EXPECT_FALSE(text.trimmed().isEmpty()) << "a message box without text";
    if (m_answers.empty() || !m_answers.front().isBox) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
        return MsgResult::Cancel;
    }
    const MsgResult r = m_answers.front().result;
    m_answers.pop_front();
    return r;
}

std::optional<QString> ScriptedDialogs::nextText(const ShownDialog& d) {
    m_shown.push_back(d);
    if (m_answers.empty() || m_answers.front().isBox) {
        ADD_FAILURE() << "unexpected " << d.kind.toStdString() << " dialog: " << d.text.toStdString();
        return std::nullopt;
    }
    const Answer a = m_answers.front();
    m_answers.pop_front();
    if (!a.hasText) {
        return std::nullopt;
    }
    return a.text;
}

std::optional<QString> ScriptedDialogs::input(QWidget*, const QString& prompt, const QString& title, const QString&) {
    return nextText(ShownDialog{QStringLiteral("input"), MsgIcon::None, title, prompt, MsgButtons::OkCancel});
}

QString ScriptedDialogs::openFile(QWidget*, const QString& title, const QString& initialPath, const QString&) {
    return nextText(ShownDialog{QStringLiteral("open"), MsgIcon::None, title, initialPath, MsgButtons::OkCancel})
        .value_or(QString());
}

QString ScriptedDialogs::saveFile(QWidget*, const QString& title, const QString& initialPath, const QString&,
                                  bool preguntarReemplazo) {
    ShownDialog d{QStringLiteral("save"), MsgIcon::None, title, initialPath, MsgButtons::OkCancel};
    d.preguntaReemplazo = preguntarReemplazo;
    return nextText(d).value_or(QString());
}

QString ScriptedDialogs::pickFolder(QWidget*, const QString& title, const QString& initialPath) {
    return nextText(ShownDialog{QStringLiteral("folder"), MsgIcon::None, title, initialPath, MsgButtons::OkCancel})
        .value_or(QString());
}

} // namespace v7::test
