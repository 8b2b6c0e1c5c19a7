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

// The pauses of the windows' events while it lives, measured by a 10 ms timer. soloEnEspera: only while a
// window waits for its work off the windows' thread (a statement behind a lock, say), leaving out the
// building of the window and the showing of the outcome.
//
// A loaded machine now and then delays even an idle loop's timer past 100 ms (measured here: 114 ms in 15 s
// of a bare event loop while other test programs ran), so siempreAtendio() puts one such late tick down to
// the machine; a window that waits for the server on its own thread misses every tick of the wait.
class Pausas {
public:
    explicit Pausas(bool soloEnEspera = false) : m_soloEnEspera(soloEnEspera) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const bool enEspera = events::operacionesLargas() > 0;
            if (!m_soloEnEspera || (enEspera && m_anteriorEnEspera)) {
                anotar(m_reloj.estable() - m_ultimo);
                ++m_tics;
            }
            m_anteriorEnEspera = enEspera;
            m_ultimo = m_reloj.estable();
        });
        m_timer.start();
    }
    // Stops measuring (the first call counts the pause up to now); further calls change nothing.
    void detener() {
        if (!m_timer.isActive()) {
            return;
        }
        m_timer.stop();
        if (!m_soloEnEspera) {
            anotar(m_reloj.estable() - m_ultimo);
        }
    }
    // The longest pause so far; the timer stops.
    qint64 mayor() {
        detener();
        return m_mayor;
    }
    // No pause over 100 ms but one, and none of 300 ms; the timer stops.
    bool siempreAtendio() {
        detener();
        return m_tardias <= 1 && m_mayor < 300;
    }
    int tics() const { return m_tics; }
    // The time since it began.
    const Cronometro& reloj() const { return m_reloj; }

private:
    void anotar(qint64 pausa) {
        m_mayor = qMax(m_mayor, pausa);
        if (pausa > 100) {
            ++m_tardias;
        }
    }
    QTimer m_timer;
    Cronometro m_reloj;
    qint64 m_ultimo = 0;
    qint64 m_mayor = 0;
    int m_tardias = 0;
    int m_tics = 0;
    bool m_soloEnEspera = false;
    bool m_anteriorEnEspera = false;
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
