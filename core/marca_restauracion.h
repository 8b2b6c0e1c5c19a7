// The mark of a restore under way.
//
// A restore drops and reloads the whole database: a run that dies in the middle (a logout's SIGTERM, the
// out-of-memory killer, a lost server) leaves a partial database that looks like a working one. So the
// restore leaves two marks, and only a complete restore removes them: a file in the program folder's config/,
// written before it changes anything, and a setting of database veliro7 on the server, written in the
// transaction of its first change, which every installation of the kit that reaches the database sees
// (another program folder, another computer) and which the restore's drops and load never reach. While a mark stands,
// the login says the last restore did not finish and offers to run it again, and V7backup refuses to replace an archive
// with a dump of the partial database.
#pragma once

#include "platform/db.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace v7 {

struct MarcaRestauracion {
    QString archivo;    // the archive being restored
    QDateTime inicio;   // when the restore began (local time)
    QString usuario;    // the database login that ran it
    qint64 proceso = 0; // the process that ran it
    QString equipo;     // the computer it ran on
    QString carpeta;    // the program folder it ran from
    QString id;         // names that restore in both marks; empty in a file mark of an older version
};

// A new mark of this process: now, this computer, this program folder, a fresh id.
MarcaRestauracion nuevaMarcaRestauracion(const QString& archivo, const QString& usuario);

// config/v7.restauracion.pendiente in the program folder.
QString rutaMarcaRestauracion();

// Writes the mark (replacing one that stands). Empty on success, else the Spanish reason: a restore that
// cannot leave its mark must not begin.
[[nodiscard]] QString marcarRestauracion(const MarcaRestauracion& marca);

// Removes the mark. Empty on success (also when there was none), else the Spanish reason.
[[nodiscard]] QString borrarMarcaRestauracion();

// The mark that stands, if any. A mark that cannot be read (damaged, a link, not a regular file) still
// counts as standing, with what could be read of it: an unreadable mark must not let a backup through.
std::optional<MarcaRestauracion> leerMarcaRestauracion();

// The server's mark: the setting "v7.restauracion_pendiente" of database veliro7 (written and removed with
// ALTER DATABASE, which takes a superuser; every login may read it). The restore writes it in the transaction
// of its drops, so that it is there exactly when they are. Empty on success, else the Spanish reason (and the
// driver's error in *error).
[[nodiscard]] QString marcarRestauracionServidor(db::Connection& conexion, const MarcaRestauracion& marca,
                                                 db::DbError* error = nullptr);
[[nodiscard]] QString borrarMarcaRestauracionServidor(db::Connection& conexion, db::DbError* error = nullptr);
// Whether the session's login may write the server's mark, tried on the shared connection in a transaction
// that is always rolled back: the reason when the server refuses it for want of rights, else empty (any other
// failure is left for the real step to tell).
[[nodiscard]] QString probarMarcaRestauracionServidor();

struct [[nodiscard]] LecturaMarcaServidor {
    bool ok = false;
    QString error; // why it could not be read
    std::optional<MarcaRestauracion> marca;
};
LecturaMarcaServidor leerMarcaRestauracionServidor(db::Connection& conexion);

// Whether a restore did not finish, by both marks. The server's mark stands for every installation. Without
// it, this folder's file mark counts only when the server's could not be read or when it has no id (an older
// version wrote it, before the server was marked): a file mark whose restore never marked the server stopped
// before it changed anything, and one whose server mark is gone was followed by a complete restore (from this
// folder or another).
struct EstadoRestauracion {
    std::optional<MarcaRestauracion> pendiente;
    QString errorServidor; // the server's mark could not be read (then the file mark decides)
};
EstadoRestauracion restauracionPendiente(db::Connection& conexion);

// The login's and V7backup's words for a standing mark (where it ran, when that was another computer or
// program folder).
QString textoRestauracionPendiente(const MarcaRestauracion& marca);

} // namespace v7
