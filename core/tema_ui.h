// The common look of the windows: styled buttons, plain and header panels, the header picture and
// the window back colour. The routines set the controls' look properties by name and hold no state.
#pragma once

#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace v7 {

class MyFrame;

// The back colour of every window (a Windows colour number), also the header panels' outside colour.
inline constexpr int kColorFondoVentana = 11571062;

// The button style on every MyButton of ventana, in creation order; other controls are skipped.
void AplicarEstiloBotones(QWidget* ventana);

// The plain white panel style; it also places the panel 360 twips from the left.
void AplicarEstiloPanel(MyFrame* panel);

// The panel style with a coloured header. An empty caption keeps the panel's own; captionGrande sets
// an 11-point bold caption (else the font size and weight stay); alinear aligns the caption left
// instead of centring it.
void AplicarEstiloPanelEncabezado(MyFrame* panel, const QString& caption, bool captionGrande, bool alinear);

// The header picture of the windows.
QPixmap imagenCabecera();
// The window's header label "ImgCabecera" under parent, holding the picture scaled to its size (placed
// later by ajustarImagenCabecera).
QLabel* crearImagenCabecera(QWidget* parent);
// Places the header picture across the top of ventana: as wide as the window, 120 twips above its
// top edge, at the left; the picture is set when the label has none.
void ajustarImagenCabecera(QLabel* imagen, QWidget* ventana);
// Paints ventana's background in the windows' back colour.
void aplicarColorFondo(QWidget* ventana);

} // namespace v7
