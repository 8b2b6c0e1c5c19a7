// Shared routines that work on controls.
#pragma once

#include <QString>

class QComboBox;
class QLineEdit;

namespace v7 {

// Selects the box's whole text and gives it the focus; errors are ignored.
void SeleccionarTexto(QLineEdit* box);

// Fills a drop-down list from a query: integer fields as at least three digits and " - ", other
// fields trimmed and a blank. False (list untouched) for a query without "select"; false with the
// list cleared when no row came back. errorText gets the failure of the query.
bool LlenarCombo(const QString& query, QComboBox* list, QString* errorText = nullptr);

} // namespace v7
