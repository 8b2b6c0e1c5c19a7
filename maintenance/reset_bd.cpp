#include "maintenance/reset_bd.h"

#include "core/config.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/restauracion_roles.h"
#include "platform/db.h"

#include <QDateTime>

namespace v7 {

namespace {

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

// The failures that end the whole reset: another session's lock or a time limit, a deadlock, the
// connection gone. Anything else belongs to the one step that met it.
bool detieneTodo(const QString& sqlState, const QString& errorText) {
    static const QStringList estados = {QStringLiteral("55P03"), QStringLiteral("57014"), QStringLiteral("40P01"),
                                        QStringLiteral("08000")};
    if (estados.contains(sqlState) || db::DbError{sqlState, 0, {}}.isLostConnection()) {
        return true;
    }
    const QString frase = err::fraseDeErrorSql(errorText);
    for (const QString& estado : estados) {
        if (!frase.isEmpty() && frase == err::fraseDeSqlState(estado)) {
            return true;
        }
    }
    return false;
}
bool detieneTodo(const db::DbError& e) {
    return detieneTodo(e.sqlState, sqlErrorText(e, QStringLiteral("ResetearBaseDatos"), QString()));
}

// A server failure as the user reads it: the Spanish sentence (when one is known), then the server's words.
QStringList motivo(const QString& sqlState, const QString& errorText) {
    QStringList partes;
    QString frase = err::fraseDeSqlState(sqlState);
    if (frase.isEmpty()) {
        frase = err::fraseDeErrorSql(errorText);
    }
    if (!frase.isEmpty()) {
        partes << frase;
    }
    const QString detalle = err::detalleDelServidor(errorText);
    if (!detalle.isEmpty()) {
        partes << QStringLiteral("Detalle del servidor: ") + detalle;
    }
    return partes;
}
QStringList motivo(const db::DbError& e) {
    return motivo(e.sqlState, sqlErrorText(e, QStringLiteral("ResetearBaseDatos"), QString()));
}

// Why the reset stopped, after its transaction was rolled back: what went wrong, who held the data when a
// lock was the cause, that nothing changed, and the server's words.
QString detenido(const QStringList& partes, bool ocupado, bool sinCambios = true) {
    QStringList lineas;
    if (!partes.isEmpty()) {
        lineas << partes.first();
    }
    if (ocupado) {
        const QStringList sesiones = sesionesOcupando();
        if (!sesiones.isEmpty()) {
            lineas << QStringLiteral("Datos en uso por otras sesiones:");
            for (const QString& s : sesiones) {
                lineas << QStringLiteral("- ") + s;
            }
        }
    }
    lineas << (sinCambios ? QStringLiteral("No se cambió nada en la base de datos.")
                          : QStringLiteral("No se sabe si los cambios se aplicaron; revise la base de datos."));
    lineas << partes.mid(1);
    return lineas.join(err::kCrLf);
}
QString detenido(const db::DbError& e) {
    return detenido(motivo(e), e.sqlState == QLatin1String("55P03") || e.sqlState == QLatin1String("40P01"));
}

// Runs one statement of the open transaction, raw: a lost connection must not be reopened under it, and the
// server's SQLSTATE tells a lock or a limit.
bool ejecutar(db::Connection& con, const QString& sql, db::DbError& e) {
    qint64 filas = 0;
    return con.execute(sql, filas, e);
}

// One staff login dropped with its staff row, inside the open transaction: all or nothing, by a
// savepoint. False with the failure in e; *vuelto tells whether the transaction is back at the savepoint
// (else it can only be rolled back whole).
bool eliminarLogin(db::Connection& con, const QString& login, db::DbError& e, bool* vuelto) {
    *vuelto = false;
    static const QString kPunto = QStringLiteral("v7_reset_login");
    if (!ejecutar(con, QStringLiteral("SAVEPOINT ") + kPunto, e)) {
        return false;
    }
    const QStringList sentencias = {
        QStringLiteral("REVOKE ALL ON DATABASE ") + citarIdentificador(QStringLiteral("veliro7")) +
            QStringLiteral(" FROM ") + citarIdentificador(login),
        QStringLiteral("DROP ROLE ") + citarIdentificador(login),
        QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = ") + citarLiteral(login)};
    for (const QString& sql : sentencias) {
        if (!ejecutar(con, sql, e)) {
            db::DbError ignorado;
            *vuelto = ejecutar(con, QStringLiteral("ROLLBACK TO SAVEPOINT ") + kPunto, ignorado);
            return false;
        }
    }
    return ejecutar(con, QStringLiteral("RELEASE SAVEPOINT ") + kPunto, e);
}

// The reset itself, on the thread conPlazos gives it.
ResultadoReset resetear(const QString& usuario) {
    ResultadoReset r;
    QString error;
    const auto tablas = tablasReset(error);
    if (!tablas) {
        r.error = err::textoParaUsuario(QStringLiteral("No se obtuvo la lista de las tablas que se vaciarían."), error);
        return r;
    }
    if (!tablas->ajenas.isEmpty()) {
        r.error = QStringLiteral("Las siguientes tablas hacen referencia a las tablas que se vaciarían, y también "
                                 "se vaciarían:") +
                  err::kCrLf + tablas->ajenas.join(err::kCrLf);
        return r;
    }
    const auto logins = loginsStaffReset(error);
    if (!logins) {
        r.error = err::textoParaUsuario(QStringLiteral("No se obtuvo la lista de los usuarios del personal."), error);
        return r;
    }
    const auto con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        r.error = QStringLiteral("No existe conexion con el servidor");
        return r;
    }

    db::Transaccion t(con);
    db::DbError e;
    if (!t.begin(e)) {
        r.error = detenido(e);
        return r;
    }
    if (!tablas->tablas.isEmpty() && !ejecutar(*con, sentenciaReset(tablas->tablas), e)) {
        t.rollback();
        r.error = detenido(e);
        return r;
    }
    QStringList eliminados;
    QStringList fallas;
    for (const QString& login : *logins) {
        bool vuelto = false;
        if (eliminarLogin(*con, login, e, &vuelto)) {
            eliminados << login;
            continue;
        }
        // A login that owns something elsewhere stays, as it always did; a lock or a limit stops it all.
        if (detieneTodo(e) || !vuelto) {
            t.rollback();
            r.error = detenido(e);
            return r;
        }
        fallas << QStringLiteral("No se eliminó el usuario \"") + login + QStringLiteral("\": ") +
                      motivo(e).join(QLatin1Char(' '));
    }

    const QDateTime ahora = QDateTime::currentDateTime();
    const QString valor = usuario + QLatin1Char('_') + ahora.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
                          ahora.toString(QStringLiteral("HHmm"));
    static const QString kPunto = QStringLiteral("v7_reset_marca");
    if (!ejecutar(*con, QStringLiteral("SAVEPOINT ") + kPunto, e)) {
        t.rollback();
        r.error = detenido(e);
        return r;
    }
    error.clear();
    if (!guardarValorConfiguracion(con, valor, QStringLiteral("RESETBD"), &error)) {
        if (detieneTodo(QString(), error)) {
            t.rollback();
            r.error = detenido(motivo(QString(), error), true);
            return r;
        }
        if (!ejecutar(*con, QStringLiteral("ROLLBACK TO SAVEPOINT ") + kPunto, e)) {
            t.rollback();
            r.error = detenido(e);
            return r;
        }
        fallas << QStringLiteral("No se registró la variable de configuración RESETBD: ") +
                      motivo(QString(), error).join(QLatin1Char(' '));
    }
    if (!t.commit(e)) {
        r.error = detenido(motivo(e), false, !e.isLostConnection());
        return r;
    }
    r.vaciada = true;
    r.eliminados = eliminados;
    r.fallas = fallas;
    return r;
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
    return QStringLiteral("TRUNCATE ") + tablas.join(QStringLiteral(",") + err::kCrLf) +
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

QStringList sesionesOcupando() {
    const QString consulta =
        QStringLiteral("SELECT l.pid, coalesce(a.usename::text, ''), coalesce(a.application_name, ''), "
                       "coalesce(host(a.client_addr), ''), string_agg(DISTINCT n.nspname || '.' || c.relname, ', ' "
                       "ORDER BY n.nspname || '.' || c.relname) FROM pg_locks l JOIN pg_class c ON c.oid = "
                       "l.relation JOIN pg_namespace n ON n.oid = c.relnamespace LEFT JOIN pg_stat_activity a ON "
                       "a.pid = l.pid WHERE l.granted AND l.pid <> pg_backend_pid() AND l.database = (SELECT oid "
                       "FROM pg_database WHERE datname = current_database()) AND ((") +
        condicionTablas() +
        QStringLiteral(") OR (n.nspname = 'catalogos' AND c.relname = 'analistas') OR (n.nspname = "
                       "'config_veliro' AND c.relname = 'configuracion')) GROUP BY 1, 2, 3, 4 ORDER BY 1 LIMIT 20");
    QStringList sesiones;
    const auto con = sesion().ConexionPrincipal;
    if (!con || !con->isOpen()) {
        return sesiones;
    }
    // Raw: a note added to a failure, quietly empty when it cannot be read, never a reconnection.
    db::DbError e;
    auto rs = con->query(consulta, e);
    for (; rs && !rs->eof(); rs->moveNext()) {
        QStringList datos;
        for (int i : {2, 3}) {
            if (!rs->text(i).isEmpty()) {
                datos << rs->text(i);
            }
        }
        QString texto = QStringLiteral("sesión ") + rs->text(0);
        if (!rs->text(1).isEmpty()) {
            texto += QStringLiteral(" de ") + rs->text(1);
        }
        if (!datos.isEmpty()) {
            texto += QStringLiteral(" (") + datos.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
        sesiones << texto + QStringLiteral(": ") + rs->text(4);
    }
    return sesiones;
}

ResultadoReset ResetearBaseDatos(const QString& usuario) {
    return conPlazos(kPlazosReset, [&] { return resetear(usuario); });
}

} // namespace v7
