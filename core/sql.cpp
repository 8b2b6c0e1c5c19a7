#include "core/sql.h"

#include "core/errores.h"
#include "core/session.h"
#include "platform/events.h"

namespace v7 {

namespace {

using err::kCrLf;
const QString kNoStatement = QStringLiteral("sentencia SQL no proporcionada");

int clampToInt(qint64 v) {
    return int(qBound(qint64(INT_MIN), v, qint64(INT_MAX)));
}

} // namespace

QString sqlErrorText(const db::DbError& e, const QString& routine, const QString& sql) {
    return QStringLiteral("Error: ") + QString::number(e.number) + e.description + kCrLf +
           QStringLiteral("[Source]: public function ") + routine + kCrLf + QStringLiteral("[cadSQL]:") +
           db::redactStatement(sql);
}

bool esConexionPerdida(const QString& errorText, const db::DbError& e) {
    return errorText.contains(QLatin1String("cerrado")) ||
           errorText.contains(QLatin1String("response from the backend")) ||
           errorText.contains(QLatin1String("connection dead")) || e.isLostConnection();
}

const PoliticaSql& politicaHerramientas() {
    static const PoliticaSql p = [] {
        PoliticaSql r;
        r.reintentosAccion = kMaxReconnectCycles;
        r.conexionPerdida = esConexionPerdida;
        r.reconectar = ConexionServer;
        return r;
    }();
    return p;
}

namespace {

// After a failure: whether to run the statement again. False leaves the error text to return.
bool reabrirTrasPerdida(const PoliticaSql& p, int ciclo, int maximo, const db::DbError& e, QString& errorText) {
    if (ciclo >= maximo || !p.conexionPerdida || !p.conexionPerdida(errorText, e) || !p.reconectar) {
        return false;
    }
    // A transaction dies with its connection: the statement is not run again on the new one, where it
    // would commit on its own what belonged to the lost transaction.
    const bool transaccionPerdida = conexionPrincipal().inTransaction();
    const QString perdida = errorText;
    if (!p.reconectar(sesion().CadenaConexion, errorText)) {
        return false;
    }
    errorText.clear();
    if (transaccionPerdida) {
        errorText = perdida;
        return false;
    }
    return true;
}

bool abrirAntes(const PoliticaSql& p, QString& errorText) {
    if (!p.abrirSiCerrada || conexionPrincipal().isOpen()) {
        return true;
    }
    return p.reconectar && p.reconectar(sesion().CadenaConexion, errorText);
}

QString errorConsulta(const PoliticaSql& p, const db::DbError& e, const QString& sql) {
    if (!p.blancoEnErrorConsulta) {
        return sqlErrorText(e, QStringLiteral("ExecuteSQLrs"), sql);
    }
    return QStringLiteral("Error: ") + QString::number(e.number) + QLatin1Char(' ') + e.description + kCrLf +
           QStringLiteral("[Source]: public function ExecuteSQLrs") + kCrLf + QStringLiteral("[cadSQL]:") +
           db::redactStatement(sql);
}

} // namespace

PlazosEnConexion::PlazosEnConexion(const Plazos& plazos) {
    db::Connection& c = conexionPrincipal();
    if (!c.isOpen()) {
        return;
    }
    qint64 n = 0;
    db::DbError e;
    // Failures are left alone: inside an aborted block the statement fails anyway, with its own error.
    (void)c.execute(QStringLiteral("SET lock_timeout = ") + QString::number(plazos.bloqueoMs) +
                        QStringLiteral("; SET statement_timeout = ") + QString::number(plazos.sentenciaMs),
                    n, e);
}

PlazosEnConexion::~PlazosEnConexion() {
    db::Connection& c = conexionPrincipal();
    if (!c.isOpen()) {
        return;
    }
    qint64 n = 0;
    db::DbError e;
    (void)c.execute(QStringLiteral("RESET lock_timeout; RESET statement_timeout"), n, e);
}

bool ejecutarAccion(const PoliticaSql& p, const QString& sql, int& rowsAffected, QString& errorText) {
    if (sql.trimmed().isEmpty()) {
        errorText = kNoStatement;
        return false;
    }
    if (!abrirAntes(p, errorText)) {
        return false;
    }
    for (int cycle = 0;; ++cycle) {
        db::DbError e;
        qint64 rows = 0;
        if (conexionPrincipal().execute(sql, rows, e)) {
            rowsAffected = clampToInt(rows);
            errorText.clear();
            return true;
        }
        rowsAffected = -1;
        errorText = sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), sql);
        if (!reabrirTrasPerdida(p, cycle, p.reintentosAccion, e, errorText)) {
            return false;
        }
    }
}

RecordsetPtr ejecutarConsulta(const PoliticaSql& p, const QString& sql, int& total, QString& errorText,
                              const QString& countFrom) {
    if (sql.trimmed().isEmpty()) {
        errorText = kNoStatement;
        return nullptr;
    }
    if (!abrirAntes(p, errorText)) {
        total = -1;
        return nullptr;
    }
    for (int cycle = 0;; ++cycle) {
        total = -1;
        db::DbError e;
        bool contado = true;
        if (!countFrom.isEmpty()) {
            auto count = conexionPrincipal().query(QStringLiteral("SELECT count(*) as total ") + countFrom, e);
            contado = count != nullptr;
            if (contado) {
                total = count->eof() ? 0 : clampToInt(count->text(0).toLongLong());
                count->close();
            }
        } else {
            total = 0;
        }
        RecordsetPtr rs = contado ? conexionPrincipal().query(sql, e) : nullptr;
        if (rs) {
            if (countFrom.isEmpty() && p.cuentaDelRecordset) {
                total = rs->recordCount();
            }
            errorText.clear();
            return rs;
        }
        total = -1;
        errorText = errorConsulta(p, e, sql);
        if (!reabrirTrasPerdida(p, cycle, p.reintentosConsulta, e, errorText)) {
            return nullptr;
        }
    }
}

bool ExecuteSQLaction(const QString& sql, int& rowsAffected, QString& errorText) {
    return ejecutarAccion(politicaHerramientas(), sql, rowsAffected, errorText);
}

RecordsetPtr ExecuteSQLrs(const QString& sql, int& total, QString& errorText, const QString& countFrom) {
    return ejecutarConsulta(politicaHerramientas(), sql, total, errorText, countFrom);
}

bool ConexionServer(const QString& connectionString, QString& errorText) {
    auto& s = sesion();
    // A secondary variable that pointed at the old shared object keeps that object; only the
    // shared variable is replaced, as before.
    s.ConexionPrincipal = std::make_shared<db::Connection>();
    s.ConexionPrincipal->setConnectionString(connectionString);
    // The login's own time-out: a server that accepts and never answers must not hold the window.
    s.ConexionPrincipal->setTimeoutSeconds(kPlazoConexionSegundos);
    db::DbError e;
    bool opened = s.ConexionPrincipal->open(e);
    // A driver that reports success without an open handle has not connected.
    if (opened && !s.ConexionPrincipal->isOpen()) {
        e = db::DbError{QString(), 5000, QStringLiteral("Se agotó el tiempo de espera para la conexión")};
        opened = false;
    }
    if (opened) {
        return true;
    }
    errorText = err::ocurrio(err::kOcurrioErrorDosPuntos, e.number) + QLatin1Char(' ') + e.description + kCrLf +
                db::redactPassword(connectionString);
    s.ConexionPrincipal.reset();
    return false;
}

} // namespace v7
