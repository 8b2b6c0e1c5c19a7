#include "console/pendiente_ui.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace v7 {

VentanaPendiente::VentanaPendiente(const QString& objectName, const QString& caption, QWidget* parent)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    auto* texto = new QLabel(QStringLiteral("Esta ventana todavía no está disponible en esta versión de V7Tools."), this);
    texto->setObjectName(QStringLiteral("EtPendiente"));
    layout->addWidget(texto);
    auto* botones = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(botones);
}

void mostrarPendiente(QWidget* parent, const QString& objectName, const QString& caption) {
    VentanaPendiente w(objectName, caption, parent);
    w.exec();
}

} // namespace v7
