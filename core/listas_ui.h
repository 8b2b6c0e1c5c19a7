// Report-style lists (a QTreeWidget without children) filled from a query, sorted on a column
// click by hidden keys, and the folder picker.
#pragma once

#include "core/sql.h"

#include <QString>

class QLabel;
class QProgressBar;
class QTreeWidget;
class QWidget;

namespace v7 {

// Where an item or header keeps its hidden tag: each column's sort key, and in the header the
// column's sort direction (0 ascending, -1 descending; unset counts as 0).
inline constexpr int kRolEtiqueta = Qt::UserRole;

// Key kind of LlenarListView that gives the first column a numeric sort key too.
inline const QString kLlaveNumerica = QStringLiteral("Numérico");

// Appends one item per row of rs to lista (which callers clear first): field 0 is the item's text,
// field k the text of column k, each with its sort key as tag. Column numbers count fields from 0,
// 0 meaning none: columnaTooltip's value becomes the item's tooltip, columnaMoneda's is shown in
// the locale's currency form ("00.00" for NULL). barra and etiqueta may be null. With
// pausarRedibujo the window repaints only briefly every 1,500 rows, when etiqueta shows the
// progress. The recordset is closed and rs reset, also for an empty result.
void LlenarListView(QWidget* ventana, RecordsetPtr& rs, QTreeWidget* lista, int columnaTooltip, int columnaMoneda,
                    QProgressBar* barra, QLabel* etiqueta, bool pausarRedibujo, const QString& tipoLlave);

// The column-header click of such a list: sorts by the column's keys (its texts where it has none);
// clicking the current sort column again reverses its direction.
void OrdenarListView(QTreeWidget* lista, int columna);

// Widens each shown column of lista to what its header and its texts need (a column never narrows below
// the width it has), and stops the last one from stretching over the rest of the list.
void AjustarColumnas(QTreeWidget* lista);

// Asks for a folder through the dialogs service; the empty text when the user cancels.
QString SeleccionarCarpeta(QWidget* owner, const QString& titulo);

} // namespace v7
