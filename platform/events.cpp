#include "platform/events.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <thread>

namespace v7::events {

namespace {

bool enHiloDeVentanas() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace

void pump() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void pause(int ms) {
    if (!enHiloDeVentanas()) {
        QThread::msleep(ulong(qMax(0, ms)));
        return;
    }
    QEventLoop bucle;
    QTimer::singleShot(qMax(0, ms), &bucle, &QEventLoop::quit);
    bucle.exec();
}

void esperarEnHilo(const std::function<void()>& trabajo) {
    if (!enHiloDeVentanas()) {
        trabajo();
        return;
    }
    QEventLoop bucle;
    std::exception_ptr fallo;
    std::thread hilo([&] {
        try {
            trabajo();
        } catch (...) {
            fallo = std::current_exception();
        }
        // Queued: delivered once the loop below runs, even when the work ended before it started.
        QMetaObject::invokeMethod(&bucle, &QEventLoop::quit, Qt::QueuedConnection);
    });
    bucle.exec();
    hilo.join();
    if (fallo) {
        std::rethrow_exception(fallo);
    }
}

void alTerminar(QObject* contexto, std::function<void()> trabajo, std::function<void()> luego) {
    QThread* hilo = QThread::create(std::move(trabajo));
    QObject::connect(hilo, &QThread::finished, hilo, &QObject::deleteLater);
    QObject::connect(hilo, &QThread::finished, contexto, std::move(luego));
    hilo->start();
}

namespace {
// Counted on the windows' thread; read on any (a test's watcher of the windows' pauses).
std::atomic<int> g_operaciones{0};
} // namespace

int operacionesLargas() {
    return g_operaciones.load(std::memory_order_relaxed);
}

OperacionLarga::OperacionLarga() {
    ++g_operaciones;
}

OperacionLarga::~OperacionLarga() {
    --g_operaciones;
}

} // namespace v7::events
