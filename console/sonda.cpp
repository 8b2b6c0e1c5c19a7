#include "console/sonda.h"

#include "core/sql.h"
#include "platform/service.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <atomic>
#include <mutex>
#include <thread>

namespace v7 {

namespace {

const QString kSelect = QStringLiteral("SELECT 1;");

bool esAccesoRechazado(const db::DbError& e) {
    // 28P01 wrong password, 28000 no pg_hba.conf entry or role not permitted to log in.
    return e.sqlState == QLatin1String("28P01") || e.sqlState == QLatin1String("28000") ||
           e.description.contains(QLatin1String("password authentication failed")) ||
           e.description.contains(QLatin1String("la autentifi"));
}

bool esSinRespuesta(const db::DbError& e) {
    // HYT00/HYT01 time-outs; 57P03: the server is starting or shutting down and takes no one.
    return e.sqlState == QLatin1String("HYT00") || e.sqlState == QLatin1String("HYT01") ||
           e.sqlState == QLatin1String("57P03") || e.description.contains(QLatin1String("timeout expired"));
}

// The text ConexionServer gives for a failed reopening.
QString textoApertura(const db::DbError& e, const QString& cadena) {
    return QStringLiteral("Ocurrió el error: ") + QString::number(e.number) + QLatin1Char(' ') + e.description +
           QStringLiteral("\r\n") + db::redactPassword(cadena);
}

} // namespace

struct SondaServidor::Compartido {
    std::mutex mutex;
    QObject* receptor = nullptr; // cleared when the probe object goes away
    // Only the worker of the probe under way touches these (one worker at a time).
    std::shared_ptr<db::Connection> conexion = std::make_shared<db::Connection>();
    bool fallo = false; // the last probe failed: the next success means the server came back
    bool accesoRechazado = false;
    QString textoRechazo;
    std::atomic<bool> permitir{false};
    QElapsedTimer inicio;

    ResultadoSonda sondear(const QString& cadena, const QString& rutaPostgres);
    ResultadoSonda sinAcceso(const QString& rutaPostgres);
    ResultadoSonda fallida(ResultadoSonda::Estado estado, const QString& texto);
};

ResultadoSonda SondaServidor::Compartido::fallida(ResultadoSonda::Estado estado, const QString& texto) {
    fallo = true;
    ResultadoSonda r;
    r.estado = estado;
    r.texto = texto;
    return r;
}

ResultadoSonda SondaServidor::Compartido::sinAcceso(const QString& rutaPostgres) {
    // No login with the refused password: pg_ctl tells whether the server still runs.
    const service::Result st = service::status(rutaPostgres);
    if (st.outcome == service::Outcome::Done && !st.running) {
        accesoRechazado = false; // a server started again is worth one attempt
        return fallida(ResultadoSonda::Estado::Detenido, st.output.trimmed());
    }
    return fallida(ResultadoSonda::Estado::SinAcceso, textoRechazo);
}

ResultadoSonda SondaServidor::Compartido::sondear(const QString& cadena, const QString& rutaPostgres) {
    if (permitir.exchange(false)) {
        accesoRechazado = false;
    }
    if (accesoRechazado) {
        return sinAcceso(rutaPostgres);
    }
    db::Connection& con = *conexion;
    if (con.isOpen() && con.connectionString() != cadena) {
        con.close(); // the session logged in again elsewhere
    }
    auto abrir = [&](db::DbError& e) {
        con.setConnectionString(cadena);
        con.setTimeoutSeconds(kPlazoConexionSegundos);
        return con.open(e);
    };
    auto falloApertura = [&](const db::DbError& e) {
        const QString texto = textoApertura(e, cadena);
        if (esAccesoRechazado(e)) {
            accesoRechazado = true;
            textoRechazo = texto;
            return fallida(ResultadoSonda::Estado::SinAcceso, texto);
        }
        return fallida(esSinRespuesta(e) ? ResultadoSonda::Estado::SinRespuesta : ResultadoSonda::Estado::Detenido,
                       texto);
    };
    db::DbError e;
    if (!con.isOpen() && !abrir(e)) {
        return falloApertura(e);
    }
    qint64 filas = 0;
    if (!con.execute(kSelect, filas, e)) {
        const QString texto = sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), kSelect);
        if (!esConexionPerdida(texto, e)) {
            return fallida(esSinRespuesta(e) ? ResultadoSonda::Estado::SinRespuesta : ResultadoSonda::Estado::Detenido,
                           texto);
        }
        // Lost (a restart): reopened once, as the SQL layer does.
        con.close();
        fallo = true;
        if (!abrir(e)) {
            return falloApertura(e);
        }
        if (!con.execute(kSelect, filas, e)) {
            return fallida(ResultadoSonda::Estado::Detenido,
                           sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), kSelect));
        }
    }
    ResultadoSonda r;
    r.estado = ResultadoSonda::Estado::EnLinea;
    if (fallo) {
        // The server was away: the session's shared connection most likely died with it.
        auto nueva = std::make_shared<db::Connection>();
        nueva->setConnectionString(cadena);
        nueva->setTimeoutSeconds(kPlazoConexionSegundos);
        db::DbError ignorado;
        if (nueva->open(ignorado)) {
            r.reemplazo = nueva;
            fallo = false;
        }
    }
    return r;
}

SondaServidor::SondaServidor(QObject* parent) : QObject(parent), m_compartido(std::make_shared<Compartido>()) {
    m_compartido->receptor = this;
}

SondaServidor::~SondaServidor() {
    std::lock_guard<std::mutex> lock(m_compartido->mutex);
    m_compartido->receptor = nullptr;
}

bool SondaServidor::iniciar(const QString& cadenaConexion, const QString& rutaPostgres) {
    if (m_enCurso) {
        return false;
    }
    m_enCurso = true;
    {
        std::lock_guard<std::mutex> lock(m_compartido->mutex);
        m_compartido->inicio.start();
    }
    // Detached: a probe that never gets an answer must not hold up the window or the program's end. It
    // keeps what it uses alive and drops its result when this object is gone.
    std::thread([c = m_compartido, cadenaConexion, rutaPostgres] {
        ResultadoSonda r = c->sondear(cadenaConexion, rutaPostgres);
        std::lock_guard<std::mutex> lock(c->mutex);
        if (c->receptor != nullptr) {
            auto* sonda = static_cast<SondaServidor*>(c->receptor);
            QMetaObject::invokeMethod(
                sonda,
                [sonda, r = std::move(r)] {
                    sonda->m_enCurso = false;
                    emit sonda->terminada(r);
                },
                Qt::QueuedConnection);
        }
    }).detach();
    return true;
}

qint64 SondaServidor::msEnCurso() const {
    if (!m_enCurso) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_compartido->mutex);
    return m_compartido->inicio.elapsed();
}

void SondaServidor::permitirAcceso() {
    m_compartido->permitir = true;
}

} // namespace v7
