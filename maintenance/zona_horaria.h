// The database time zone: the server's zone names, the choice kept scrambled in the key store so that a
// later restore need not ask again, and the database setting itself.
#pragma once

#include <QString>
#include <QStringList>

namespace v7 {

// The key-store value that keeps the chosen zone, scrambled.
inline const QString kRegistroZona = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\3");

// The server's American zone names, sorted by name. ok false (error set) when the query failed.
QStringList zonasAmericanas(bool& ok, QString& error);

// Whether the server knows the zone name (pg_timezone_names); false for the empty text.
bool zonaConocida(const QString& zona);

// The stored zone, descrambled with whichever key it was written with; empty when there is none or it
// does not name a zone the server knows.
QString leerZonaGuardada();

// Stores the zone scrambled with the key the stored tool version selects. False (error set) when no key
// can be chosen or the key store refused the write (the key store shows its own message then).
bool guardarZona(const QString& zona, QString& error);

// ALTER DATABASE veliro7 SET TIMEZONE on the shared connection, the zone as a literal. False with the
// SQL layer's error text.
bool aplicarZona(const QString& zona, QString& error);

} // namespace v7
