// The shape-stating calls over the SQL layer: one value, rows, one statement. They run on the shared
// connection through ExecuteSQLaction / ExecuteSQLrs (so a dropped connection is reopened as the layer's
// rule says) and say what a caller expects back, instead of each caller walking a recordset by hand.
//
//     const auto n = v7::sql::valor(QStringLiteral("SELECT count(*) FROM catalogos.bibliotecas"));
//     if (!n.ok()) return fallo(n.error);
//     … n.texto() …
//
// Transactions go only through db::Transaccion (sql::transaccion() gives one on the shared connection).
#pragma once

#include "core/sql.h"

#include <QString>
#include <QVector>

#include <optional>

namespace v7::sql {

// One value: the first column of the first row.
struct Valor {
    std::optional<QString> valor; // NULL, or no row: empty
    bool hayFila = false;
    QString error; // the layer's error text; empty on success
    bool ok() const { return error.isEmpty(); }
    QString texto() const { return valor.value_or(QString()); }
};
[[nodiscard]] Valor valor(const QString& sql);

// Every row of a query (an open recordset on its first row).
struct Filas {
    RecordsetPtr rs;
    QString error;
    bool ok() const { return rs != nullptr; }
};
[[nodiscard]] Filas filas(const QString& sql);

// One statement that returns no rows.
struct Hecho {
    int filas = -1;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
[[nodiscard]] Hecho ejecutar(const QString& sql);
// The same with one value bound to each "?" (values never become statement text). The statement is not
// retried after a reconnection (the layer's rule for prepared statements would need its values again).
[[nodiscard]] Hecho ejecutar(const QString& sql, const QVector<db::Parametro>& parametros);

// A transaction on the shared connection for one scope (rolled back unless committed).
db::Transaccion transaccion();

} // namespace v7::sql
