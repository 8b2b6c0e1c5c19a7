// The restore of a backup archive into database veliro7, as the maintenance window runs it.
//
// Nothing is dropped before the archive has been proven loadable: 7za's test passes, base.backup and
// checksum.dat are there (names matched in any case), checksum.dat descrambles to table lines, the
// backup's engine is not newer than the installed tools, pg_restore lists the dump and reads it whole.
// A refused archive leaves the database, its roles and the session as they were.
//
// Then: every schema dropped (public made again as it was), the staff logins of the four v7_* groups
// dropped, the groups and the archive's staff roles brought back, the dump loaded, the full-text objects
// and the time zone set, the counts of checksum.dat compared, the dates stored, the sequences raised, the
// staff logins and the groups' privileges made good.
//
//     InterfazRestauracion ui;
//     ui.avance = [&](int valor, const QString& estado) { … };   // bar 0..10 and status text
//     ui.aviso = [&](MsgIcon i, const QString& t) { dialogs().message(this, i, t); };
//     ui.elegirZona = [&] { … show FrmConfigRegional …; return zona; };
//     const ResultadoRestauracion r = restaurarRespaldo(ruta, ui);
//     dialogs().message(this, r.icono, r.texto);
#pragma once

#include "maintenance/respaldo.h"
#include "platform/notify.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace v7 {

// The work folder the archive is extracted into, under RutaTemporal.
inline const QString kCarpetaRestauracion = QStringLiteral("TempVeliro");

// checksum.dat read back.
struct ChecksumRespaldo {
    QVector<ConteoControl> tablas; // "schema.table#count" lines, in file order
    QString fecha;                 // the backup's date line
    QString motor;                 // the backup's engine line; "POSTGRESQL 8" when it has none
    bool claveA = false;           // the key its lines (and the staff passwords) are read with
};

// The plain lines of checksum.dat: the first one tells the key (key B first, key A when key B gives no
// "catalogos"). nullopt when the file is not scrambled table lines: a line that is not hexadecimal, a first
// line that is a table line under neither key, a table line without a schema.table name or a whole count.
std::optional<ChecksumRespaldo> leerChecksum(const QByteArray& contenido);

enum class FallaArchivo {
    Ninguna,
    CarpetaTrabajo,   // the work folder could not be made or emptied (detalle: path)
    PruebaFallida,    // 7za's test failed (detalle: what 7za's status means)
    Extraccion,       // 7za could not extract it
    FaltaMiembro,     // base.backup or checksum.dat is missing (detalle: the member's name)
    ChecksumInvalido, // checksum.dat is not scrambled table lines
    MotorDesconocido, // the installed engine could not be told (detalle: why)
    MotorPosterior,   // the backup's engine, or the pg_dump that wrote the dump, is newer than the tools
    VolcadoIlegible,  // pg_restore cannot list the dump (detalle: its error lines)
    VolcadoIncompleto // pg_restore cannot read the dump to its end (detalle: its error lines)
};

struct [[nodiscard]] ArchivoVerificado {
    FallaArchivo falla = FallaArchivo::Ninguna;
    QString detalle;
    QString carpeta; // where the members are
    QString volcado; // base.backup as found
    QString roles;   // rolesv7.sql as found; empty when the archive has none
    ChecksumRespaldo checksum;
    QString motorInstalado; // pg_config's first line, upper case
    int mayorInstalado = -1, mayorRespaldo = -1;
    QByteArray listaVolcado; // pg_restore -l output
    bool ok() const { return falla == FallaArchivo::Ninguna; }
};

// The checks before anything is dropped. The archive is extracted into carpeta (emptied first); the tools
// are those of carpetaBin. avanceMotor runs before the engine checks (the restore's progress 2).
ArchivoVerificado verificarArchivo(const QString& archivo, const QString& carpeta, const QString& carpetaBin,
                                   const std::function<void()>& avanceMotor = {});

// The message of a refused archive; it says the database was not touched.
QString mensajeArchivoRechazado(const ArchivoVerificado& v);

struct InterfazRestauracion {
    std::function<void(int valor, const QString& estado)> avance; // valor -1: unchanged; empty estado: unchanged
    std::function<void(MsgIcon, const QString&)> aviso;           // messages on the way (avisar when empty)
    std::function<QString()> elegirZona;                          // asks for the zone; empty when none chosen
};

struct [[nodiscard]] ResultadoRestauracion {
    bool ok = false;
    bool rechazado = false; // refused before anything changed
    MsgIcon icono = MsgIcon::Critical;
    QString texto;                  // the closing message
    std::optional<bool> integridad; // set once the counts were compared and the session told
    QStringList noIncorporados;     // staff users whose login could not be made
};

// Restores the archive with the session's server, login, work folder and installation. Events run meanwhile,
// so the caller locks its window first. Writes BaseDatosValida; the caller gives integridad to the login.
ResultadoRestauracion restaurarRespaldo(const QString& archivo, const InterfazRestauracion& ui);

// The restore's own log (the load's and the roles' errors) and the log of roles that could not be removed,
// in the program folder, named by the day.
QString rutaLogRestauracion(const QDate& fecha);
QString rutaLogUsuariosRestaurados(const QDate& fecha);

} // namespace v7
