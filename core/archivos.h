// Packing and unpacking archives: the backup archive through 7za, a single dump through the zip library.
#pragma once

#include <QString>

namespace v7 {

// Packs every file of carpeta into archivo (.zip) with 7za and tests the result. Empty on success, else the
// failure text. The archive is packed into a new file beside archivo and moved into place (mode 0600) only
// once it tested well: an older archive of that name is replaced whole or left as it was, never added to.
// Work files r_backup.bat/.txt and r_integral.bat/.txt stay in the program folder's config/.
QString ComprimirRespaldo(const QString& archivo, const QString& carpeta);

// Packs the ".backup" file into the path with every ".backup" replaced by ".zip" (one entry, its file name
// alone) and deletes the ".backup". "OK" on success; the zip library's non-zero code as text (the file
// stays); or an error text ending in "[Funcion Respaldar]".
QString Respaldar(const QString& archivoBackup);

// Extracts every entry of archivo into destino (without stored folders, overwriting what is there, never
// asking) through Unzip.bat in RutaTemporal. True when the script was written and run and 7za succeeded.
bool Unzip2(const QString& archivo, const QString& destino);

} // namespace v7
