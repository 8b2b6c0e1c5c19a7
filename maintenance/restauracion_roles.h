// The login roles of a restore: the staff logins of the four v7_* groups are removed before the load; the
// roles the dump needs that the server lacks come from the archive's roles file (or, for an archive without
// one, the staff logins come from the staff table after the load); the groups get their privileges again.
// A role that exists and is not a group (the session's own login, the bootstrap superuser, predefined pg_*
// roles, other applications' roles) is never altered.
//
// Routines here show nothing: each returns the texts of what failed, and the restore gathers them.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

namespace v7 {

// Appends a text to a log of the program folder that only its owner may read (every password in it
// redacted).
void anexarLog(const QString& archivo, const QString& texto);

// A role name as pg_dumpall writes it (bare or double-quoted) back to the name itself.
QString nombreDeIdentificador(const QString& identificador);

// What filtrarRoles made of a roles file.
struct RolesFiltrados {
    QStringList creados;  // the roles its statements create, in file order
    QStringList omitidos; // roles of the file left as the server has them (they exist already, or are protected)
};

// The statements of a pg_dumpall -g output that a restore runs, one a line (its SET lines kept): they make
// the roles that the server lacks (existentes) among the four groups, their members in the file (the staff)
// and the roles the dump names (necesarios: owners and grantees), with the roles these are members of. Each
// gets its CREATE ROLE, its ALTER ROLE lines (attributes, password, settings) and its memberships in roles
// that exist or are made here (without GRANTED BY: the grantor may not exist). The four groups also get
// their ALTER ROLE lines. A role in existentes that is not a group, a role in protegidos and every pg_* role
// is never created nor altered and gets no membership; tablespaces, comments and psql meta-commands are
// left out.
QString filtrarRoles(const QString& volcadoRoles, const QSet<QString>& protegidos, const QSet<QString>& existentes,
                     const QSet<QString>& necesarios = {}, RolesFiltrados* detalle = nullptr);

// The roles no restore may touch: the session's login, the current and session users, the bootstrap
// superuser. Empty when they could not be read (error set).
QSet<QString> rolesProtegidos(QString& error);

// Every role of the server. ok false (error set) when they could not be read.
QSet<QString> rolesExistentes(bool& ok, QString& error);

// Members of the four groups that a restore removes (never a protected role, a group or a pg_* role).
QStringList rolesStaff(const QSet<QString>& protegidos, bool& ok, QString& error);

struct [[nodiscard]] EliminacionRoles {
    bool dependencias = false; // some role is still held by another database (see the role-removal log)
    QStringList fallas;        // the other failures, one text each
};

// Removes each staff role (its objects in this database reassigned to the session's login, its privileges
// dropped), each in one transaction. A role that other databases still depend on is appended to the
// role-removal log.
EliminacionRoles eliminarRolesStaff(const QStringList& roles, const QString& logEliminacion);

// A staff login as the archive gives it: its group and whether it may log in.
struct StaffEsperado {
    QString rol;
    QString grupo;
    bool login = true;
};

// The staff logins of a roles file: every role it makes a member of one of the four groups, with the LOGIN
// or NOLOGIN of its ALTER ROLE (a role the file never lets log in is NOLOGIN).
QVector<StaffEsperado> staffDelArchivo(const QString& volcadoRoles);

// The staff logins of the staff table (rows whose group code is known), passwords read with claveA.
QVector<StaffEsperado> staffDeAnalistas(bool claveA, bool& ok, QString& error);

// Those of esperados that exist on the server without the login or the group the archive gives them, each
// as "name (what it lacks)". ok false (error set) when the server could not be read.
QStringList staffIncompleto(const QVector<StaffEsperado>& esperados, bool& ok, QString& error);

// The four groups, created when missing (v7_super WITH SUPERUSER). The failures' texts.
QStringList crearGrupos();

// Staff logins from catalogos.analistas for an archive without a roles file: each row whose login is
// missing gets its login in its group (passwords descrambled with claveA), both in one transaction, so that
// no login is left without its group. Rows with an unknown group code
// are deleted. noIncorporados: the names that could not be created; fallas: the logins whose group could not
// be given; ok false when the restore must stop (mensajeFatal set).
struct [[nodiscard]] ResultadoLogins {
    bool ok = true;
    QString mensajeFatal;
    QStringList noIncorporados;
    QStringList fallas;
};
ResultadoLogins crearLoginsStaff(bool claveA);

// The groups' privileges on the given schemas: schema USAGE, every table's privileges (one REVOKE from public
// and four GRANTs each) and the sequences'; then the staff rows made private again. The failures' texts
// (every statement runs, whatever failed before it).
QStringList asignarPermisosRestauracion(const QStringList& esquemas);

// The roles a privilege statement of a dump names: the grantees of GRANT ... TO and REVOKE ... FROM, their
// GRANTED BY, the roles of ALTER DEFAULT PRIVILEGES FOR ROLE, of SET SESSION AUTHORIZATION and of CREATE
// POLICY ... TO. PUBLIC and CURRENT_USER-like words are not roles; bare names are folded to lower case.
QStringList rolesDeSentencia(const QString& sentencia);

} // namespace v7
