#include "core/consultas.h"

#include "core/session.h"

namespace v7::sql {

Valor valor(const QString& sql) {
    Valor v;
    int total = 0;
    RecordsetPtr rs = ExecuteSQLrs(sql, total, v.error);
    if (!rs) {
        if (v.error.isEmpty()) {
            v.error = QStringLiteral("La consulta no devolvió resultados.");
        }
        return v;
    }
    v.hayFila = !rs->eof();
    if (v.hayFila && rs->fieldCount() > 0) {
        v.valor = rs->value(0);
    }
    return v;
}

Filas filas(const QString& sql) {
    Filas f;
    int total = 0;
    f.rs = ExecuteSQLrs(sql, total, f.error);
    if (!f.rs && f.error.isEmpty()) {
        f.error = QStringLiteral("La consulta no devolvió resultados.");
    }
    return f;
}

Hecho ejecutar(const QString& sql) {
    Hecho h;
    if (!ExecuteSQLaction(sql, h.filas, h.error) && h.error.isEmpty()) {
        h.error = QStringLiteral("No se pudo ejecutar la instrucción.");
    }
    return h;
}

Hecho ejecutar(const QString& sql, const QVector<db::Parametro>& parametros) {
    Hecho h;
    db::Connection& c = conexionPrincipal();
    qint64 n = 0;
    db::DbError e;
    if (!c.execute(sql, parametros, n, e)) {
        h.error = sqlErrorText(e, QStringLiteral("ExecuteSQLaction"), sql);
        return h;
    }
    h.filas = int(qBound(qint64(INT_MIN), n, qint64(INT_MAX)));
    return h;
}

db::Transaccion transaccion() {
    auto& s = sesion();
    if (!s.ConexionPrincipal) {
        (void)conexionPrincipal(); // makes the shared connection object
    }
    return db::Transaccion(s.ConexionPrincipal);
}

} // namespace v7::sql
