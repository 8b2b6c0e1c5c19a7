// What tests measure while a window waits: the pauses of the windows' events, and another session holding a
// table.
#pragma once

#include "platform/db.h"
#include "platform/events.h"
#include "tests/support/pg_cluster.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace v7::test {

// A stopwatch for a wait that the server times (a lock limit, pg_sleep). The server counts such limits partly
// on the wall clock, and a loaded virtual machine now and then steps its wall clock ahead of the steady one
// (seen on CI: a 5 s lock limit ended after 3.6 s of the steady clock). largo(), the longer of the two
// counts, is the one to hold to a bound the wait must reach; corto(), the shorter, to one it must stay under.
class Cronometro {
public:
    Cronometro() { reiniciar(); }
    void reiniciar() {
        m_estable.start();
        m_pared = QDateTime::currentMSecsSinceEpoch();
    }
    qint64 estable() const { return m_estable.elapsed(); }
    qint64 largo() const { return qMax(estable(), pared()); }
    qint64 corto() const { return qMin(estable(), pared()); }

private:
    qint64 pared() const { return QDateTime::currentMSecsSinceEpoch() - m_pared; }
    QElapsedTimer m_estable;
    qint64 m_pared = 0;
};

// The pauses of the windows' events while it lives: a 10 ms timer on the windows' thread notes each tick, and a
// watcher thread of its own reads how long ago the last one came (so a pause is seen while it lasts, even when
// the windows' thread never comes back to the timer until the wait is over). soloEnEspera: only while a window
// waits for its work off the windows' thread (events::operacionesLargas() above 0: a statement behind a lock,
// say), leaving out the building of the window and the showing of the outcome.
//
// The verdict is judged against what a freeze does, not against a figure that a busy machine misses now and
// then: a window that runs the awaited work on its own thread misses every tick of it, so its longest pause is
// the whole wait; a loaded machine delays the windows' events too (measured: single ticks 114 to 156 ms late at
// load 30 on 8 cores), but never by half of a wait of seconds. siempreAtendio() asks the longest pause to stay
// under half of the time measured.
class Pausas {
public:
    explicit Pausas(bool soloEnEspera = false) : m_soloEnEspera(soloEnEspera) {
        m_ultimoTic = m_reloj.estable();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_ultimoTic = m_reloj.estable(); });
        m_timer.start();
        m_vigia = std::thread([this] { vigilar(); });
    }
    ~Pausas() { detener(); }
    Pausas(const Pausas&) = delete;
    Pausas& operator=(const Pausas&) = delete;

    // Stops measuring (the first call counts the pause up to now); further calls change nothing.
    void detener() {
        if (!m_vigia.joinable()) {
            return;
        }
        m_timer.stop();
        m_fin = true;
        m_vigia.join();
        if (!m_soloEnEspera) {
            m_mayor = qMax(m_mayor, m_reloj.estable() - m_ultimoTic);
            m_medido = m_reloj.estable();
        }
    }
    // The longest pause so far; the timer stops.
    qint64 mayor() {
        detener();
        return m_mayor;
    }
    // The time measured (its whole life, or the windows' waits); the timer stops.
    qint64 medido() {
        detener();
        return m_medido;
    }
    // Something was measured and no pause took half of it; the timer stops.
    bool siempreAtendio() {
        detener();
        return m_medido > 0 && 2 * m_mayor < m_medido;
    }
    // The figures behind the verdict, for a failure's message.
    std::string informe() {
        detener();
        return "longest pause " + std::to_string(m_mayor) + " ms of " + std::to_string(m_medido) + " ms measured" +
               (m_soloEnEspera ? " while a window waited" : "");
    }
    // The time since it began.
    const Cronometro& reloj() const { return m_reloj; }

private:
    // Every 5 ms: while measuring, the time since the last tick (or since the wait began) is a pause so far.
    void vigilar() {
        qint64 antes = m_reloj.estable();
        bool enEsperaAntes = !m_soloEnEspera;
        qint64 inicio = 0;
        while (!m_fin) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const qint64 ahora = m_reloj.estable();
            const bool enEspera = !m_soloEnEspera || events::operacionesLargas() > 0;
            if (enEspera) {
                if (enEsperaAntes) {
                    m_medido += ahora - antes;
                } else {
                    inicio = ahora;
                }
                m_mayor = qMax(m_mayor, ahora - qMax(qint64(m_ultimoTic), inicio));
            }
            enEsperaAntes = enEspera;
            antes = ahora;
        }
    }

    QTimer m_timer;
    Cronometro m_reloj;
    std::thread m_vigia;
    std::atomic<bool> m_fin{false};
    std::atomic<qint64> m_ultimoTic{0};
    // Written by the watcher alone until it is joined.
    qint64 m_mayor = 0;
    qint64 m_medido = 0;
    bool m_soloEnEspera = false;
};

// Another session that holds a table locked (ACCESS EXCLUSIVE unless told) inside an open transaction for
// as long as it lives, as a client with a long transaction would.
class TablaOcupada {
public:
    explicit TablaOcupada(const QString& tabla, const QString& modo = QStringLiteral("ACCESS EXCLUSIVE")) {
        const PgCluster& pg = PgCluster::instance();
        m_con.setConnectionString(pg.connectionString(pg.superuser(), pg.password()));
        db::DbError e;
        EXPECT_TRUE(m_con.open(e)) << e.description.toStdString();
        EXPECT_TRUE(m_con.begin(e)) << e.description.toStdString();
        qint64 filas = 0;
        EXPECT_TRUE(m_con.execute(
            QStringLiteral("LOCK TABLE ") + tabla + QStringLiteral(" IN ") + modo + QStringLiteral(" MODE"), filas, e))
            << e.description.toStdString();
    }
    ~TablaOcupada() { (void)soltar(); }
    // Ends the other session's transaction: whether its rollback went through.
    [[nodiscard]] bool soltar() {
        if (!m_con.isOpen()) {
            return true;
        }
        db::DbError e;
        const bool ok = m_con.rollback(e);
        m_con.close();
        return ok;
    }
    TablaOcupada(const TablaOcupada&) = delete;
    TablaOcupada& operator=(const TablaOcupada&) = delete;

private:
    db::Connection m_con;
};

} // namespace v7::test
