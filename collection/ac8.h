// The previous generation's collection file (.ac8): two tables, EJEMPLARES and Fichas, in that
// generation's layout. The file is written through ArchivoAcervo so that its format can be replaced;
// the one here is an SQLite database (no package here writes the original format). Errors come back
// with the numbers that generation's engine gave (3022 a repeated key, 3314 a required field…), which
// the export's log shows.
#pragma once

#include "platform/db.h"

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>

namespace v7::ac8 {

// Field types, in the numbering of the original table definitions.
enum TipoCampo { kEntero16 = 3, kEntero32 = 4, kFecha = 8, kTexto = 10, kMemo = 12 };
// Field attributes.
inline constexpr int kTamanoFijo = 1;
inline constexpr int kTamanoVariable = 2;

// The engine's error numbers beyond the shared ones (core/errores.h).
inline constexpr int kRutaNoValida = 3044; // the file cannot be created or opened there
inline constexpr int kCampoDemasiadoPequeno = 3163;
inline constexpr int kCampoVacio = 3315;          // zero-length text in a field that does not allow it
inline constexpr int kDesbordamientoCampo = 3349; // a number outside its field's range
inline constexpr int kErrorSintaxis = 3134;
inline constexpr int kTiposNoCoinciden = 3464;
inline constexpr int kBaseYaExiste = 3204;
inline constexpr int kErrorMotor = 3000; // any other failure of the file

struct Campo {
    QString nombre;
    int tipo = kTexto;
    int tamano = 0; // characters for text, 0 for the engine's default
    int atributos = kTamanoFijo;
    QString predeterminado; // empty: none
    bool requerido = false;
    bool permiteVacio = false; // zero-length text allowed
};

struct Indice {
    QString nombre;
    QString campo;
    bool primario = false;
    bool unico = false;
};

struct Tabla {
    QString nombre;
    QVector<Campo> campos;
    QVector<Indice> indices;
};

// The two tables of the file.
Tabla tablaEjemplares();
Tabla tablaFichas();

struct [[nodiscard]] Resultado {
    int numero = 0; // 0: success
    QString descripcion;
    bool ok() const { return numero == 0; }
};

class ArchivoAcervo {
public:
    virtual ~ArchivoAcervo() = default;
    // A new, empty file at ruta (anything standing at the name is an error); it stays open for definir().
    // The file is reached by its path, and refused where a link stands anywhere on it: ruta must lie in a
    // folder that nobody else can change (the writer builds the file in the program's work folder).
    virtual Resultado crear(const QString& ruta) = 0;
    virtual Resultado definir(const Tabla& tabla) = 0;
    // Opens an existing file for ejecutar(), by its path as crear does.
    virtual Resultado abrir(const QString& ruta) = 0;
    // One INSERT statement. A rejected statement leaves no trace and the file stays usable.
    virtual Resultado ejecutar(const QString& insert) = 0;
    // Makes every accepted statement permanent and closes the file.
    virtual Resultado cerrar() = 0;
    virtual bool abierto() const = 0;
};

// The file writer in use.
std::unique_ptr<ArchivoAcervo> nuevoArchivoAcervo();

// Values as the file's INSERT statements take them. Text: trimmed, NULL when empty, quotes doubled,
// backslashes as they are. Dates "yyyy-mm-dd hh:mm:ss". Numbers as plain text, NULL when empty.
QString literalTexto(const QVariant& valor);
QString literalFecha(const QVariant& valor);
QString literalNumero(const QVariant& valor);

// The previous generation keeps a record's status in one letter: the first letter of today's
// three-letter code (CAP -> C); a one-letter status stays.
QString estatusAnterior(const QString& estatus);

// One MARC row as the tag read gives it: the tag number and its content with references resolved.
struct FilaEtiqueta {
    int numetiqueta = 0;
    QString data;
};

// Packs a record's tags, in their read order: each tag other than 008 as U+00A6, the number in at
// least three digits and the contents of its rows joined by blanks; U+00CC ends the text. datosFijos
// gets the content of the last 008 row (empty without one).
QString empacarEtiquetas(const QVector<FilaEtiqueta>& filas, QString& datosFijos);

// A text cut to its field's size.
struct Recorte {
    QString campo;
    int tamano = 0;
    QString original;
};

// The row statements, from the current row of the staged item or record reads (the columns the
// export selects). Descriptive texts longer than their field are cut to it and listed in recortes; the
// item number (the items' key) is never cut, so the file refuses an item whose number does not fit.
// ahora is the row's FechaMod.
QString insertEjemplar(const db::Recordset& fila, const QDateTime& ahora, QVector<Recorte>& recortes);
QString insertFicha(const db::Recordset& fila, const QString& datosFijos, const QString& etiquetas,
                    const QDateTime& ahora, QVector<Recorte>& recortes);

} // namespace v7::ac8
