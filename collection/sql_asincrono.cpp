#include "collection/sql_asincrono.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace v7 {

QString lineaError(const db::DbError& e) {
    return QLatin1Char('[') + QString::number(e.number) + QStringLiteral("] - ") + e.description +
           QStringLiteral("\r\n");
}

void avanzarActividad(int& valor, int& maximo) {
    if (maximo <= valor + 1) {
        maximo *= 2;
    }
    ++valor;
}

ResultadoAsincrono ejecutarAsincrono(const QString& cadena, const QString& sql, const std::function<void()>& tick,
                                     int intervaloMs) {
    struct Estado {
        std::atomic<bool> terminado{false};
        ResultadoAsincrono resultado;
    };
    auto estado = std::make_shared<Estado>();
    QEventLoop espera;

    std::thread trabajador([estado, cadena, sql, &espera] {
        db::Connection con;
        con.setConnectionString(cadena);
        db::DbError e;
        if (!con.open(e)) {
            estado->resultado.errores = lineaError(e);
        } else {
            qint64 filas = 0;
            if (con.execute(sql, filas, e)) {
                estado->resultado.ok = true;
            } else {
                estado->resultado.errores = lineaError(e);
            }
            con.close();
        }
        estado->terminado = true;
        // Queued to the waiting thread; the loop outlives this call because the caller joins first.
        QMetaObject::invokeMethod(&espera, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QTimer reloj;
    if (tick) {
        QObject::connect(&reloj, &QTimer::timeout, tick);
        reloj.start(intervaloMs);
    }
    while (!estado->terminado) {
        espera.exec();
    }
    reloj.stop();
    trabajador.join();
    return estado->resultado;
}

} // namespace v7
