// Finding the PostgreSQL installation whose client tools and data folder the session uses.
#pragma once

#include <QString>

#include <optional>

namespace v7 {

struct ResultadoInstalacion {
    bool ok = true;
    // When a candidate's port cannot be read as a number: the conversion error the login shows.
    int numero = 0;
    QString descripcion;
};

// The port text of the key store as a number (blanks around it allowed); empty when it is none.
std::optional<double> puertoRegistrado(const QString& text);

// Probes the installers' keys and the product's Globals values, fills VersionesInstaladas,
// RutasInstaladas and PuertosInstalados (this attempt's candidates only) and sets RutaPostgres to
// the folder of the first candidate on PuertoBD, else the RutaPg value, else the program folder's
// "SGBDR/". RutaPostgres always ends in "/". A candidate whose port is not a number fails the
// attempt and changes nothing in the session.
[[nodiscard]] ResultadoInstalacion BuscarInstalacionPostgres();

} // namespace v7
