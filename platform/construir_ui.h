// Building a window's controls by their designed names and positions in twips (1/15 pixel), the
// same way in every window: a control found by name in a test is the control the user sees.
#pragma once

#include "platform/widgets_ui.h"

#include <QRect>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QCheckBox;
class QIcon;
class QLabel;
class QLineEdit;
class QWidget;

namespace v7::ui {

constexpr int px(int twips) {
    return twips / kTwipsPorPixel;
}
// A rectangle given in twips, in pixels.
constexpr QRect twips(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// Any control: created under parent, named, placed.
template <typename T> T* control(QWidget* parent, const QString& name, const QRect& rect) {
    auto* w = new T(parent);
    w->setObjectName(name);
    w->setGeometry(rect);
    return w;
}

// A themed button. It is never a dialog's automatic default: Enter in a text box presses no
// button unless the window makes one its default on purpose.
MyButton* boton(QWidget* parent, const QString& name, const QString& caption, const QRect& rect);
inline MyButton* boton(QWidget* parent, const QString& name, const QString& caption, int left, int top, int width,
                       int height = 420) {
    return boton(parent, name, caption, twips(left, top, width, height));
}

// What a screen reader says for a control whose own caption does not say it (a picture button, a check
// box captioned by a separate label, a clickable picture), and its tooltip in Spanish: ayuda, or the name
// itself when ayuda is empty.
void nombreAccesible(QWidget* control, const QString& nombre, const QString& ayuda = QString());

// A themed button that shows a picture instead of a caption; nombre is its accessible name and tooltip.
MyButton* botonImagen(QWidget* parent, const QString& name, const QString& nombre, const QIcon& icono,
                      const QRect& rect);

// The buttons under ventana (check boxes and option buttons included) that a screen reader could not name:
// their object names (or class names when they have none). Empty when every one has a name.
QStringList botonesSinNombre(const QWidget* ventana);

// A label; wrap breaks long texts over the rectangle's lines. name may be empty for a label no code
// refers to.
QLabel* etiqueta(QWidget* parent, const QString& name, const QString& text, const QRect& rect, bool wrap = false);
inline QLabel* etiqueta(QWidget* parent, const QString& name, const QString& text, int left, int top, int width,
                        int height = 300, bool wrap = false) {
    return etiqueta(parent, name, text, twips(left, top, width, height), wrap);
}

QLineEdit* caja(QWidget* parent, const QString& name, const QRect& rect);
inline QLineEdit* caja(QWidget* parent, const QString& name, int left, int top, int width, int height = 330) {
    return caja(parent, name, twips(left, top, width, height));
}

QCheckBox* casilla(QWidget* parent, const QString& name, const QString& caption, const QRect& rect);

// The caption label beside a check box or option button (the designed layout keeps them apart): a left
// click on the label acts on the control while the control is enabled, a check box toggling, an option
// button becoming the chosen one.
void enlazarEtiqueta(QLabel* etiqueta, QAbstractButton* control);

// A themed panel.
MyFrame* panel(QWidget* parent, const QString& name, const QRect& rect);

// The row of a path: its caption, the box and the browse button, laid out as the maintenance and
// transfer windows show them (caption above the box, the button below its right end).
struct FilaRuta {
    QLabel* etiqueta = nullptr;
    QLineEdit* caja = nullptr;
    MyButton* examinar = nullptr;
};
FilaRuta filaRuta(QWidget* parent, const QString& labelName, const QString& caption, const QString& boxName,
                  const QString& buttonName, const QString& buttonCaption, int left, int top, int width,
                  int buttonWidth = 1800);

} // namespace v7::ui
