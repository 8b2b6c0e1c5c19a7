// The four group roles that every staff login belongs to, and the privileges they carry on the
// library's schemas, tables and sequences. The staff window makes sure of them each time it comes up.
#pragma once

#include "core/consultas.h"
#include "core/permisos.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace v7 {

// The schemas whose tables and sequences the groups are given, in the order they are worked: the
// system schemas, then the report templates'.
inline const QStringList kEsquemasGrupos = kEsquemasSistema + QStringList{QStringLiteral("reportes")};

// How the bootstrap reports to the window that runs it.
struct AvisosGrupos {
    // One call per failed step, with the text to show.
    std::function<void(const QString& mensaje)> error;
    // Called once, as soon as a group is found missing: from then on the setup must not be cut short.
    std::function<void()> faltaGrupo;
    // Asked before each statement: true ends the run there, silently (the window is going away).
    std::function<bool()> detener;
};

// The groups of the system that the server has (groname), by the pattern their names follow; the exact names
// are the caller's to match.
[[nodiscard]] sql::Filas leerGrupos();

// The group bootstrap on the shared connection. Creates the groups that are missing, then (only
// then) grants the session user v7_super, takes public's privileges away from every table of the
// schemas and gives the missing groups theirs; on every run it gives the groups their schemas
// (AsignarPermisosEsquema) and every sequence grant they lack, and ends by keeping the staff rows
// private (ProtegerAnalistas). Each statement stands alone: a failure is reported and the run goes on.
// It may run on a thread of its own: the notices are then called from that thread.
void InicializarGrupos(const AvisosGrupos& avisos);

} // namespace v7
