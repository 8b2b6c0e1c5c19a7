// What the login decides once its connection is open, and the notices it gives at start-up. Routines
// without windows: the login window runs them off its thread and shows what they return.
#pragma once

#include "core/errores.h"
#include "core/marca_restauracion.h"
#include "platform/db.h"

#include <QString>

#include <optional>
#include <vector>

namespace v7 {

// A box the login shows: its severity and text, and its title (empty: the program's title). A plain
// notice (sinIcono) shows no icon at all.
struct AvisoInicio {
    Fallo fallo;
    QString titulo;
    bool sinIcono = false;
};

// The login's own messages.
QString textoFaltanParametros();    // a box of the four is empty
QString textoGrupoNoAdmitido();     // a group role other than v7_super or v7_admin
QString textoOfrecerRestauracion(); // no database or no staff table: restore the last backup now?
QString textoSinCatalogos();        // still no staff table after the maintenance window
QString textoDireccionNoLocal();    // the server is not this computer
// A restore's mark stands: the last restore did not finish; run it again now?
QString textoRestaurarNuevamente(const MarcaRestauracion& marca);

// Whether the server address typed at login is this computer (127.0.0.1 or one of its own addresses).
bool esDireccionLocal(const QString& servidor);

// Who may go on, decided on the freshly opened connection: whether the staff table is there and the
// user class of the login the server authenticated.
enum class Acceso {
    Concedido,       // superusuario or administrador (also when there is no staff table yet)
    SinPermisos,     // the staff table exists but this login may not see it: no restore may be offered over it
    GrupoNoAdmitido, // the login's group role is an operator's
    Fallo,           // a query failed: error and linea say which
};

struct DecisionAcceso {
    Acceso acceso = Acceso::Fallo;
    bool tieneCatalogos = false; // the staff table was seen
    QString tipoUsuario;         // "superusuario" or "administrador" when Concedido
    bool grupoSuper = false;     // the login's group role is v7_super
    db::DbError error;
    int linea = 0; // the step of the login that failed (7: the staff table, 8: the user class)
    // When Concedido: a restore that did not finish, by its marks (the server's, seen by every installation,
    // and this program folder's file; see restauracionPendiente).
    std::optional<MarcaRestauracion> restauracion;
};

DecisionAcceso decidirAcceso(db::Connection& conexion);

// The tool's version gate on the shared connection: nullopt when the database may be used with this
// version (a newer one raises the recorded version); else the box to show, after which the program ends.
std::optional<AvisoInicio> compuertaVersionHerramienta(const QString& versionHerramienta);

// The notices after the gate, in the order they are shown: the staff table's layout version, then the
// state of the automatic backups (RESPALDOCONFIG written as false when absent, RESPALDOOK as true when
// absent and the backups are configured; a RESPALDOOK that reads false warns, also when a run of the
// unattended backup died before it could record its outcome). Also reads the server's version.
struct AvisosInicio {
    std::vector<AvisoInicio> avisos;
    QString versionServidor; // empty when it could not be read (then left as it was)
    // The configuration could not be read: error and linea for the login's failure box (the notices
    // gathered before it are still shown first).
    bool fallo = false;
    db::DbError error;
    int linea = 0;
};

// carpetaLog: the folder of the unattended backup's daily logs, named in the warning.
AvisosInicio avisosDeInicio(db::Connection& conexion, const QString& carpetaLog);

} // namespace v7
