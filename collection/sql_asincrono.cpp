#include "collection/sql_asincrono.h"

#include "core/errores.h"
#include "platform/events.h"

#include <QTimer>

namespace v7 {

QString lineaError(const db::DbError& e) {
    return QLatin1Char('[') + QString::number(e.number) + QStringLiteral("] - ") + e.description + err::kCrLf;
}

void avanzarActividad(int& valor, int& maximo) {
    if (maximo <= valor + 1) {
        maximo *= 2;
    }
    ++valor;
}

ResultadoAsincrono ejecutarAsincrono(const QString& cadena, const QString& sql, const std::function<void()>& tick,
                                     int intervaloMs) {
    // The tick's timer lives on the calling thread: it fires while the wait lets that thread's events run.
    QTimer reloj;
    if (tick) {
        QObject::connect(&reloj, &QTimer::timeout, tick);
        reloj.start(intervaloMs);
    }
    // A connection of its own: the statement runs beside the shared connection, which the windows keep using.
    return events::esperar([&cadena, &sql] {
        ResultadoAsincrono r;
        db::Connection con;
        con.setConnectionString(cadena);
        db::DbError e;
        if (!con.open(e)) {
            r.errores = lineaError(e);
            return r;
        }
        qint64 filas = 0;
        if (con.execute(sql, filas, e)) {
            r.ok = true;
        } else {
            r.errores = lineaError(e);
        }
        con.close();
        return r;
    });
}

} // namespace v7
