#include "autobackup/basedatos.h"

#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/events.h"
#include "platform/notify.h"

#include <QDate>
#include <QDateTime>

#include <climits>

namespace v7::autobackup {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kSinSentencia = QStringLiteral("sentencia SQL no proporcionada");

int aEntero(qint64 v) {
    return int(qBound(qint64(INT_MIN), v, qint64(INT_MAX)));
}

bool abierta() {
    const auto& c = sesion().ConexionPrincipal;
    return c && c->isOpen();
}

// The texts the program always looked for, and psqlODBC's SQLSTATEs for a connection that is gone.
bool conexionMuerta(const QString& errorText, const db::DbError& e) {
    return errorText.contains(QLatin1String("response from the backend")) ||
           errorText.contains(QLatin1String("connection dead")) || e.isLostConnection();
}

QString textoErrorRs(const db::DbError& e, const QString& sql) {
    return QStringLiteral("Error: ") + QString::number(e.number) + QLatin1Char(' ') + e.description + kCrLf +
           QStringLiteral("[Source]: public function ExecuteSQLrs") + kCrLf + QStringLiteral("[cadSQL]:") + sql;
}

// Opens the shared connection when it is not open; false with conServidor's text.
bool asegurarConexion(QString& errorText) {
    return abierta() || conServidor(sesion().CadenaConexion, errorText);
}

} // namespace

bool ExecuteSQLaction(const QString& sql, int& rows, QString& errorText) {
    if (sql.trimmed().isEmpty()) {
        errorText = kSinSentencia;
        return false;
    }
    if (!asegurarConexion(errorText)) {
        return false;
    }
    // One reconnection and one retry at most: a server that keeps dropping the connection must not
    // hold the run in a loop.
    for (int intento = 0;; ++intento) {
        rows = 0;
        db::DbError e;
        qint64 n = 0;
        if (sesion().ConexionPrincipal->execute(sql, n, e)) {
            rows = aEntero(n);
            errorText.clear();
            return true;
        }
        rows = -1;
        errorText = sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), sql);
        if (intento > 0 || !conexionMuerta(errorText, e)) {
            return false;
        }
        // A statement of a transaction that died with the connection would commit on its own on the
        // new connection: it is not run again.
        const bool enTransaccion = sesion().ConexionPrincipal->inTransaction();
        const QString perdida = errorText;
        if (!conServidor(sesion().CadenaConexion, errorText)) {
            return false;
        }
        if (enTransaccion) {
            errorText = perdida;
            return false;
        }
        errorText.clear();
    }
}

RecordsetPtr ExecuteSQLrs(const QString& sql, int& count, QString& errorText, const QString& countClause) {
    if (sql.trimmed().isEmpty()) {
        errorText = kSinSentencia;
        return nullptr;
    }
    if (!asegurarConexion(errorText)) {
        count = -1;
        return nullptr;
    }
    for (int intento = 0;; ++intento) {
        count = -1;
        db::DbError e;
        RecordsetPtr rs;
        bool contado = true;
        if (!countClause.isEmpty()) {
            auto total =
                sesion().ConexionPrincipal->query(QStringLiteral("SELECT count(*) as total ") + countClause, e);
            contado = total != nullptr;
            if (contado) {
                count = total->eof() ? 0 : aEntero(total->text(0).toLongLong());
                total->close();
            }
        }
        if (contado) {
            rs = sesion().ConexionPrincipal->query(sql, e);
        }
        if (rs) {
            if (countClause.isEmpty()) {
                count = rs->recordCount();
            }
            errorText.clear();
            return rs;
        }
        count = -1;
        errorText = textoErrorRs(e, sql);
        if (intento > 0 || !conexionMuerta(errorText, e)) {
            return nullptr;
        }
        const QString perdida = errorText;
        const bool enTransaccion = sesion().ConexionPrincipal->inTransaction();
        if (!conServidor(sesion().CadenaConexion, errorText)) {
            return nullptr;
        }
        if (enTransaccion) {
            errorText = perdida;
            return nullptr;
        }
        errorText.clear();
    }
}

