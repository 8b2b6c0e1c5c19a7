// The real Qt message boxes in a test: while a CajasReales lives, the program's dialogs are the real ones,
// and each message box that opens is read and then answered with the next of the given answers, from the
// keyboard or with the mouse, as a person at the screen answers it. A box beyond the answers fails the test
// and is closed with Escape, so a test never waits on a person.
#pragma once

#include "platform/dialogs_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <vector>

namespace v7::test {

class CajasReales {
public:
    // What a box showed.
    struct Vista {
        QString titulo;
        QString texto;
        QMessageBox::StandardButton porDefecto = QMessageBox::NoButton; // the button Enter presses
        QMessageBox::Icon icono = QMessageBox::NoIcon;
    };
    using Respuesta = std::function<void(QMessageBox*)>;

    // A key pressed on the box (Enter presses its default button).
    static Respuesta tecla(Qt::Key k) {
        return [k](QMessageBox* box) { QTest::keyClick(box, k); };
    }
    // A click on one of its buttons.
    static Respuesta boton(QMessageBox::StandardButton b) {
        return [b](QMessageBox* box) {
            QAbstractButton* pulsado = box->button(b);
            ASSERT_NE(pulsado, nullptr) << "no such button";
            QTest::mouseClick(pulsado, Qt::LeftButton);
        };
    }

    explicit CajasReales(std::deque<Respuesta> respuestas) : m_antes(&dialogs()), m_respuestas(std::move(respuestas)) {
        setDialogs(nullptr);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { mirar(); });
        m_timer.start();
    }
    ~CajasReales() {
        m_timer.stop();
        setDialogs(m_antes);
    }
    CajasReales(const CajasReales&) = delete;
    CajasReales& operator=(const CajasReales&) = delete;

    const std::vector<Vista>& vistas() const { return m_vistas; }
    bool todasUsadas() const { return m_respuestas.empty(); }

private:
    void mirar() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == m_ultima.data()) {
            return;
        }
        m_ultima = box;
        Vista v{box->windowTitle(), box->text(), QMessageBox::NoButton, box->icon()};
        if (QAbstractButton* d = box->defaultButton()) {
            v.porDefecto = box->standardButton(d);
        }
        m_vistas.push_back(v);
        if (m_respuestas.empty()) {
            ADD_FAILURE() << "unexpected message box: " << v.texto.toStdString();
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        Respuesta r = std::move(m_respuestas.front());
        m_respuestas.pop_front();
        r(box);
    }

    Dialogs* m_antes;
    std::deque<Respuesta> m_respuestas;
    std::vector<Vista> m_vistas;
    QTimer m_timer;
    QPointer<QMessageBox> m_ultima; // the box last answered, while it lives
};

} // namespace v7::test
