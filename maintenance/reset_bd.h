// Returning database veliro7 to its installation state: the library modules' tables emptied with their
// identities restarted, the staff logins dropped with their staff rows, and the reset recorded (RESETBD).
//
// The tables come from the database's own catalogue at run time: every table of the library schemas
// below except the staff table catalogos.analistas, and config_veliro.respaldos. The configuration,
// version and report tables stay. Because the statement cascades, a table outside that list which
// refers to one inside it would be emptied too: the reset is refused instead, naming such tables.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace v7 {

inline const QStringList kEsquemasReset = {QStringLiteral("catalogos"),         QStringLiteral("adquis"),
                                           QStringLiteral("prestamo"),          QStringLiteral("consultas_biblioteca"),
                                           QStringLiteral("analisis"),          QStringLiteral("inventarios"),
                                           QStringLiteral("retroalimentacion"), QStringLiteral("servicios"),
                                           QStringLiteral("indizados")};

struct TablasReset {
    QStringList tablas; // "schema"."table", in schema and name order
    QStringList ajenas; // schema.table of each table outside the list that refers to one in it
};

// Read on the shared connection; nullopt with the SQL layer's error text.
std::optional<TablasReset> tablasReset(QString& error);

// TRUNCATE of the tables, one per line, RESTART IDENTITY CASCADE.
QString sentenciaReset(const QStringList& tablas);

// The staff logins the reset drops: the members of the four group roles, never a group role itself
// nor the session's login (other applications' logins and the server's own roles are no members).
// nullopt with the error text when they cannot be read.
std::optional<QStringList> loginsStaffReset(QString& error);

struct ResultadoReset {
    bool vaciada = false;   // the tables were emptied
    QString error;          // why not, when !vaciada: nothing was changed then
    QStringList eliminados; // staff logins dropped, with their staff rows
    QStringList fallas;     // each later step that failed, with its reason
    bool completo() const { return vaciada && fallas.isEmpty(); }
};

// The whole reset on the shared connection, events running between its steps. usuario is the login
// recorded in RESETBD (with the local date and time).
ResultadoReset ResetearBaseDatos(const QString& usuario);

} // namespace v7
