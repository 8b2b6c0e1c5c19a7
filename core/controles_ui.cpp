#include "core/controles_ui.h"

#include "core/sql.h"

#include <QComboBox>
#include <QLineEdit>

namespace v7 {

void SeleccionarTexto(QLineEdit* box) {
    if (box == nullptr) {
        return;
    }
    box->setSelection(0, int(box->text().size()));
    box->setFocus();
}

bool LlenarCombo(const QString& query, QComboBox* list, QString* errorText) {
    if (list == nullptr || query.trimmed().isEmpty() || !query.toLower().contains(QLatin1String("select"))) {
        return false;
    }
    list->clear();
    int total = 0;
    QString err;
    auto rs = ExecuteSQLrs(query, total, err);
    if (!rs) {
        if (errorText != nullptr) {
            *errorText = err;
        }
        return false;
    }
    if (rs->eof()) {
        rs->close();
        return false;
    }
    for (; !rs->eof(); rs->moveNext()) {
        QString entry;
        for (int i = 0; i < rs->fieldCount(); ++i) {
            const auto t = rs->column(i).type;
            const QString v = rs->text(i);
            if (t == db::FieldType::Integer32 || t == db::FieldType::Integer64) {
                entry += v.rightJustified(3, QLatin1Char('0')) + QStringLiteral(" - ");
            } else {
                entry += v.trimmed() + QLatin1Char(' ');
            }
        }
        list->addItem(entry.trimmed());
    }
    rs->close();
    return true;
}

} // namespace v7
