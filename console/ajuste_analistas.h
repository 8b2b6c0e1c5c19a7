// The staff table as the console's start leaves it: at layout version 2 (the library column), and without
// duplicated rows of one login.
#pragma once

#include <QString>

namespace v7 {

struct AjusteAnalistas {
    bool version1 = false; // the recorded layout was 1 or less: the upgrade was tried
    bool columnaAgregada = false;
    QString errorColumna;         // the ALTER's error text of the SQL layer, when it failed
    bool versionGuardada = false; // the version row now says 2
};

// At version 1 or less (as config_veliro.tablaver records it) adds idbiblioteca and records version 2,
// the date 2009-11-29 and usuarioSesion; a version that cannot be read, or 2 and more, changes nothing.
AjusteAnalistas AjustarTablaAnalistas(const QString& usuarioSesion);

// When exactly one login has several staff rows, keeps only its row with the highest idanalista; with
// several such logins nothing is deleted. Failures are ignored.
void DepurarAnalistasDuplicados();

} // namespace v7
