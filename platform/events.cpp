#include "platform/events.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

namespace v7::events {

void pump() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void pause(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        pump();
        QThread::msleep(qMin<qint64>(5, qMax<qint64>(1, ms - t.elapsed())));
    }
    pump();
}

void esperarEnHilo(const std::function<void()>& trabajo) {
    std::atomic<bool> terminado{false};
    std::thread hilo([&] {
        trabajo();
        terminado.store(true, std::memory_order_release);
    });
    while (!terminado.load(std::memory_order_acquire)) {
        pause(5);
    }
    hilo.join();
}

namespace {
int g_operaciones = 0; // the windows' thread only
} // namespace

int operacionesLargas() {
    return g_operaciones;
}

OperacionLarga::OperacionLarga() {
    ++g_operaciones;
}

OperacionLarga::~OperacionLarga() {
    --g_operaciones;
}

} // namespace v7::events
