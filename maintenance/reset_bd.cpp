#include "maintenance/reset_bd.h"

#include "maintenance/restauracion_roles.h"

#include "core/analistas.h"
#include "core/config.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/restauracion_roles.h"
#include "platform/db.h"
#include "platform/events.h"

#include <QDateTime>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The tables the reset empties, as a condition on pg_class c joined with pg_namespace n.
QString condicionTablas() {
    return QStringLiteral("c.relkind IN ('r', 'p') AND ((n.nspname IN (") + listaLiterales(kEsquemasReset) +
           QStringLiteral(") AND NOT (n.nspname = 'catalogos' AND c.relname = 'analistas')) OR "
                          "(n.nspname = 'config_veliro' AND c.relname = 'respaldos'))");
}

// Rows of a two-column query as schema.table pairs.
std::optional<QVector<std::pair<QString, QString>>> pares(const QString& sql, QString& error) {
    int total = 0;
    RecordsetPtr rs = ExecuteSQLrs(sql, total, error);
    if (!rs) {
        return std::nullopt;
    }
    QVector<std::pair<QString, QString>> filas;
    for (; !rs->eof(); rs->moveNext()) {
        filas.push_back({rs->text(0), rs->text(1)});
    }
    return filas;
}

// One staff login dropped with its staff row, all or nothing. Empty on success, else the reason.
QString eliminarLogin(const QString& login) {
    auto con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        return QStringLiteral("No existe conexion con el servidor");
    }
    db::Transaccion t(con);
    db::DbError e;
    // Each statement is checked: inside a block the driver rolls back only the one that failed.
    const QStringList sentencias = {
        QStringLiteral("REVOKE ALL ON DATABASE ") + citarIdentificador(QStringLiteral("veliro7")) +
            QStringLiteral(" FROM ") + citarIdentificador(login),
        QStringLiteral("DROP ROLE ") + citarIdentificador(login),
        QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = ") + citarLiteral(login)};
    if (!t.begin(e)) {
        return e.description;
    }
    for (const QString& sql : sentencias) {
        qint64 filas = 0;
        if (!con->execute(sql, filas, e)) {
            return e.description;
        }
    }
    if (!t.commit(e)) {
        return e.description;
    }
    return QString();
}

} // namespace

std::optional<TablasReset> tablasReset(QString& error) {
    const QString lista = QStringLiteral("SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                         "WHERE ") +
                          condicionTablas();
    const auto tablas = pares(QStringLiteral("SELECT n.nspname, c.relname FROM pg_class c JOIN pg_namespace n ON "
                                             "n.oid = c.relnamespace WHERE ") +
                                  condicionTablas() + QStringLiteral(" ORDER BY n.nspname, c.relname"),
                              error);
    if (!tablas) {
        return std::nullopt;
    }
    const auto ajenas =
        pares(QStringLiteral("SELECT DISTINCT n.nspname, c.relname FROM pg_constraint k JOIN pg_class c ON c.oid = "
                             "k.conrelid JOIN pg_namespace n ON n.oid = c.relnamespace WHERE k.contype = 'f' AND "
                             "k.confrelid IN (") +
                  lista + QStringLiteral(") AND k.conrelid NOT IN (") + lista + QStringLiteral(") ORDER BY 1, 2"),
              error);
    if (!ajenas) {
        return std::nullopt;
    }
    TablasReset r;
    for (const auto& [esquema, tabla] : *tablas) {
        r.tablas << citarIdentificador(esquema, tabla);
    }
    for (const auto& [esquema, tabla] : *ajenas) {
        r.ajenas << esquema + QLatin1Char('.') + tabla;
    }
    return r;
}

QString sentenciaReset(const QStringList& tablas) {
    return QStringLiteral("TRUNCATE ") + tablas.join(QStringLiteral(",") + kCrLf) +
           QStringLiteral(" RESTART IDENTITY CASCADE;");
}

std::optional<QStringList> loginsStaffReset(QString& error) {
    // The restore's own rule: members of the four groups, never the session's logins, the bootstrap
    // superuser or a predefined role.
    error.clear();
    QSet<QString> protegidos = rolesProtegidos(error);
    if (!error.isEmpty()) {
        return std::nullopt;
    }
    protegidos.insert(sesion().UsuarioSesion.trimmed());
    protegidos.remove(QString());
    bool ok = false;
    const QStringList logins = rolesStaff(protegidos, ok, error);
    if (!ok) {
        return std::nullopt;
    }
    return logins;
}

ResultadoReset ResetearBaseDatos(const QString& usuario) {
    ResultadoReset r;
    const auto tablas = tablasReset(r.error);
    if (!tablas) {
        return r;
    }
    if (!tablas->ajenas.isEmpty()) {
        r.error = QStringLiteral("Las siguientes tablas hacen referencia a las tablas que se vaciarían, y también "
                                 "se vaciarían:") +
                  kCrLf + tablas->ajenas.join(kCrLf);
        return r;
    }
    if (!tablas->tablas.isEmpty()) {
        int filas = 0;
        if (!ExecuteSQLaction(sentenciaReset(tablas->tablas), filas, r.error)) {
            return r;
        }
    }
    r.vaciada = true;
    r.error.clear();
    events::pump();

    QString error;
    if (const auto logins = loginsStaffReset(error)) {
        for (const QString& login : *logins) {
            const QString motivo = eliminarLogin(login);
            if (motivo.isEmpty()) {
                r.eliminados << login;
            } else {
                r.fallas << QStringLiteral("No se eliminó el usuario \"") + login + QStringLiteral("\": ") + motivo;
            }
            events::pump();
        }
    } else {
        r.fallas << QStringLiteral("No se obtuvo la lista de usuarios: ") + error;
    }

    const QDateTime ahora = QDateTime::currentDateTime();
    QString valor = usuario + QLatin1Char('_') + ahora.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
                    ahora.toString(QStringLiteral("HHmm"));
    error.clear();
    if (!GuardarConfiguracion(valor, QStringLiteral("RESETBD"), &error)) {
        r.fallas << QStringLiteral("No se registró la variable de configuración RESETBD: ") + error;
    }
    return r;
}

} // namespace v7
