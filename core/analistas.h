// The staff permission text kept scrambled in catalogos.analistas.clave:
//   <password, quotes doubled> "," <group code> "," <one "0"/"1" flag per module>
// The client modules read the flags after the last comma; the restore re-creates a staff login from
// the password and the group code.
#pragma once

#include <QString>
#include <QStringList>

namespace v7 {

// The four group roles, in the order of their group codes below.
inline const QStringList kGruposStaff = {QStringLiteral("v7_super"), QStringLiteral("v7_admin"),
                                         QStringLiteral("v7_usuario1"), QStringLiteral("v7_usuario2")};

// Group code of a group role ("111" v7_super, "101" v7_admin, "011" v7_usuario1, "010" v7_usuario2);
// empty for any other name.
QString codigoGrupo(const QString& rol);
// Group role of a group code; empty for an unknown code.
QString rolDeCodigoGrupo(const QString& codigo);

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

} // namespace v7
