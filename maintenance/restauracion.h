// The restore of a backup archive into database veliro7, as the maintenance window runs it.
//
// Nothing is dropped before the archive has been proven loadable: 7za extracts it checking every member's
// CRC, base.backup and checksum.dat are there (names matched in any case), checksum.dat descrambles to table
// lines, the roles file holds no psql meta-command, the backup's engine is not newer than the installed
// tools, pg_restore lists the dump, and every data block of the dump is whole where its entry says it is
// (a dump without such offsets is read to its end instead). A refused archive leaves the database, its roles
// and the session as they were.
//
// Then the other sessions of veliro7 (never this program's own connections) named and, when the
// administrator agrees, ended; and, with both marks of core/marca_restauracion left for the whole run (only a
// restore that runs to its end clears them): every schema and large object dropped in one transaction with a
// lock-wait limit (all or none); the staff logins of the four v7_* groups dropped; the groups made, and the
// roles the dump needs made from the archive's roles file in one transaction; the dump loaded with pg_restore
// (by several jobs where the dump records its blocks and holds several large ones), leaving out what the
// server has already (plpgsql, schema public, an old engine's tsearch2 objects), and the owners that exist
// given their objects back when some owner is missing; the full-text objects and the time zone set; the
// counts of checksum.dat compared; the dates stored; the sequences raised; the staff logins and the groups'
// privileges made good. Failures of the steps after the drops are gathered into the closing message, which
// also names the owners and grantees the server lacks and the archive's staff logins left without their
// login or group.
//
//     InterfazRestauracion ui;
//     ui.avance = [&](int valor, const QString& estado) { … };   // bar 0..10 and status text
//     ui.aviso = [&](const Fallo& f) { mostrarFallo(this, f); };
//     ui.terminarSesiones = [&](const QString& pregunta) { return askYesNo(pregunta); };
//     ui.elegirZona = [&] { … show FrmConfigRegional …; return zona; };
//     const ResultadoRestauracion r = restaurarRespaldo(ruta, ui);
//     mostrarFallo(this, r.mensaje);
#pragma once

#include "core/errores.h"
#include "maintenance/respaldo.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace v7 {

// The work folder the archive is extracted into, under RutaTemporal.
inline const QString kCarpetaRestauracion = QStringLiteral("TempVeliro");

// How long the drops wait for another session's lock before they give up with nothing dropped.
inline constexpr int kPlazoBloqueoEliminacionMs = 10000;

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

// What the structure of a custom-format dump says, read without decompressing anything.
struct EstructuraVolcado {
    bool reconocida = false;         // a custom-format dump whose header and table of contents could be read
    bool conDesplazamientos = false; // every entry with data records where its block is
    bool completa = false;           // and every such block is whole there, the file ending after the last one
    QString motivo;                  // why it is not complete
    QVector<qint64> tamanosBloques;  // the data blocks' sizes in the file, in file order
};
EstructuraVolcado examinarVolcado(const QString& ruta);

// The jobs the restore loads a dump of that structure with (pg_restore --jobs): the machine's cores, at most 8,
// and no more than the dump's large data blocks; one for a dump that does not record its blocks' places.
int trabajosDeCarga(const EstructuraVolcado& estructura);

// One entry of the dump as pg_restore describes it (its "TOC entry" comment), with the statements of the
// entries that name roles (privileges, default privileges, policies).
struct DefinicionVolcado {
    int id = 0;
    QString tipo, esquema, nombre, propietario;
    QStringList sentencias; // of the entries that name roles
    QStringList propiedad;  // its ALTER ... OWNER TO statements
};
QVector<DefinicionVolcado> leerDefiniciones(const QString& textoPgRestore);

