// Returning database veliro7 to its installation state: the library modules' tables emptied with their
// identities restarted, the staff logins dropped with their staff rows, and the reset recorded (RESETBD).
//
// The tables come from the database's own catalogue at run time: every table of the library schemas
// below except the staff table catalogos.analistas, and config_veliro.respaldos. The configuration,
// version and report tables stay. Because the statement cascades, a table outside that list which
// refers to one inside it would be emptied too: the reset is refused instead, naming such tables.
//
// The whole reset is one transaction: behind another session's lock it waits a few seconds, then ends
// with nothing changed and says which session held which table.
#pragma once

#include "core/sql.h"

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

// How long the reset waits for another session's lock, and how long one of its statements may run (the
// TRUNCATE of every table at once is quick, but a large database may take a while to release its files).
inline constexpr Plazos kPlazosReset{5000, 300000};

// The sessions that hold locks on the tables the reset touches (the emptied ones, the staff table and the
// configuration table), one text per session: "sesión <pid> de <login> (<program>, <address>):
// <schema.table>, …". Read on the shared connection; empty when none holds one or they cannot be read.
QStringList sesionesOcupando();

struct ResultadoReset {
    bool vaciada = false;   // the tables were emptied
    QString error;          // why not, when !vaciada, in Spanish: nothing was changed then
    QStringList eliminados; // staff logins dropped, with their staff rows
    QStringList fallas;     // logins that could not be dropped (or RESETBD not written), with the reason
    bool completo() const { return vaciada && fallas.isEmpty(); }
};

// The whole reset on the shared connection, in one transaction, off the windows' thread under
// kPlazosReset. A login that cannot be dropped because of what it owns stays (reported in fallas) and the
// rest is kept; a lock or time limit that runs out, or a lost connection, undoes everything. usuario is
// the login recorded in RESETBD (with the local date and time).
ResultadoReset ResetearBaseDatos(const QString& usuario);

} // namespace v7
