#include "platform/construir_ui.h"

#include <QAccessible>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QRadioButton>

namespace v7::ui {

MyButton* boton(QWidget* parent, const QString& name, const QString& caption, const QRect& rect) {
    auto* b = control<MyButton>(parent, name, rect);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

void nombreAccesible(QWidget* control, const QString& nombre, const QString& ayuda) {
    if (control == nullptr) {
        return;
    }
    control->setAccessibleName(nombre);
    control->setToolTip(ayuda.isEmpty() ? nombre : ayuda);
}

MyButton* botonImagen(QWidget* parent, const QString& name, const QString& nombre, const QIcon& icono,
                      const QRect& rect) {
    MyButton* b = boton(parent, name, QString(), rect);
    b->setIcon(icono);
    nombreAccesible(b, nombre);
    return b;
}

QStringList botonesSinNombre(const QWidget* ventana) {
    QStringList sinNombre;
    if (ventana == nullptr) {
        return sinNombre;
    }
    for (QAbstractButton* b : ventana->findChildren<QAbstractButton*>()) {
        // Qt's own parts (a menu bar's overflow arrow) are Qt's to name.
        if (b->objectName().startsWith(QLatin1String("qt_"))) {
            continue;
        }
        // What the accessibility layer itself reports: the caption without its access key, or the name given.
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
        const QString dicho = i != nullptr ? i->text(QAccessible::Name).trimmed() : QString();
        if (dicho.isEmpty()) {
            sinNombre << (b->objectName().isEmpty() ? QString::fromLatin1(b->metaObject()->className())
                                                    : b->objectName());
        }
    }
    return sinNombre;
}

QLabel* etiqueta(QWidget* parent, const QString& name, const QString& text, const QRect& rect, bool wrap) {
    auto* l = control<QLabel>(parent, name, rect);
    l->setText(text);
    l->setWordWrap(wrap);
    return l;
}

QLineEdit* caja(QWidget* parent, const QString& name, const QRect& rect) {
    return control<QLineEdit>(parent, name, rect);
}

QCheckBox* casilla(QWidget* parent, const QString& name, const QString& caption, const QRect& rect) {
    auto* c = control<QCheckBox>(parent, name, rect);
    c->setText(caption);
    return c;
}

namespace {

// Lives as a child of the label, so it goes away with it.
class ActivadorEtiqueta : public QObject {
public:
    ActivadorEtiqueta(QLabel* etiqueta, QAbstractButton* control) : QObject(etiqueta), m_control(control) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonRelease ||
            static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton || !m_control || !m_control->isEnabled()) {
            return QObject::eventFilter(watched, event);
        }
        if (qobject_cast<QRadioButton*>(m_control) != nullptr) {
            m_control->setChecked(true);
        } else {
            m_control->setChecked(!m_control->isChecked());
        }
        return true;
    }

private:
    QPointer<QAbstractButton> m_control;
};

} // namespace

void enlazarEtiqueta(QLabel* etiqueta, QAbstractButton* control) {
    etiqueta->installEventFilter(new ActivadorEtiqueta(etiqueta, control));
}

MyFrame* panel(QWidget* parent, const QString& name, const QRect& rect) {
    return control<MyFrame>(parent, name, rect);
}

FilaRuta filaRuta(QWidget* parent, const QString& labelName, const QString& caption, const QString& boxName,
                  const QString& buttonName, const QString& buttonCaption, int left, int top, int width,
                  int buttonWidth) {
    FilaRuta f;
    f.etiqueta = etiqueta(parent, labelName, caption, left, top, 3000);
    f.caja = caja(parent, boxName, left, top + 350, width);
    f.examinar = boton(parent, buttonName, buttonCaption, left + width - buttonWidth - 2100, top + 900, buttonWidth);
    return f;
}

} // namespace v7::ui
