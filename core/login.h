// The login's routines without windows: connection strings, the classification of connection
// failures, the session file and the user class.
#pragma once

#include "platform/db.h"

#include <QString>

#include <functional>
#include <optional>

namespace v7 {

inline const QString kDriverPrincipal = QStringLiteral("PostgreSQL ODBC Driver(UNICODE)");
inline const QString kDriverAlterno = QStringLiteral("PostgreSQL Unicode");

// The connection string of driver for database veliro7, with pwd written after "PWD=" as the caller
// formats it (braced or bare). psqlODBC keeps braces literally in SERVER= and UID=, so a server or user
// they cannot carry as typed (";", a brace, blanks at either end, empty) goes to the driver's libpq
// options instead, pqopt={host='…' user='…'}, and is left out of SERVER=/UID=.
QString cadenaConexionOdbc(const QString& driver, const QString& servidor, int puerto, const QString& usuario,
                           const QString& pwd);

// First attempt: the password braced (a "}" in it doubled).
QString cadenaConexionPrincipal(const QString& servidor, int puerto, const QString& usuario, const QString& clave);
// The retry with the other driver name: the password as typed, without braces, unless it holds a
// character the bare form cannot carry (";", a brace, blanks at either end): then braced too.
QString cadenaConexionAlterna(const QString& servidor, int puerto, const QString& usuario, const QString& clave);

// Opens a connection on a worker thread and lets window events run until the open has ended, so the
// window is repainted and its guard drops the user's input meanwhile. Nothing else may touch the
// connection until this returns.
[[nodiscard]] bool abrirSinCongelar(db::Connection& conexion, db::DbError& error);

// A port as typed in the login: 1..65535 (leading zeros allowed); nullopt otherwise.
std::optional<int> puertoDesdeTexto(const QString& text);

// What the login does with a failure of its sequence, decided by the error's description.
enum class FalloLogin {
    CrearBase,         // the database does not exist: create it
    PuertoBloqueado,   // the port is blocked, or the server is not running
    ClaveIncorrecta,   // a wrong user name or password
    ErrorCatastrofico, // the driver's catastrophic failure
    PgHba,             // no rule of the server admits this computer
    ReintentarDriver,  // the other driver name
    SinDriver,         // the driver is missing
    SinDescripcion,    // a failure without a description
    Otro,              // any other: its number, line and description
};

// contadorDriver is the press's count of driver failures; it is raised here for "ODBC" texts.
FalloLogin clasificarFalloLogin(const db::DbError& error, int& contadorDriver);

// The texts of the login's failure boxes. An error of the server or its driver (one with an SQLSTATE)
// that no fixed message covers is told with a Spanish sentence first and the server's words after.
QString textoFalloLogin(FalloLogin kind, const db::DbError& error, const QString& puertoTecleado, int linea);

// The user class of a group role name: "superusuario" for v7_super or for no group at all (empty),
// "administrador" for v7_admin, empty (refused) for every other group.
QString claseDeGrupo(const QString& grupo);

// The class query: the group role of the login the server itself authenticated (session_user), never
// of a typed name.
QString consultaClaseUsuario();

// Whether the staff table exists, asked of the catalogue every login may read (information_schema only
// shows tables the login has some privilege on).
QString consultaExisteAnalistas();

// The message for a login that cannot see the staff table of an existing database.
QString textoSinPermisos(const QString& usuario);

// The session file V7.pres.sesion.cnf: user, server and port in double quotes, then the options
// check box as 0 or 1, on one CR LF line. Never the password.
struct ArchivoSesion {
    QString usuario, servidor, puerto;
    int opciones = 0;
};
QString rutaArchivoSesion(); // in the work folder
bool escribirArchivoSesion(const ArchivoSesion& datos, const QString& ruta = rutaArchivoSesion());
// Fields read so far stay when the line is damaged; nullopt when there is no file.
std::optional<ArchivoSesion> leerArchivoSesion(const QString& ruta = rutaArchivoSesion());

// Creating a missing database: createdb, then a psql -l check for "veliro7". Empty on success, else
// the text to show (empty text with ok false: the silent ends).
struct ResultadoCrearBase {
    bool ok = false;
    QString mensaje;
};
ResultadoCrearBase crearBaseDatos(const QString& servidor, const QString& puerto, const QString& usuario,
                                  const QString& clave);

// Ends the program: by default at once with the given code; tests install their own.
using SalidaPrograma = std::function<void(int)>;
void terminarPrograma(int code);
void setSalidaPrograma(SalidaPrograma salida); // an empty function restores the default

} // namespace v7
