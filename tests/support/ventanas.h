// Driving windows in tests: controls by their designed names, clicks, waits with a deadline, and
// sampling a window's controls from the events that a long operation's waits let run.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "platform/events.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace v7::test {

// A control found by its object name; the test fails when there is none.
template <typename T = QWidget> T* hijo(const QWidget& w, const QString& name) {
    T* c = w.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name.toStdString();
    return c;
}
template <typename T = QWidget> T* hijo(const QWidget& w, const char* name) {
    return hijo<T>(w, QString::fromUtf8(name));
}

// A left click on a named control, as the user makes it (a disabled control ignores it).
inline void click(const QWidget& w, const char* name) {
    if (QWidget* c = hijo<QWidget>(w, name)) {
        QTest::mouseClick(c, Qt::LeftButton);
    }
}

// Lets events run until pred holds or ms pass; whether it held.
inline bool esperarHasta(const std::function<bool()>& pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

// The modal windows open now.
inline QList<QWidget*> modalesAbiertos() {
    QList<QWidget*> abiertos;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isModal()) {
            abiertos << w;
        }
    }
    return abiertos;
}

// Runs f on the next modal window that opens after this call (a QDialog's exec()), once it is shown and
// done with whatever long operation it started on opening (the list it reads, say); a modal window that
// was already open (the window under test) is never taken for it. When none opens within
// ms the test fails and the modal window on top is closed, so a test fails fast instead of hanging.
inline void alAbrirModal(std::function<void(QWidget*)> f, int ms = 10000) {
    auto* timer = new QTimer;
    auto inicio = std::make_shared<QElapsedTimer>();
    inicio->start();
    QList<QPointer<QWidget>> antes;
    for (QWidget* w : modalesAbiertos()) {
        antes << QPointer<QWidget>(w);
    }
    const int operaciones = v7::events::operacionesLargas();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, f = std::move(f), inicio, ms, antes, operaciones] {
        QWidget* nuevo = nullptr;
        for (QWidget* w : modalesAbiertos()) {
            if (!antes.contains(QPointer<QWidget>(w))) {
                nuevo = w;
                if (w == QApplication::activeModalWidget()) {
                    break;
                }
            }
        }
        if (nuevo != nullptr && v7::events::operacionesLargas() <= operaciones) {
            timer->stop();
            timer->deleteLater();
            f(nuevo);
        } else if (inicio->elapsed() > ms) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal window opened";
            if (QWidget* arriba = QApplication::activeModalWidget()) {
                arriba->close();
            }
        }
    });
    timer->start();
}

// One look at a window while an operation runs.
struct Muestra {
    QStringList habilitados; // named controls that could be used at that moment
    bool cursorEspera = false;
};

// Samples every named control of a window every few milliseconds for as long as it lives; the
// samples are taken from inside the operation's waits, as a queued click would run.
class Muestreo {
public:
    explicit Muestreo(const QWidget& ventana, int intervaloMs = 5) : m_ventana(ventana) {
        m_timer.setInterval(intervaloMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tomar(); });
        m_timer.start();
    }
    ~Muestreo() { m_timer.stop(); }

    void detener() { m_timer.stop(); }
    // Also runs at each sample (e.g. to click during the wait).
    void alMuestrear(std::function<void(int n)> f) { m_extra = std::move(f); }

    const std::vector<Muestra>& muestras() const { return m_muestras; }
    // Whether every sample found every control disabled and the hourglass on.
    bool siempreBloqueada() const {
        for (const Muestra& m : m_muestras) {
            if (!m.habilitados.isEmpty() || !m.cursorEspera) {
                return false;
            }
        }
        return !m_muestras.empty();
    }
    // Controls found usable in some sample.
    QStringList habilitadosAlgunaVez() const {
        QStringList all;
        for (const Muestra& m : m_muestras) {
            for (const QString& n : m.habilitados) {
                if (!all.contains(n)) {
                    all << n;
                }
            }
        }
        return all;
    }

private:
    void tomar() {
        Muestra m;
        for (QWidget* c : m_ventana.findChildren<QWidget*>()) {
            if (!c->objectName().isEmpty() && !c->isWindow() && c->isVisible() && c->isEnabled() &&
                c->focusPolicy() != Qt::NoFocus) {
                m.habilitados << c->objectName();
            }
        }
        const QCursor* cur = QApplication::overrideCursor();
        m.cursorEspera = cur != nullptr && cur->shape() == Qt::WaitCursor;
        m_muestras.push_back(m);
        if (m_extra) {
            m_extra(int(m_muestras.size()));
        }
    }

    const QWidget& m_ventana;
    QTimer m_timer;
    std::vector<Muestra> m_muestras;
    std::function<void(int)> m_extra;
};

} // namespace v7::test
