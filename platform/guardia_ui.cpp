#include "platform/guardia_ui.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace v7 {

namespace {

QVector<const QWidget*>& ventanasBloqueadas() {
    static QVector<const QWidget*> v;
    return v;
}

bool esEntrada(QEvent::Type t) {
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

GuardiaVentana::GuardiaVentana(QWidget* ventana, Opciones opciones) : m_ventana(ventana), m_libre(opciones.libre) {
    if (ventana == nullptr) {
        return;
    }
    m_activa = true;
    ventanasBloqueadas().push_back(ventana);
    m_foco = ventana->focusWidget();
    // Disabling the direct children disables everything below them and leaves each descendant's own
    // flag untouched, so giving the children their flags back restores every control exactly. Other
    // windows parented here (message boxes) are not part of the lock.
    for (QObject* o : ventana->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w == nullptr || w->isWindow() || w == opciones.libre) {
            continue;
        }
        m_estados.push_back({w, !w->testAttribute(Qt::WA_Disabled)});
        w->setEnabled(false);
    }
    if (opciones.detenerSondeo) {
        m_operacion = std::make_unique<events::OperacionLarga>();
    }
    m_cursor.poner(true);
    qApp->installEventFilter(this);
}

GuardiaVentana::~GuardiaVentana() {
    liberar();
}

void GuardiaVentana::liberar() {
    if (!m_activa) {
        return;
    }
    m_activa = false;
    qApp->removeEventFilter(this);
    auto& v = ventanasBloqueadas();
    if (const auto i = v.lastIndexOf(m_ventana.data()); i >= 0) {
        v.remove(i);
    }
    for (const auto& [w, habilitado] : m_estados) {
        if (w) {
            w->setEnabled(habilitado);
        }
    }
    m_estados.clear();
    if (m_foco && m_foco->isEnabled() && m_foco->isVisible()) {
        m_foco->setFocus();
    }
    m_cursor.poner(false);
    m_operacion.reset();
}

bool GuardiaVentana::bloqueada(const QWidget* ventana) {
    return ventanasBloqueadas().contains(ventana);
}

bool GuardiaVentana::eventFilter(QObject* watched, QEvent* event) {
    if (!m_ventana) {
        return false;
    }
    const QEvent::Type t = event->type();
    QWidget* w = qobject_cast<QWidget*>(watched);
    if (w == nullptr) {
        // Shortcuts of the window's actions reach the action itself.
        if (auto* a = qobject_cast<QAction*>(watched); a != nullptr && t == QEvent::Shortcut) {
            for (QObject* p = a->parent(); p != nullptr; p = p->parent()) {
                if (p == m_ventana) {
                    return true;
                }
            }
        }
        return false;
    }
    if (w->window() != m_ventana) {
        return false;
    }
    if (m_libre && (w == m_libre || m_libre->isAncestorOf(w)) && t != QEvent::Close) {
        return false;
    }
    if (t == QEvent::Close) {
        event->ignore();
        return true;
    }
    if (t == QEvent::ShortcutOverride) {
        // Claiming the key keeps every shortcut of the window (Ctrl+F12, Alt+letter) from firing;
        // the key press that follows is dropped below.
        event->accept();
        return true;
    }
    return esEntrada(t);
}

} // namespace v7
