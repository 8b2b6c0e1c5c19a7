// Staff accounts: a login role in one of the four groups plus its row of catalogos.analistas. Each
// action runs in one transaction on the shared connection, so the role and the row change together
// or not at all (a restore rebuilds logins from the rows, so the two must always agree).
#pragma once

#include "core/analistas.h"
#include "core/consultas.h"
#include "core/errores.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace v7 {

// What the staff form holds for one account.
struct DatosCuenta {
    QString login;
    QString contrasena;
    QString nombre;
    int grupo = 0; // 1 to 4, see NombreGrupo
    ModulosAnalista modulos{};
    bool indefinida = true; // no expiry; else vigencia
    QDate vigencia;
    qint64 idBiblioteca = 0;
};

// The account as it stood when modify mode began.
struct CuentaAnterior {
    QString login;
    QString idAnalista; // its staff row
    int grupo = 0;
    bool contrasenaCambiada = false; // the password box no longer holds what it showed
};

// How an action ended; the window decides from it what happens to its mode.
enum class PasoCuenta {
    Hecho,
    LoginEnUso,            // create: a login of that name exists
    NoSeCreo,              // create: the role could not be created
    SinGrupo,              // create: the group or the database could not be granted
    SinFila,               // create: the staff row could not be written
    RenombreRehusado,      // modify: items of the analysis module are still assigned to the login
    RenombreSinContrasena, // modify: a rename must set the password again
    RenombreFallo,
    ContrasenaFallo,
    VigenciaFallo,
    GrupoFallo,
    FilaFallo,        // modify or delete: the staff row
    RolFallo,         // delete: the role
    CuentaPropia,     // delete: the login of this very session
    CuentaConObjetos, // delete: the login owns objects that this session may not hand over
    ErrorGeneral,
};

struct ResultadoCuenta {
    PasoCuenta paso = PasoCuenta::Hecho;
    QString mensaje;                                          // the text of the box to show
    std::optional<Gravedad> gravedad = Gravedad::Informacion; // none: a plain box
    bool ok() const { return paso == PasoCuenta::Hecho; }
};

// Whether a login name is one the window creates: letters A-Z and a-z, digits and "_", at least one.
bool loginValido(const QString& login);

// The longest login name the server keeps whole, in bytes (a longer one is cut, and the staff row would
// then name no login).
inline constexpr int kLongitudMaximaLogin = 63;

// Why a typed login name cannot be used (empty when it can): none given, characters outside the allowed
// set, or longer than the server keeps.
QString motivoLoginRechazado(const QString& login);
// Why a typed password cannot be used (empty when it can): the staff row keeps it scrambled in
// Windows-1252, so a character outside it would be stored as "?" and a restore would give the login a
// password other than the one the role has.
QString motivoContrasenaRechazada(const QString& contrasena);

// Creates the login with its group, its database access and its staff row. captionGrupo names the
// group in the message of a failed grant.
[[nodiscard]] ResultadoCuenta CrearCuenta(const DatosCuenta& datos, const QString& captionGrupo);

// Renames, sets the password (only when it was retyped), the expiry, the group (only when it
// changed) and rewrites the staff row. A password that was not retyped keeps the one the row holds.
[[nodiscard]] ResultadoCuenta ModificarCuenta(const DatosCuenta& datos, const CuentaAnterior& anterior);

// Hands the login's objects in this database to usuarioSesion, drops the login and its staff rows. The
// session's own login is refused. A session that may not act for the login (an administrator's: only a
// superuser may hand objects over) drops a login that owns nothing without handing anything over, and
// refuses one that owns objects.
[[nodiscard]] ResultadoCuenta EliminarCuenta(const QString& login, const QString& usuarioSesion);

// Whether the session's class lists accounts at all: a superuser (or a session without class) sees every
// login once, an administrator every login and group but v7_super's; any other class none.
bool claseVeCuentas(const QString& tipoUsuario);
// The accounts that a class which sees them may see (usename, passwd, valuntil, groname, nombre, clave,
// idanalista, idbiblioteca), on the shared connection.
[[nodiscard]] sql::Filas leerCuentas(const QString& tipoUsuario);
// The libraries an account may belong to (idbiblioteca, nombre), by id.
[[nodiscard]] sql::Filas leerBibliotecas();

// The validity of a login as the server reports valuntil: no value, infinity, or the end of year
// 9999 (what the driver gives for infinity) mean none.
bool vigenciaIndefinida(const std::optional<QString>& valuntil);
// The date and time of a validity, in the server's own time; empty for none or an unreadable text.
std::optional<QDateTime> fechaVigencia(const std::optional<QString>& valuntil);
// The list's text: "Indefinida", else the date and time as dd/MM/yyyy HH:mm:ss.
QString textoVigencia(const std::optional<QString>& valuntil);

} // namespace v7
