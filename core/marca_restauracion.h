// The mark of a restore under way.
//
// A restore drops and reloads the whole database: a run that dies in the middle (a logout's SIGTERM, the
// out-of-memory killer, a lost server) leaves a partial database that looks like a working one. So before
// it changes anything the restore writes this mark in the program folder's config/, and only a complete
// restore removes it. While it stands, the login says the last restore did not finish and offers to run it
// again, and V7backup refuses to replace an archive with a dump of the partial database.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace v7 {

struct MarcaRestauracion {
    QString archivo;    // the archive being restored
    QDateTime inicio;   // when the restore began (local time)
    QString usuario;    // the database login that ran it
    qint64 proceso = 0; // the process that ran it
};

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

// The login's and V7backup's words for a standing mark.
QString textoRestauracionPendiente(const MarcaRestauracion& marca);

} // namespace v7