enum class FallaArchivo {
    Ninguna,
    CarpetaTrabajo,     // the work folder could not be made or emptied (detalle: path)
    PruebaFallida,      // 7za found the archive damaged (detalle: what 7za's status means)
    Extraccion,         // 7za could not write the members out (detalle: its error lines)
    FaltaMiembro,       // base.backup or checksum.dat is missing (detalle: the member's name)
    ChecksumInvalido,   // checksum.dat is not scrambled table lines
    RolesNoValidos,     // rolesv7.sql cannot be read or holds a psql meta-command (detalle: why)
    PsqlSinRestriccion, // the installed psql cannot run a foreign script restricted (detalle: why)
    MotorDesconocido,   // the installed engine could not be told (detalle: why)
    MotorPosterior,     // the backup's engine, or the pg_dump that wrote the dump, is newer than the tools
    VolcadoIlegible,    // pg_restore cannot list the dump (detalle: its error lines)
    VolcadoIncompleto   // the dump is cut short or damaged (detalle: why)
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
    QByteArray listaVolcado;                 // pg_restore -l output
    int trabajos = 1;                        // the load's jobs (trabajosDeCarga)
    QVector<DefinicionVolcado> definiciones; // every entry without data
    QSet<QString> rolesNombrados;            // owners and grantees the dump names
    bool ok() const { return falla == FallaArchivo::Ninguna; }
};

// The checks before anything is dropped. The archive is extracted into carpeta (emptied first); the tools
// are those of carpetaBin. avanceMotor runs before the engine checks (the restore's progress 2).
ArchivoVerificado verificarArchivo(const QString& archivo, const QString& carpeta, const QString& carpetaBin,
                                   const std::function<void()>& avanceMotor = {});

// The message of a refused archive; it says the database was not touched.
QString mensajeArchivoRechazado(const ArchivoVerificado& v);

// pg_restore's work list for the load: the entries of objects the server has already and the restore
// keeps (the plpgsql language, schema public, the tsearch2 objects of an engine-8 dump) are left out, and
// so are the privileges and policies that name a role the server lacks (the privileges run after the load
// without those roles).
struct ListaCarga {
    QByteArray lista;                     // for pg_restore -L
    QStringList omitidas;                 // the entries left out, as pg_restore lists them
    QSet<int> idsOmitidos;                // their ids
    QVector<DefinicionVolcado> diferidas; // privileges to run after the load
    QStringList propietariosFaltantes;    // owners the server lacks: the load cannot set owners
    // The roles the server lacks that privileges or policies of the dump name, each with the objects whose
    // grants to it (or whose policy for it) the restore leaves out.
    QMap<QString, QStringList> concesionesSinRol;
};
ListaCarga prepararListaCarga(const ArchivoVerificado& v, const QSet<QString>& rolesExistentes);

struct InterfazRestauracion {
    std::function<void(int valor, const QString& estado)> avance; // valor -1: unchanged; empty estado: unchanged
    std::function<void(const Fallo&)> aviso;                      // messages on the way (none shown when empty)
    // Other sessions use veliro7: the question names them; true ends them and goes on. None given: no.
    std::function<bool(const QString& pregunta)> terminarSesiones;
    std::function<QString()> elegirZona; // asks for the zone; empty when none chosen
};

struct [[nodiscard]] ResultadoRestauracion {
    bool ok = false;
    bool rechazado = false;         // refused or cancelled before anything changed
    Fallo mensaje;                  // the closing message
    std::optional<bool> integridad; // set once the counts were compared and the session told
    QStringList noIncorporados;     // staff users whose login could not be made
    QStringList fallas;             // the steps after the drops that failed, with why
};

// Restores the archive with the session's server, login, work folder and installation. The window's
// events run meanwhile (the waits are on threads of their own), so the caller locks its window first.
// Writes BaseDatosValida; the caller gives integridad to the login.
ResultadoRestauracion restaurarRespaldo(const QString& archivo, const InterfazRestauracion& ui);

// The text of a failure that the restore's steps did not foresee: the error's number and description, and the
// bar's value when it came.
QString errorGeneralRestauracion(qint64 numero, const QString& descripcion, int bloque);

// The restore's own log (what the load left out, the load's and the roles' errors) and the log of roles
// that could not be removed, in the program folder, named by the day.
QString rutaLogRestauracion(const QDate& fecha);
QString rutaLogUsuariosRestaurados(const QDate& fecha);

// What a restore killed outright left in the work folder trabajo: its extracted archive (the roles file with
// the password hashes among it) and the tools still working on it. Removed when V7Tools starts, unless a
// restore of another V7Tools runs there now, and logged in the restore's log. The folder removed; empty when
// there was none.
QString limpiarRestauracionAbandonada(const QString& trabajo);

} // namespace v7
