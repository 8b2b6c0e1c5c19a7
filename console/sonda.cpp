#include "console/sonda.h"

#include "core/errores.h"
#include "core/sql.h"
#include "platform/events.h"
#include "platform/service.h"

#include <atomic>

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

// What a failure means, for the status line (its raw text goes to the tooltip).
QString fraseDeFallo(ResultadoSonda::Estado estado, const db::DbError& e, const QString& texto) {
    switch (estado) {
    case ResultadoSonda::Estado::SinRespuesta:
        return QStringLiteral("El servidor de base de datos aceptó la conexión, pero no contestó a tiempo.");
    case ResultadoSonda::Estado::SinAcceso:
        return QStringLiteral("El servidor rechazó el usuario o la contraseña de esta sesión.");
    case ResultadoSonda::Estado::EnLinea:
        return QString();
    case ResultadoSonda::Estado::Detenido:
        break;
    }
    // A connection that could not be made (refused, no such host) is not a connection that was lost.
    if (e.sqlState == QLatin1String("08001") || texto.contains(QLatin1String("Connection refused")) ||
        texto.contains(QLatin1String("could not connect")) || texto.contains(QLatin1String("No such file"))) {
        return QStringLiteral("El servidor de base de datos no está en ejecución o no acepta conexiones.");
    }
    if (e.isLostConnection()) {
        return QStringLiteral("Se perdió la conexión con el servidor de base de datos.");
    }
    const QString frase = err::fraseDeErrorSql(texto);
    return frase.isEmpty() ? QStringLiteral("No se pudo comunicar con el servidor de base de datos.") : frase;
}

// The text ConexionServer gives for a failed reopening.
QString textoApertura(const db::DbError& e, const QString& cadena) {
    return err::ocurrio(err::kOcurrioErrorDosPuntos, e.number) + QLatin1Char(' ') + e.description + err::kCrLf +
           db::redactPassword(cadena);
}

} // namespace

struct SondaServidor::Compartido {
    // Only the worker of the probe under way touches these (one worker at a time).
    std::shared_ptr<db::Connection> conexion = std::make_shared<db::Connection>();
    bool fallo = false; // the last probe failed: the next success means the server came back
    bool accesoRechazado = false;
    QString textoRechazo;
    std::atomic<bool> permitir{false};

    ResultadoSonda sondear(const QString& cadena, const QString& rutaPostgres);
    ResultadoSonda sinAcceso(const QString& rutaPostgres);
    ResultadoSonda fallida(ResultadoSonda::Estado estado, const QString& texto, const db::DbError& e = {});
};

ResultadoSonda SondaServidor::Compartido::fallida(ResultadoSonda::Estado estado, const QString& texto,
                                                  const db::DbError& e) {
    fallo = true;
    ResultadoSonda r;
    r.estado = estado;
    r.texto = texto;
    r.frase = fraseDeFallo(estado, e, texto);
    return r;
}

ResultadoSonda SondaServidor::Compartido::sinAcceso(const QString& rutaPostgres) {
    // No login with the refused password: pg_ctl tells whether the server still runs.
    const service::Result st = service::status(rutaPostgres);
    if (st.outcome == service::Outcome::Done && !st.running) {
        accesoRechazado = false; // a server started again is worth one attempt
        ResultadoSonda r = fallida(ResultadoSonda::Estado::Detenido, st.output.trimmed());
        r.frase = QStringLiteral("El servidor de base de datos no está en ejecución.");
        return r;
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
    // The probe's own connection, on its own thread: the shared one is never touched here.
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
            return fallida(ResultadoSonda::Estado::SinAcceso, texto, e);
        }
        return fallida(esSinRespuesta(e) ? ResultadoSonda::Estado::SinRespuesta : ResultadoSonda::Estado::Detenido,
                       texto, e);
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
                           texto, e);
        }
        // Lost (a restart): reopened once, as the SQL layer does.
        con.close();
        fallo = true;
        if (!abrir(e)) {
            return falloApertura(e);
        }
        if (!con.execute(kSelect, filas, e)) {
            return fallida(ResultadoSonda::Estado::Detenido,
                           sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), kSelect), e);
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

SondaServidor::SondaServidor(QObject* parent) : QObject(parent), m_compartido(std::make_shared<Compartido>()) {}

// A probe still under way ends by itself (its connection has a time-out) and its result is dropped: the
// callback belongs to this object.
SondaServidor::~SondaServidor() = default;

bool SondaServidor::iniciar(const QString& cadenaConexion, const QString& rutaPostgres) {
    if (m_enCurso) {
        return false;
    }
    m_enCurso = true;
    m_inicio.start();
    // The worker keeps what it uses alive; a probe that never gets an answer holds up neither the window
    // nor the program's end.
    auto resultado = std::make_shared<ResultadoSonda>();
    events::alTerminar(
        this,
        [c = m_compartido, resultado, cadenaConexion, rutaPostgres] {
            *resultado = c->sondear(cadenaConexion, rutaPostgres);
        },
        [this, resultado] {
            m_enCurso = false;
            emit terminada(*resultado);
        });
    return true;
}

qint64 SondaServidor::msEnCurso() const {
    return m_enCurso ? m_inicio.elapsed() : 0;
}

void SondaServidor::permitirAcceso() {
    m_compartido->permitir = true;
}

} // namespace v7
