// Packing and unpacking archives: the backup archive through 7za, a single dump through the zip library.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace v7 {

// The steps of ComprimirRespaldo, told on the caller's thread as each begins: 7za packs into temporal (the
// archive grows there until 7za ends), then tests it.
enum class FaseEmpaque { Empacando, Probando };
using AvisoEmpaque = std::function<void(FaseEmpaque fase, const QString& temporal)>;

// Packs every file of carpeta into archivo (.zip) with 7za and tests the result. Empty on success, else the
// failure text: "No se logro crear el archivo de respaldo: " archivo, followed by the reason (7za's own
// error lines, or why the destination cannot take it: see motivoDestinoNoValido). The archive is packed
// in a private folder (0700) beside archivo, ".<file name>.<pid>-XXXXXX" with six random letters and digits
// (nobody can plant its name in advance), readable by its owner only, and moved into place only once it
// tested well: an older archive of that name is replaced whole or left as it was, never added to. The
// destination's folder is reached without following a link that another user could have planted. Work
// files r_backup.bat/.txt and r_integral.bat/.txt stay in the program folder's config/. aviso, when given,
// hears of each step (temporal names the archive inside the private folder).
QString ComprimirRespaldo(const QString& archivo, const QString& carpeta, const AvisoEmpaque& aviso = {});

// Whether the file now at archivo is the archive that ComprimirRespaldo of this process tested and moved
// there (false before the move, after a failed one, or once something else stands at that name). Safe to
// call from the thread that ends the program on a signal.
bool respaldoColocado(const QString& archivo);

// The private packing folders beside archivo that a process killed outright left behind (only a killed
// process leaves one): removes every ".<name>.<pid>-XXXXXX" folder of archivo's folder (and every
// ".<name>.<pid>-<n>.tmp" one, as earlier versions named them) whose process is gone and that holds nothing
// but its archive (links and anything else are left alone), and returns their paths. Call it only while no other backup
// of this program can be packing (under the backup lock).
QStringList barrerEmpaquesHuerfanos(const QString& archivo);

// Why archivo cannot be a backup archive's destination, empty when it can: the path must be absolute and
// its folder must exist (a backup meant for an unmounted disk must not land on the local one), and no
// folder may stand at its name.
QString motivoDestinoNoValido(const QString& archivo);

// The lines of a tool's output that say what went wrong ("error", "fatal", "warning", "denied"…), else its
// last three lines; at most maximo of them.
QStringList lineasDestacadas(const QByteArray& salida, int maximo = 10);
// The same joined by CR LF.
QString lineasDeError(const QByteArray& salida);
// The same for an output file (empty when it cannot be read).
QStringList lineasDestacadasEn(const QString& archivo, int maximo = 10);
QString lineasDeErrorEn(const QString& archivo);

// Packs the ".backup" file into the path with every ".backup" replaced by ".zip" (one entry, its file name
// alone) and deletes the ".backup". "OK" on success; the zip library's non-zero code as text (the file
// stays); or an error text ending in "[Funcion Respaldar]".
QString Respaldar(const QString& archivoBackup);

// Extracts every entry of archivo into destino (without stored folders, overwriting what is there, never
// asking) through Unzip.bat in RutaTemporal. True when the script was written and run and 7za succeeded.
bool Unzip2(const QString& archivo, const QString& destino);

} // namespace v7
