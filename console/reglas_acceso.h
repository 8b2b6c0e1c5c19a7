// The server's client-authentication file as the client-address window sees it: its plain IPv4
// "host" rules for every database and user are the window's rows; every other line is the
// administrator's and is written back exactly where and as it was. Saving is safe: the previous
// file stays as <file>.bak, the new one is renamed into place, the server checks it, and a file
// the server would refuse is replaced by the previous one again.
#pragma once

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
        Fija,  // kept exactly as read
        Regla, // the place of a row
        Copia, // the IPv6 loopback copy this window wrote before a 127.0.0.1 row: written anew, not kept
    };
    struct Linea {
        QByteArray texto; // without its line end
        Tipo tipo = Tipo::Fija;
    };
    QVector<Linea> lineas;
    QVector<ReglaIp> reglas; // the rows, in file order
};

// The row a line is, when it is one: "host", "all", "all", an IPv4 address with "/bits" or followed
// by a dotted mask, one authentication method and nothing else but a "#" comment.
[[nodiscard]] bool reglaDeLinea(const QString& linea, ReglaIp* regla);

// Splits the file into lines (a CR before the LF is dropped) and finds its rows.
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
// (rows beyond those places right after the last one, or at the end of a file without rows), each
// 127.0.0.1 row preceded by its IPv6 copy when copiaLoopback. Lines end in LF.
QByteArray escribirReglas(const ArchivoReglas& archivo, const QVector<ReglaIp>& filas, bool copiaLoopback);

// ---------------------------------------------------------------- input

bool esDireccionIPv4(const QString& texto); // four numbers 0-255 without leading zeros, dot-separated
bool esMascara(const QString& texto);       // 0-32, or a dotted mask of contiguous ones
// The comment as one line: control characters (line breaks, tabs) become blanks, the ends are trimmed.
QString limpiarComentario(const QString& comentario);

enum class ErrorEntrada { Ninguno, DireccionVacia, MascaraVacia, DireccionNoValida, MascaraNoValida };
ErrorEntrada validarEntrada(const QString& direccion, const QString& mascara);
QString textoErrorEntrada(ErrorEntrada error);

// ---------------------------------------------------------------- the file on disk

// The installation's data/pg_hba.conf, or the file the server names as hba_file when it tells.
QString rutaArchivoReglas();

struct LecturaReglas {
    int numero = 0; // 0: read; 76: the folder is missing; else the system's error number
    QString descripcion;
    ArchivoReglas archivo;
};
LecturaReglas leerArchivoReglas(const QString& ruta);

// A line the server refused, with the line as written.
struct RechazoRegla {
    int linea = 0;
    QString texto;
    QString error;
};

struct GuardadoReglas {
    enum class Resultado {
        Guardado,     // in place and accepted by the server
        NoEscrito,    // the file could not be written: it is as it was
        Rechazado,    // the server refused lines of it: the previous file is back
        NoVerificado, // the server could not check it: the previous file is back
    };
    Resultado resultado = Resultado::Guardado;
    QString detalle; // the system error, the server's error or the refused lines
    QVector<RechazoRegla> rechazos;
    QString errorRestauracion; // putting the previous file back failed too: why
    QString respaldo;          // where the previous file is kept
    bool guardado() const { return resultado == Resultado::Guardado; }
};
// Writes contenido as the rules file at ruta (owner and mode kept), keeps the previous file as
// ruta + ".bak", and asks the server through the shared connection whether it accepts the file.
[[nodiscard]] GuardadoReglas guardarArchivoReglas(const QString& ruta, const QByteArray& contenido);
// The message of a save that did not stay.
QString textoGuardado(const GuardadoReglas& g, const QString& ruta);

// The lines of the file the server names that it would refuse, by asking pg_hba_file_rules. False
// (with errorTexto) when it could not be asked. Lines the server takes with a warning only (a
// "hostssl" rule while SSL is off) are not refusals.
[[nodiscard]] bool verificarArchivoReglas(QVector<RechazoRegla>* rechazos, QString* errorTexto);

} // namespace v7
