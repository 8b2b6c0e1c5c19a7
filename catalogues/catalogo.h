// Routines of the libraries catalogue editor: the table's statements, the rules that turn its column
// metadata into edit rows, the writes and the sorting of their failures, and the list search's match.
#pragma once

#include "platform/db.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

namespace v7 {

// The rows the window lists, in the table's column order.
QString consultaCatalogo();
// The table's columns in order. Named by schema too: a table of that name in another schema is not
// this one.
QString consultaColumnas();

// One column as the server describes it.
struct ColumnaCatalogo {
    QString nombre;
    bool requerido = false;         // is_nullable "NO"
    QString tipo;                   // data_type
    std::optional<qint64> longitud; // character_maximum_length
};
QVector<ColumnaCatalogo> leerColumnas(db::Recordset& rs);

// How an edit row treats its column.
struct ReglaCampo {
    int longitud = 0; // characters the box takes; 0: no limit of its own
    bool numerico = false;
    bool soloEnteros = false;
    bool fecha = false;
};
ReglaCampo reglaCampo(const ColumnaCatalogo& columna);

// The text box's width in twips for a length limit (0: none).
int anchoCaja(int longitud);
// The label of a column: "_" as blanks, the first letter upper-cased.
QString etiquetaCampo(const QString& columna);
// Whether a column has no edit row on screen.
bool campoOculto(const QString& columna);
// Whether a column gets the picture-file chooser.
bool campoFoto(const QString& columna);

// The scroll bar's maximum for n rows when filasVisibles rows fit the field area: half the rows
// (halves to even) plus one, and never so little that the last row cannot be brought into view.
int maximoDesplazamiento(int filas, int filasVisibles);

// Whether a typed character passes an edit row's key filter.
bool caracterPermitido(QChar c, bool numerico, bool soloEnteros);

// The "No. Bib." cell: the key right-aligned in ten characters (ten blanks for NULL); a longer key is
// shown whole, never cut into another key.
QString celdaClave(const std::optional<QString>& valor);

// The number a text starts with (leading blanks skipped; 0 when there is none).
double valorNumerico(const QString& texto);
// Whether a text is a number as the required-field check accepts it.
bool esNumerico(const QString& texto);

// The greatest key a new library may have.
inline constexpr double kClaveMaxima = 100000;

// The columns a modify may change, in the order the statement names them.
inline const QStringList kColumnasModificables = {QStringLiteral("nombre"), QStringLiteral("nombrecorto"),
                                                  QStringLiteral("director"), QStringLiteral("telefono"),
                                                  QStringLiteral("correo")};

// One column a modify changes: its name and the new text.
struct CambioCampo {
    QString columna;
    QString texto;
};

// The key of a record as the statements write it: the row's own idbiblioteca (never a list cell, which
// may show it otherwise), a number as a number, anything else as a quoted literal.
QString literalClave(const QString& clave);

// The modify statement: only the columns the user changed, each text trimmed and quoted, for the record
// of that key. Empty when nothing changed.
QString sentenciaModificar(const QVector<CambioCampo>& cambios, const QString& clave);
// The delete statement for the record of that key.
QString sentenciaBorrar(const QString& clave);

// What an edit row holds when a new record is stored.
struct ValorCampo {
    bool esFecha = false;
    QDate fecha;   // a date row's date (invalid: none)
    QString texto; // any other row's text
};
// Adds one row built from the columns and the rows' values, every value bound to its column's type:
// texts are stored as typed (trimmed), an empty value of a column that is not text is NULL, a date
// row gives its date. False with the server's error.
bool InsertarRegistro(const QVector<ColumnaCatalogo>& columnas, const QVector<ValorCampo>& valores, db::DbError& error);

// The rows and the columns of the catalogue on the shared connection, both or neither (columnas is empty
// on a failure). The server's own error comes back, as the writes give it.
bool LeerCatalogo(std::unique_ptr<db::Recordset>& filas, std::unique_ptr<db::Recordset>& columnas, db::DbError& error);
// The catalogue's rows alone (null on a failure).
std::unique_ptr<db::Recordset> LeerFilasCatalogo(db::DbError& error);
// Deletes the row of that key. False with the server's error, which clasificarFalla sorts.
bool BorrarRegistro(const QString& clave, qint64& filas, db::DbError& error);

// Write failures the window answers with their own message.
enum class FallaEscritura { ClaveDuplicada, Referenciado, Otra };
FallaEscritura clasificarFalla(const db::DbError& error);

// The list search's test of one cell, letter case aside: contained, or the whole cell.
bool coincideCelda(const QString& celda, const QString& cadena, bool fraseCompleta);

} // namespace v7
