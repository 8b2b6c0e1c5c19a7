// Group-role access to the database's schemas, and the first staff row written when the groups are
// first given a schema.
#pragma once

#include <QString>
#include <QStringList>

namespace v7 {

// The library's eleven system schemas, whose tables and sequences the four groups are given.
inline const QStringList kEsquemasSistema = {QStringLiteral("adquis"),
                                             QStringLiteral("analisis"),
                                             QStringLiteral("catalogos"),
                                             QStringLiteral("config_veliro"),
                                             QStringLiteral("consultas_biblioteca"),
                                             QStringLiteral("indizados"),
                                             QStringLiteral("inventarios"),
                                             QStringLiteral("metadata"),
                                             QStringLiteral("prestamo"),
                                             QStringLiteral("retroalimentacion"),
                                             QStringLiteral("servicios")};

// Runs one statement on the shared connection, without reconnecting. True when it ran (window
// events then run); false with the driver's description in message, when given.
bool EjecutarSQL(const QString& sql, QString* message = nullptr);

// Makes sure the four group roles may use schema (USAGE). The first time v7_admin gets the schema,
// and when password is not empty, user is also registered as the first staff row (group v7_super,
// five modules) unless a staff row of that user exists, and the staff rows are made private
// (ProtegerAnalistas). A schema without tables counts as absent and is left alone.
// "OK" when every step succeeded; else one CR LF-ended line per failed step, in step order; an
// unexpected failure (a query failing, a missing group role) gives
// "Ocurrio el error No. <n>" CR LF "Descripcion: <text>" instead.
QString AsignarPermisosEsquema(const QString& schema, const QString& password, const QString& user);

// The policy names that keep staff rows private.
inline const QString kPoliticaAnalistaPropia = QStringLiteral("v7_analistas_propia");
inline const QString kPoliticaAnalistaGestion = QStringLiteral("v7_analistas_gestion");
inline const QString kPoliticaAnalistaAdministracion = QStringLiteral("v7_analistas_administracion");

// Staff rows are private: each row of catalogos.analistas holds a scrambled password, the first one the
// superuser's own. The groups v7_usuario1 and v7_usuario2 read only their own row (the client modules read
// their own permissions) and write none; v7_super reads and writes every row; v7_admin reads and writes every
// row but those of superuser accounts (logins with the superuser attribute or members of v7_super), and may
// not make a row name one (row-level security on the session's login; a superuser's session is not bound by
// it). Run it after every grant that reaches the table (the group bootstrap, the restore's grants, the first
// staff row): a schema-wide grant would give the writes back. Does nothing when the table is missing or the
// rules are in place already (so a session that does not own the table, an administrator's, is not told about
// what it could not change anyway). Empty on success, else a Spanish sentence and the server's detail.
QString ProtegerAnalistas();

} // namespace v7
