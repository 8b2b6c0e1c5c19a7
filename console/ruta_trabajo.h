// The shared work-files folder: checking and storing its path, and the one-way switch that moves
// the report templates into schema reportes instead.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace v7 {

// The marker file that a shared work-files folder holds.
inline const QString kArchivoMarca = QStringLiteral("archivoscompartidos.rt");

// Why a typed path is refused. The text is the path the Windows clients will use, so a network
// path keeps its backslashes and is judged by its text alone.
enum class RechazoRuta {
    Ninguno,
    SinArchivoMarca, // neither the server's standard share nor a path to the marker file
    UnidadLocal,     // a drive-letter path
};
// servidor: the server address as typed at login.
RechazoRuta ValidarRutaTrabajo(const QString& texto, const QString& servidor);

// The server's standard share: \\<servidor>\ArchivosV7\ .
QString rutaCompartidaEstandar(const QString& servidor);

// The folder stored for a path: in lower case, without the marker file name, trimmed.
QString carpetaDeRuta(const QString& texto);

// The work-files folder as the console shows it (RutaTrabajo): a blank and the stored value,
// " Pendiente de configurar" for a NULL value, " Pendiente de configurar..." without the row. False with the
// SQL layer's error text when the row could not be read.
[[nodiscard]] bool LeerRutaTrabajo(QString* ruta, QString* errorText = nullptr);

// Writes the folder into the existing ARCHIVOSCOMPARTIDOS row on the shared connection. False when
// the connection is closed, the statement failed or no row was there to update.
bool GuardarRutaTrabajo(const QString& carpeta, QString* errorText = nullptr);

// The switch's statements before the templates, in order: schema reportes, its tables and the rights
// of the login and the four groups, the staff picture column and the removal of ARCHIVOSCOMPARTIDOS.
QStringList sentenciasDeshabilitar(const QString& usuario);

// The template and definition inserts, with the collection merge script put in as a literal. Empty
// with ok false when either embedded file is missing.
QString scriptReportes(bool* ok = nullptr);

// Where an installation may keep its own CONSTNO template; loaded over the embedded one when present.
QString rutaPlantillaConstNo();

// The largest template file that is read.
inline constexpr qint64 kLimitePlantilla = 20 * 1024 * 1024;

// The module versions the database-held templates require.
struct VersionModulo {
    QString clave;
    QString version;
};
const QVector<VersionModulo>& versionesModulosReportes();

struct ResultadoDeshabilitar {
    bool ok = false;
    QString errorText; // the failing statement's error text
    // The installation's own CONSTNO that was left out, and why (a link, no regular file, too large…); the
    // embedded one stays. Empty when it was loaded or there was none.
    QString avisoConstNo;
};

// The switch: schema reportes with its tables and grants, the staff picture column, the templates,
// an installation's own CONSTNO and the removal of ARCHIVOSCOMPARTIDOS, all in one transaction on
// the shared connection; then the module versions are raised and HayArchivosCompartidos cleared.
// Nothing is changed when any step fails. reportes is the insert script (scriptReportes()),
// plantillaConstNo the file read for CONSTNO: never through a link, never a FIFO or a device, at most
// kLimitePlantilla bytes.
[[nodiscard]] ResultadoDeshabilitar DeshabilitarCarpetaCompartida(const QString& usuario, const QString& reportes,
                                                                  const QString& plantillaConstNo);

} // namespace v7
