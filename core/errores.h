// The error numbers that messages show, by name: the numbers the system's boxes have always named,
// so an administrator's notes and the help desk's lists still apply.
#pragma once

#include <QString>

namespace v7::err {

inline constexpr int kLlamadaNoValida = 5;      // invalid procedure call or argument
inline constexpr int kDesbordamiento = 6;       // overflow (a number out of range)
inline constexpr int kSubindice = 9;            // subscript out of range (nothing found where a list was expected)
inline constexpr int kTiposNoCoinciden = 13;    // type mismatch (not a date, not a number)
inline constexpr int kArchivoNoEncontrado = 53; // file not found
inline constexpr int kArchivoYaAbierto = 55;    // file already open
inline constexpr int kArchivoYaExiste = 58;     // file already exists
inline constexpr int kDiscoLleno = 61;          // disk full
inline constexpr int kLeerFinArchivo = 62;      // input past end of file (a tool printed nothing)
inline constexpr int kPermisoDenegado = 70;     // permission denied
inline constexpr int kErrorAccesoRuta = 75;     // path/file access error (a folder or link where a file belongs)
inline constexpr int kRutaNoEncontrada = 76;    // path not found
inline constexpr int kUsoNoValidoNull = 94;     // invalid use of Null
inline constexpr int kObjetoCerrado = 3704;     // operation not allowed on a closed object
inline constexpr int kClaveDuplicada = 3022;    // duplicate value in a unique index (the export file)
inline constexpr int kCampoRequerido = 3314;    // required field is empty (the export file)

// The connection did not open in time.
inline constexpr int kErrorEsperaConexion = 5000;

// The text the system's boxes give each of the numbers above ("" for others).
QString descripcion(int numero);

} // namespace v7::err

namespace v7::err {

// Line ends of the texts that message boxes and the design's files show.
inline const QString kCrLf = QStringLiteral("\r\n");

// The Spanish sentence that says what went wrong with a statement, told from its SQLSTATE: another
// session holds the data, the server took too long, the connection is gone, permission is missing, a
// value is too long or repeated… Empty when the state has none.
QString fraseDeSqlState(const QString& sqlState);

// The same told from an error text of the SQL layer (the server's words, English or Spanish, as the
// server's lc_messages gives them). Empty when nothing known is found.
QString fraseDeErrorSql(const QString& errorText);

// The server's own words in an error text of the SQL layer: the description without the driver's prefixes,
// the routine's line and the statement (which may hold values that are nobody's business on screen).
QString detalleDelServidor(const QString& errorText);

// A failure as the user reads it: what could not be done (a Spanish sentence), why (fraseDeErrorSql, when
// one is known) and then "Detalle del servidor: " with the server's own words. Never the statement.
QString textoParaUsuario(const QString& queNoSeHizo, const QString& errorText);

} // namespace v7::err
