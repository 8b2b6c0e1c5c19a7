#include "autobackup/basedatos.h"

#include "core/config.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "platform/notify.h"

#include <QDate>
#include <QDateTime>

#include <climits>

namespace v7::autobackup {

namespace {

// Long enough for a busy server, short enough that an unreachable address does not hold the run.
constexpr int kEsperaConexionSegundos = 30;

// This program's SQL layer: a closed connection is reopened before a statement runs; a lost one is
// reopened once (conServidor) and the statement or query run once more, so a server that keeps dropping
// the connection cannot hold the run in a loop. Its dead-connection test is the two texts it always
// looked for, and the driver's SQLSTATEs for a lost connection.
const PoliticaSql& politica() {
    static const PoliticaSql p = [] {
        PoliticaSql r;
        r.abrirSiCerrada = true;
        r.reintentosAccion = 1;
        r.reintentosConsulta = 1;
        r.blancoEnErrorConsulta = true;
        r.cuentaDelRecordset = true;
        r.conexionPerdida = [](const QString& errorText, const db::DbError& e) {
            return errorText.contains(QLatin1String("response from the backend")) ||
                   errorText.contains(QLatin1String("connection dead")) || e.isLostConnection();
        };
        r.reconectar = autobackup::conServidor;
        return r;
    }();
    return p;
}

} // namespace

bool ExecuteSQLaction(const QString& sql, int& rows, QString& errorText) {
    return ejecutarAccion(politica(), sql, rows, errorText);
}

RecordsetPtr ExecuteSQLrs(const QString& sql, int& count, QString& errorText, const QString& countClause) {
    return ejecutarConsulta(politica(), sql, count, errorText, countClause);
}

bool conServidor(const QString& cadena, QString& errorText) {
    auto& s = sesion();
    if (s.ConexionPrincipal && s.ConexionPrincipal->isOpen()) {
        s.ConexionPrincipal->close();
    }
    s.ConexionPrincipal = std::make_shared<db::Connection>();
    s.ConexionPrincipal->setConnectionString(cadena);
    s.ConexionPrincipal->setTimeoutSeconds(kEsperaConexionSegundos);
    db::DbError e;
    const bool abrio = s.ConexionPrincipal->open(e);
    if (abrio && s.ConexionPrincipal->isOpen()) {
        return true;
    }
    if (abrio) {
        e = db::DbError{QString(), err::kErrorEsperaConexion,
                        QStringLiteral("Se agotó el tiempo de espera para establecer la conexión con el servidor")};
    }
    errorText = err::ocurrio(err::kOcurrioErrorDosPuntos, e.number) + QLatin1Char(' ') + e.description + err::kCrLf +
                db::redactPassword(cadena);
    // 08001: the client could not reach the server (this driver never says "could not connect").
    if (errorText.contains(QLatin1String("timeout occured")) ||
        errorText.contains(QLatin1String("could not connect")) || e.sqlState == QLatin1String("08001")) {
        avisar(MsgIcon::Critical,
               QStringLiteral("Ha ocurrido un error crítico con la conexión del servidor.") + err::kCrLf +
                   QStringLiteral("Por favor verifique el estado de su servidor de datos PostgreSQL.") + err::kCrLf +
                   QStringLiteral("No podrá continuar con este proceso."),
               MsgButtons::Ok, QStringLiteral("Error de conexión con el servidor"));
        // Nobody answers in an unattended run: the run goes on along its failure path whatever the answer.
        (void)avisar(MsgIcon::Question,
                     QStringLiteral("Al parecer hay problemas con la conexión del servidor") + err::kCrLf + err::kCrLf +
                         QStringLiteral("¿Deseas salir del módulo?"),
                     MsgButtons::YesNo, QStringLiteral("Salir?"));
    }
    s.ConexionPrincipal.reset();
    return false;
}

bool GuardarConfiguracion(const QString& value, const QString& key, QString* errorText) {
    return guardarValorConfiguracion(sesion().ConexionPrincipal, value, key, errorText);
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
    auto rs = autobackup::ExecuteSQLrs(sql, count, err);
    return rs && !rs->eof();
}

} // namespace v7::autobackup
