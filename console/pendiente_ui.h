// A plain window standing in for a tool window that this version does not have yet.
#pragma once

#include <QDialog>

namespace v7 {

class VentanaPendiente : public QDialog {
    Q_OBJECT

public:
    VentanaPendiente(const QString& objectName, const QString& caption, QWidget* parent = nullptr);
};

// Shows one modally.
void mostrarPendiente(QWidget* parent, const QString& objectName, const QString& caption);

} // namespace v7
