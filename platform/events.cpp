#include "platform/events.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

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

namespace {
int g_operaciones = 0; // the windows' thread only
} // namespace

int operacionesLargas() { return g_operaciones; }

OperacionLarga::OperacionLarga() { ++g_operaciones; }

OperacionLarga::~OperacionLarga() { --g_operaciones; }

} // namespace v7::events
