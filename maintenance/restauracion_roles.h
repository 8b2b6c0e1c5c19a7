// The login roles of a restore: the staff logins of the four v7_* groups are removed before the load and
// come back from the archive's roles file (or, for an archive without one, from the staff table after the
// load); the groups get their privileges again. Roles that are not this system's staff (the session's own
// login, the bootstrap superuser, predefined pg_* roles, other applications' roles) are never touched.
#pragma once

#include "platform/notify.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace v7 {

using AvisoRestauracion = std::function<void(MsgIcon, const QString&)>;

// A role name as pg_dumpall writes it (bare or double-quoted) back to the name itself.
QString nombreDeIdentificador(const QString& identificador);

// The statements of a pg_dumpall -g output that bring back the four groups and their members: their
// CREATE ROLE (skipped for names in existentes), ALTER ROLE and membership GRANT lines (without GRANTED BY,
// whose grantor may not exist here), and the SET lines. Every other role, every role in excluidos and every
// pg_* role is left out, as are tablespaces and comments.
QString filtrarRoles(const QString& volcadoRoles, const QSet<QString>& excluidos, const QSet<QString>& existentes);

// The roles no restore may touch: the session's login, the current and session users, the bootstrap
// superuser. Empty when they could not be read (error set).
QSet<QString> rolesProtegidos(QString& error);

// Members of the four groups that a restore removes (never a protected role, a group or a pg_* role).
QStringList rolesStaff(const QSet<QString>& protegidos, bool& ok, QString& error);

// Removes each staff role (its objects in this database reassigned to the session's login, its privileges
// dropped), each in one transaction. A role that other databases still depend on is appended to the
// role-removal log instead of shown; true when that happened. Other failures go through aviso.
bool eliminarRolesStaff(const QStringList& roles, const QString& logEliminacion, const AvisoRestauracion& aviso);

// The four groups, created when missing (v7_super WITH SUPERUSER). The failures' texts.
QStringList crearGrupos();

// Staff logins from catalogos.analistas for an archive without a roles file: each row whose login is
// missing gets its login in its group (passwords descrambled with claveA). Rows with an unknown group code
// are deleted. Returns the names that could not be created; false in ok when the restore must stop
// (mensajeFatal set).
struct [[nodiscard]] ResultadoLogins {
    bool ok = true;
    QString mensajeFatal;
    QStringList noIncorporados;
};
ResultadoLogins crearLoginsStaff(bool claveA, const AvisoRestauracion& aviso);

// The groups' privileges on the system's eleven schemas: schema USAGE, every table's privileges (one REVOKE
// from public and four GRANTs each) and the sequences'. Failures go through aviso and are passed over.
void asignarPermisosRestauracion(const AvisoRestauracion& aviso);

} // namespace v7
