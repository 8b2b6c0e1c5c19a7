#include "platform/dialogs_ui.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace v7 {

namespace {

QMessageBox::StandardButton botonEstandar(MsgResult r) {
    switch (r) {
    case MsgResult::Ok:
        return QMessageBox::Ok;
    case MsgResult::Cancel:
        return QMessageBox::Cancel;
    case MsgResult::Yes:
        return QMessageBox::Yes;
    case MsgResult::No:
        return QMessageBox::No;
    case MsgResult::Retry:
        return QMessageBox::Retry;
    case MsgResult::Abort:
        return QMessageBox::Abort;
    case MsgResult::Ignore:
        return QMessageBox::Ignore;
    }
    return QMessageBox::NoButton;
}

class QtDialogs final : public Dialogs {
public:
    MsgResult message(QWidget* parent, MsgIcon icon, const QString& text, MsgButtons buttons, const QString& title,
                      std::optional<MsgResult> porDefecto) override {
        QMessageBox box(parent);
        box.setWindowTitle(title.isEmpty() ? kProgramTitle : title);
        box.setText(text);
        switch (icon) {
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MsgIcon::None:
            break;
        }
        QMessageBox::StandardButtons set;
        switch (buttons) {
        case MsgButtons::Ok:
            set = QMessageBox::Ok;
            break;
        case MsgButtons::OkCancel:
            set = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case MsgButtons::YesNo:
            set = QMessageBox::Yes | QMessageBox::No;
            break;
        case MsgButtons::YesNoCancel:
            set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case MsgButtons::RetryCancel:
            set = QMessageBox::Retry | QMessageBox::Cancel;
            break;
        case MsgButtons::AbortRetryIgnore:
            set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
            break;
        }
        box.setStandardButtons(set);
        if (porDefecto.has_value()) {
            if (QAbstractButton* b = box.button(botonEstandar(*porDefecto))) {
                box.setDefaultButton(qobject_cast<QPushButton*>(b));
            }
        }
        switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgResult::Ok;
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        case QMessageBox::Retry:
            return MsgResult::Retry;
        case QMessageBox::Abort:
            return MsgResult::Abort;
        case QMessageBox::Ignore:
            return MsgResult::Ignore;
        default:
            return MsgResult::Cancel;
        }
    }

    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText) override {
        bool ok = false;
        QString v = QInputDialog::getText(parent, title.isEmpty() ? kProgramTitle : title, prompt, QLineEdit::Normal,
                                          defaultText, &ok);
        if (!ok) {
            return std::nullopt;
        }
        return v;
    }

    QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                     const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, title, initialPath, filter);
    }

    QString saveFile(QWidget* parent, const QString& title, const QString& initialPath, const QString& filter,
                     bool preguntarReemplazo) override {
        return QFileDialog::getSaveFileName(parent, title, initialPath, filter, nullptr,
                                            preguntarReemplazo ? QFileDialog::Options()
                                                               : QFileDialog::DontConfirmOverwrite);
    }

    QString pickFolder(QWidget* parent, const QString& title, const QString& initialPath) override {
        return QFileDialog::getExistingDirectory(parent, title, initialPath);
    }
};

Dialogs* g_replacement = nullptr;

} // namespace

Dialogs& dialogs() {
    static QtDialogs real;
    return g_replacement != nullptr ? *g_replacement : real;
}

void setDialogs(Dialogs* replacement) {
    g_replacement = replacement;
    setNotifier(&dialogs());
}

} // namespace v7
