// The server's client-authentication file as the client-address window sees it: its plain IPv4
// "host" rules for every database and user are the window's rows; every other line is the
// administrator's and is written back exactly where and as it was. The file is handled as bytes: a row
// nobody changed comes back with its own bytes and line end, a changed or new row is written in the
// file's own line-end style, and only what the window shows is decoded. Saving is safe: the previous
// file stays as <file>.bak, the new one is renamed into place, the server checks it, and a file the
// server would refuse, or under which this session could no longer log in, is replaced by the previous
// one again before anything reloads it.
#pragma once

#include "console/reglas_sesion.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace v7 {

// One row of the rules list.
struct ReglaIp {
    QString direccion;  // dotted IPv4 address
    QString mascara;    // a bit count ("24") or a dotted mask ("255.255.255.0")
    QString acceso;     // "SI" (allowed), "NO" (denied) or empty (written as denied)
    QString comentario; // may be empty
    QString metodo;     // the method as read from the file; empty for rows made in the window

    bool operator==(const ReglaIp&) const = default;
};

inline const QString kAccesoSi = QStringLiteral("SI");
inline const QString kAccesoNo = QStringLiteral("NO");
// The method of rows that are allowed in the window and had no allowing method of their own.
inline const QString kMetodoNuevo = QStringLiteral("scram-sha-256");

// The file as read.
struct ArchivoReglas {
    enum class Tipo {
        Fija,  // the administrator's: kept exactly as read
        Regla, // a row
        Copia, // the IPv6 loopback copy this window wrote right before a 127.0.0.1 row: it goes with its row
    };
    struct Linea {
        QByteArray texto; // its bytes, without the line end
        QByteArray fin;   // "\n", "\r\n", or empty for a last line without one
        Tipo tipo = Tipo::Fija;
        int fila = -1;  // Regla: its row in reglas
        int copia = -1; // Regla: the line of its copy, when it has one
    };
    QVector<Linea> lineas;
    QVector<ReglaIp> reglas;           // the rows, in file order
    QVector<int> lineaDeRegla;         // the line of each row
    QByteArray finDeLinea = "\n";      // the file's own style, for lines written anew
    bool saltoFinal = true;            // the last line ends with a line end (or the file is empty)
    bool utf8 = true;                  // the whole file is valid UTF-8 (else its texts are Windows-1252)
    bool loopbackIPv6Cubierto = false; // a kept rule already decides ::1 for every database and user
};

// The row a line is, when it is one: "host", "all", "all", an IPv4 address with "/bits" or followed
// by a dotted mask, one authentication method and nothing else but a "#" comment.
[[nodiscard]] bool reglaDeLinea(const QString& linea, ReglaIp* regla);

// Whether a kept line is a TCP rule whose address may take in ::1 for a database that "all" takes in
// (any database but the replication keyword) and any user: a loopback copy before it would override it,
// and one after it would never be reached.
bool cubreLoopbackIPv6(const QString& linea);

// Splits the file into lines (each keeps its own line end) and finds its rows.
ArchivoReglas leerReglas(const QByteArray& contenido);

// The line of a row: "host", 4 blanks, "all", 9 blanks, "all", 9 blanks, the address, then "/" and
// the mask when it is a bit count or 10 blanks and the mask when it is dotted, 10 blanks, the method,
// and 5 blanks, "#" and the comment when there is one.
QString lineaRegla(const ReglaIp& regla);
// The method a row is written with: "reject" unless allowed; an allowed row keeps the method it was
// read with, or gets kMetodoNuevo.
QString metodoEscrito(const ReglaIp& regla);
// The IPv6 loopback twin of a 127.0.0.1 row, written right before it: "::1/128", the same method and
// comment.
QString lineaCopiaLoopback(const ReglaIp& regla);

