// What the console's tests measure while a window waits: the longest pause of the windows' events, and
// another session holding a table.
#pragma once

#include "platform/db.h"
#include "platform/events.h"
#include "tests/support/pg_cluster.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace v7::test {

// The longest pause of the windows' events while it lives, measured by a 10 ms timer. soloEnEspera: only
// while a window waits for its work off the windows' thread (a statement behind a lock, say), leaving out
// the building of the window and the showing of the outcome.
class Pausas {
public:
    explicit Pausas(bool soloEnEspera = false) : m_soloEnEspera(soloEnEspera) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const bool enEspera = events::operacionesLargas() > 0;
            if (!m_soloEnEspera || (enEspera && m_anteriorEnEspera)) {
                m_mayor = qMax(m_mayor, m_reloj.elapsed() - m_ultimo);
            }
            m_anteriorEnEspera = enEspera;
            m_ultimo = m_reloj.elapsed();
        });
        m_reloj.start();
        m_timer.start();
    }
    // The longest pause so far; the timer stops.
    qint64 mayor() {
        m_timer.stop();
        if (!m_soloEnEspera) {
            m_mayor = qMax(m_mayor, m_reloj.elapsed() - m_ultimo);
        }
        return m_mayor;
    }
    qint64 transcurrido() const { return m_reloj.elapsed(); }

private:
    QTimer m_timer;
    QElapsedTimer m_reloj;
    qint64 m_ultimo = 0;
    qint64 m_mayor = 0;
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
    ~TablaOcupada() {
        db::DbError e;
        (void)m_con.rollback(e);
        m_con.close();
    }
    TablaOcupada(const TablaOcupada&) = delete;
    TablaOcupada& operator=(const TablaOcupada&) = delete;

private:
    db::Connection m_con;
};

} // namespace v7::test