bool conServidor(const QString& cadena, QString& errorText) {
    auto& s = sesion();
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        s.ConexionPrincipal->close();
    }
    events::pump();
    s.ConexionPrincipal = std::make_shared<db::Connection>();
    s.ConexionPrincipal->setConnectionString(cadena);
    db::DbError e;
    const bool abrio = s.ConexionPrincipal->open(e);
    events::pump();
    if (abrio && s.ConexionPrincipal->isOpen()) {
        return true;
    }
    if (abrio) {
        e = db::DbError{QString(), 5000,
                        QStringLiteral("Se agotó el tiempo de espera para establecer la conexión con el servidor")};
    }
    errorText = QStringLiteral("Ocurrió el error: ") + QString::number(e.number) + QLatin1Char(' ') + e.description +
                kCrLf + db::redactPassword(cadena);
    // 08001: the client could not reach the server (this driver never says "could not connect").
    if (errorText.contains(QLatin1String("timeout occured")) ||
        errorText.contains(QLatin1String("could not connect")) || e.sqlState == QLatin1String("08001")) {
        avisar(MsgIcon::Critical,
               QStringLiteral("Ha ocurrido un error crítico con la conexión del servidor.") + kCrLf +
                   QStringLiteral("Por favor verifique el estado de su servidor de datos PostgreSQL.") + kCrLf +
                   QStringLiteral("No podrá continuar con este proceso."),
               MsgButtons::Ok, QStringLiteral("Error de conexión con el servidor"));
        // Nobody answers in an unattended run: the run goes on along its failure path whatever the answer.
        (void)avisar(MsgIcon::Question,
                     QStringLiteral("Al parecer hay problemas con la conexión del servidor") + kCrLf + kCrLf +
                         QStringLiteral("¿Deseas salir del módulo?"),
                     MsgButtons::YesNo, QStringLiteral("Salir?"));
    }
    s.ConexionPrincipal.reset();
    return false;
}

bool GuardarConfiguracion(const QString& value, const QString& key, QString* errorText) {
    QString v = value;
    v.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    v = EscaparComillas(v).trimmed();
    // Doubled backslashes are escapes only inside E'…': the stored value is the text itself.
    const QString apertura = v.contains(QLatin1Char('\\')) ? QStringLiteral("E'") : QStringLiteral("'");
    if (!abierta()) {
        if (errorText != nullptr) {
            *errorText = QStringLiteral("No existe conexion con el servidor");
        }
        return false;
    }
    auto ejecutar = [&](const QString& sql) -> qint64 {
        qint64 n = 0;
        db::DbError e;
        if (!sesion().ConexionPrincipal->execute(sql, n, e)) {
            if (errorText != nullptr) {
                *errorText = sqlErrorText(e, QStringLiteral("GuardarConfiguracion"), sql);
            }
            return -1;
        }
        return n;
    };
    const qint64 actualizadas = ejecutar(QStringLiteral("UPDATE config_veliro.configuracion SET valor = ") + apertura +
                                         v + QStringLiteral("' WHERE descripcion = '") + key + QLatin1Char('\''));
    if (actualizadas > 0) {
        return true;
    }
    if (actualizadas < 0) {
        return false;
    }
    return ejecutar(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('") + key + QStringLiteral("', ") +
                    apertura + v + QStringLiteral("')")) > 0;
}

QString FormatearValorSQL(const QVariant& value, int kind) {
    const QString kNull = QStringLiteral("NULL");
    if (kind < 0 || kind > 4) {
        return QString();
    }
    if (!value.isValid() || value.isNull()) {
        return kNull;
    }
    switch (kind) {
    case kTexto: {
        QString s = value.toString();
        s.remove(QChar(u'\0'));
        s = s.trimmed();
        if (s.isEmpty()) {
            return QStringLiteral("''");
        }
        s.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        s.replace(QLatin1Char('\''), QStringLiteral("''"));
        s.replace(QLatin1Char('?'), QStringLiteral("\\?"));
        const bool escapes = s.contains(QLatin1Char('\\'));
        return (escapes ? QStringLiteral("E'") : QStringLiteral("'")) + s + QLatin1Char('\'');
    }
    case kFecha: {
        QDateTime d;
        if (value.typeId() == QMetaType::QDateTime) {
            d = value.toDateTime();
        } else if (value.typeId() == QMetaType::QDate) {
            d = QDateTime(value.toDate(), QTime(0, 0));
        }
        if (!d.isValid()) {
            return kNull;
        }
        return QLatin1Char('\'') + d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('\'');
    }
    case kBooleano:
        if (value.typeId() == QMetaType::Bool) {
            return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        } else {
            bool ok = false;
            const bool b = textoABooleano(value.toString(), &ok);
            return !ok ? kNull : (b ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
        }
    default: {
        const QString s = value.toString().trimmed();
        if (s.isEmpty()) {
            return kNull;
        }
        bool ok = false;
        const qlonglong i = s.toLongLong(&ok);
        if (ok) {
            return QString::number(i);
        }
        const double d = s.toDouble(&ok); // never the process locale's "1,50"
        return ok ? QString::number(d, 'g', 17) : kNull;
    }
    }
}

bool ExisteColumna(const QString& schema, const QString& table, const QString& column) {
    QString sql = QStringLiteral("SELECT column_name FROM information_schema.columns WHERE table_schema='") + schema +
                  QStringLiteral("' AND table_name='") + table;
    if (!column.isEmpty()) {
        sql += QStringLiteral("' AND column_name='") + column;
    }
    sql += QStringLiteral("';");
    int count = 0;
    QString err;
    auto rs = ExecuteSQLrs(sql, count, err);
    return rs && !rs->eof();
}

} // namespace v7::autobackup