// The new file: every kept line where it was, the rows in the given order in the places rows had
// (rows beyond those places right after the last one, or at the end of a file without rows). A row equal
// to one that was read is that row's own bytes and line end; any other row is written anew in the file's
// style. With copiaLoopback a 127.0.0.1 row written anew is preceded by its IPv6 copy unless a kept rule
// already decides ::1 (an untouched row keeps the copy it had, or none). The final line end is as it was.
// lineasNuevas, when given, gets the line number (from 1) of each row written anew.
QByteArray escribirReglas(const ArchivoReglas& archivo, const QVector<ReglaIp>& filas, bool copiaLoopback,
                          QVector<int>* lineasNuevas = nullptr);

// ---------------------------------------------------------------- input

bool esDireccionIPv4(const QString& texto); // four numbers 0-255 without leading zeros, dot-separated
bool esMascara(const QString& texto);       // 0-32, or a dotted mask of contiguous ones
// The comment as one line: control characters (line breaks, tabs) become blanks, the ends are trimmed.
QString limpiarComentario(const QString& comentario);

enum class ErrorEntrada { Ninguno, DireccionVacia, MascaraVacia, DireccionNoValida, MascaraNoValida };
ErrorEntrada validarEntrada(const QString& direccion, const QString& mascara);
QString textoErrorEntrada(ErrorEntrada error);

// ---------------------------------------------------------------- the file on disk

// The largest rules file read.
inline constexpr qint64 kLimiteArchivoReglas = 8 * 1024 * 1024;

// The file the server names as hba_file when it tells (on the shared connection), else the installation's
// data/pg_hba.conf.
QString rutaArchivoReglas();

struct LecturaReglas {
    int numero = 0; // 0: read; 76: the folder is missing; else the system's error number
    QString descripcion;
    ArchivoReglas archivo;
};
// Reads the file as bytes. Its folder is reached without following a link that the server's owner (or
// anyone else) could have planted, and must be the server owner's or root's; a link at its name, anything but
// a regular file, or a file of another user than the server's OS user is refused (75, with the reason).
LecturaReglas leerArchivoReglas(const QString& ruta);
// The message of a read that failed: the folder is missing (textoSinArchivoReglas, with the file's path), or
// any other failure with its number and cause.
QString textoSinArchivoReglas(const QString& ruta);
QString textoLecturaFallida(const LecturaReglas& lectura);

// A line the server refused, with the line as written.
struct RechazoRegla {
    int linea = 0;
    QString texto;
    QString error;
};

struct GuardadoReglas {
    enum class Resultado {
        Guardado,        // in place, accepted by the server, and this session still logs in under it
        NoEscrito,       // the file could not be written: it is as it was
        Rechazado,       // the server refused lines of it: the previous file is back
        NoVerificado,    // the server could not check it: the previous file is back
        SesionBloqueada, // this session could no longer log in under it: the previous file is back
        SinEfecto,       // an earlier line decides for the address of a row written anew: the previous file is back
    };
    Resultado resultado = Resultado::Guardado;
    QString detalle; // the system error, the server's error, or why the session would be locked out
    QVector<RechazoRegla> rechazos;
    QString errorRestauracion; // putting the previous file back failed too: why
    QString respaldo;          // where the previous file is kept
    bool guardado() const { return resultado == Resultado::Guardado; }
};
// Writes contenido as the rules file at ruta (a regular file with the previous file's owner, group and
// mode; never through a link, in the folder reached as leerArchivoReglas reaches it, and only over a file of
// the server's OS user), keeps the previous file as ruta + ".bak" made the same way, and asks the server
// through the shared connection whether it accepts the file, still lets this session in, and lets each row
// of lineasNuevas (escribirReglas) decide for its own address. Not accepted: the previous file is put back
// before anything reloads.
[[nodiscard]] GuardadoReglas guardarArchivoReglas(const QString& ruta, const QByteArray& contenido,
                                                  const QVector<int>& lineasNuevas = {});
// The message of a save that did not stay.
QString textoGuardado(const GuardadoReglas& g, const QString& ruta);
// The message after a save: the server reloaded the new rules (by pg_ctl, or asked through this session's
// connection where there is no pg_ctl to run), or it did not, and why.
QString textoReglasAplicadas(bool porPgCtl);
QString textoReglasNoAplicadas(const QString& motivo);

} // namespace v7
