// The one way a window runs a long operation. While a guard lives, its window is locked: every
// control is disabled, clicks, keys and shortcuts aimed at the window are dropped (queued clicks
// that the operation's waits let run included), the close box and Escape are refused, and the
// pointer is the hourglass. When it goes away, on every path, each control gets its own previous
// state back and the focus returns where it was.
#pragma once

#include "platform/espera_ui.h"
#include "platform/events.h"

#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>
#include <utility>

class QWidget;

namespace v7 {

class GuardiaVentana : public QObject {
    Q_OBJECT

public:
    struct Opciones {
        // Also keep the console's status probe idle (the operation works on the server or on the
        // shared connection).
        bool detenerSondeo = true;
        // A direct child of the window left usable while the rest is locked: the button that asks the
        // operation to stop. The operation itself must look at that request and end.
        QWidget* libre = nullptr;
    };

    explicit GuardiaVentana(QWidget* ventana) : GuardiaVentana(ventana, Opciones{}) {}
    GuardiaVentana(QWidget* ventana, Opciones opciones);
    ~GuardiaVentana() override;
    GuardiaVentana(const GuardiaVentana&) = delete;
    GuardiaVentana& operator=(const GuardiaVentana&) = delete;

    // Gives the window back before the guard goes away (e.g. to show the outcome's message box on
    // an unlocked window); further calls do nothing.
    void liberar();

    // Whether a guard holds this window now.
    static bool bloqueada(const QWidget* ventana);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_ventana;
    QVector<std::pair<QPointer<QWidget>, bool>> m_estados;
    QPointer<QWidget> m_foco;
    QPointer<QWidget> m_libre;
    CursorEspera m_cursor;
    std::unique_ptr<events::OperacionLarga> m_operacion;
    bool m_activa = false;
};

} // namespace v7
