// The staff permission text kept scrambled in catalogos.analistas.clave:
//   <password, quotes doubled> "," <group code> "," <one "0"/"1" flag per module>
// The client modules read the flags after the last comma; the restore re-creates a staff login from
// the password and the group code.
#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace v7 {

// The four group roles, in the order of their group codes below.
inline const QStringList kGruposStaff = {QStringLiteral("v7_super"), QStringLiteral("v7_admin"),
                                         QStringLiteral("v7_usuario1"), QStringLiteral("v7_usuario2")};

// Group code of a group role ("111" v7_super, "101" v7_admin, "011" v7_usuario1, "010" v7_usuario2);
// empty for any other name.
QString codigoGrupo(const QString& rol);
// Group role of a group code; empty for an unknown code.
QString rolDeCodigoGrupo(const QString& codigo);

// The staff window numbers the groups 1 to 4 in the order of kGruposStaff: the group role of such a
// number, empty for any other.
QString NombreGrupo(int numero);

// The first staff row's modules: five flags, all granted.
inline const QString kModulosPrimerAnalista = QStringLiteral("11111");

// The parts of a plain permission text.
struct TextoPermiso {
    QString contrasena; // the password itself (the stored doubling of quotes undone)
    QString codigo;     // the group code, three characters (empty when the text has none)
    QString modulos;    // the module flags, after the last comma
};

// The plain permission text. An empty code writes no group part: the flags follow the first comma.
QString componerTextoPermiso(const QString& contrasena, const QString& codigo, const QString& modulos);

// Reads a plain permission text back. The flags are what follows the last comma; the group code is
// the three characters before that comma when a comma precedes them, the password everything before
// that. So a password holding commas still reads back whole; texts without the group part read as
// before: password before the first comma, code the three characters after it.
TextoPermiso leerTextoPermiso(const QString& plain);

// The stored clave: the permission text scrambled with the key of the stored tool version. Empty
// with ok false (and errorText) when the scrambler cannot choose its key.
QString componerClave(const QString& contrasena, const QString& codigo, const QString& modulos, bool* ok = nullptr,
                      QString* errorText = nullptr);

// A stored clave read back; the staff window reads with key B (useKeyA false).
TextoPermiso leerClave(const QString& clave, bool useKeyA = false);

// The six modules the staff window grants, in flag order: acquisitions, loans, consultation,
// inventory, analysis, library services.
inline constexpr int kModulosAnalista = 6;
using ModulosAnalista = std::array<bool, kModulosAnalista>;

// The flags as stored: "1" granted, "0" not.
QString textoModulos(const ModulosAnalista& modulos);

// The modules of a stored clave (key B): a flag counts as granted only when it is "1"; flags
// missing at the end (rows written with five) count as not granted, and so does everything for an
// empty clave.
ModulosAnalista LeerModulos(const QString& clave);

// The stored clave of a staff account: its password, the group prefix of group number 1 to 4
// (none for another number) and the six module flags, scrambled. Empty with ok false (and
// errorText) when the scrambler cannot choose its key.
QString GenerarClaveModulos(const QString& contrasena, int numeroGrupo, const ModulosAnalista& modulos,
                            bool* ok = nullptr, QString* errorText = nullptr);

} // namespace v7
