#include "core/tema_ui.h"

#include "platform/widgets_ui.h"

#include <QLabel>
#include <QMetaObject>
#include <QPalette>
#include <QSignalBlocker>
#include <QVariant>
#include <QWidget>

#include <utility>
#include <vector>

// The resources live in a static library: register them before first use.
static void iniciarRecursosTema() {
    static const bool done = [] {
        Q_INIT_RESOURCE(tema_ui);
        return true;
    }();
    (void)done;
}

namespace v7 {

namespace {

using Propiedades = std::vector<std::pair<const char*, QVariant>>;

// Sets each property by name, in order. Every name is a declared property of the styled controls;
// one that does not take is a programming error worth hearing about.
void fijar(QObject* control, const Propiedades& props) {
    {
        // The control restyles itself once for the whole set, not once per property: a window's buttons
        // are styled in a blink, whatever the machine's load.
        const QSignalBlocker uno(control);
        for (const auto& [name, value] : props) {
            if (!control->setProperty(name, value)) {
                qWarning("v7 theme: %s has no property %s", control->metaObject()->className(), name);
            }
        }
    }
    QMetaObject::invokeMethod(control, "estiloCambiado", Qt::DirectConnection);
}

const int kBlanco = 0xFFFFFF;
const int kBordePanel = 0x800000;
const int kTextoGris = int(0x80000011u);

} // namespace

void AplicarEstiloBotones(QWidget* ventana) {
    if (ventana == nullptr) {
        return;
    }
    const Propiedades estilo = {
        {"Appearance", 3},
        {"AppearanceMode", 0},
        {"AppearanceThemes", 4},
        {"BackColor", 14737632},
        {"BackColorDisabled", 14737632},
        {"BackColorDown", 15523541},
        {"BackColorFocus", 15523541},
        {"BackColorOver", 15523541},
        {"BorderColor", 8540205},
        {"BorderWidth", 1},
        {"CaptionAlignment", 4},
        {"CaptionEffect", 3},
        {"DefaultThemes", 0},
        {"FontName", QStringLiteral("Tahoma")},
        {"FontBold", false},
    };
    for (MyButton* b : ventana->findChildren<MyButton*>()) {
        fijar(b, estilo);
    }
}

void AplicarEstiloPanel(MyFrame* panel) {
    if (panel == nullptr) {
        return;
    }
    fijar(panel, {
                     {"Appearance", 0},
                     {"AppearanceThemes", 1},
                     {"BackColor", kBlanco},
                     {"BackgroundAlignment", 4},
                     {"BodyColorBottomLeft", kBlanco},
                     {"BodyColorBottomRight", kBlanco},
                     {"BodyColorTopLeft", 15329769},
                     {"BodyColorTopRight", 15329769},
                     {"BodyGradientAlign", 1},
                     {"BodyGradientSizeH", QStringLiteral("100%")},
                     {"BodyGradientSizeV", QStringLiteral("20%")},
                     {"BodyShow", true},
                     {"BorderColor", kBordePanel},
                     {"BorderStyle", 1},
                     {"BorderWidth", 1},
                     {"CornerRadius", 10},
                     {"CornerBottomLeft", true},
                     {"CornerBottomRight", true},
                     {"CornerTopLeft", true},
                     {"CornerTopRight", true},
                     {"DefaultTheme", 0},
                     {"HeaderShow", false},
                     {"Left", 360},
                 });
}

void AplicarEstiloPanelEncabezado(MyFrame* panel, const QString& caption, bool captionGrande, bool alinear) {
    if (panel == nullptr) {
        return;
    }
    Propiedades props = {
        {"Appearance", 4},
        {"AppearanceThemes", 3},
        {"BackColor", kBlanco},
        {"BackgroundAlignment", 4},
        {"BodyColorBottomLeft", kBlanco},
        {"BodyColorBottomRight", kBlanco},
        {"BodyColorTopLeft", kBlanco},
        {"BodyColorTopRight", kBlanco},
        {"BorderColor", kBordePanel},
        {"BorderStyle", 1},
    };
    if (!caption.isEmpty()) {
        props.emplace_back("Caption", caption);
    }
    props.emplace_back("CaptionAlignment", alinear ? 3 : 4);
    if (captionGrande) {
        props.emplace_back("FontSize", 11);
        props.emplace_back("FontBold", true);
    }
    const Propiedades resto = {
        {"CornerRadius", 10},
        {"CornerBottomLeft", true},
        {"CornerBottomRight", true},
        {"CornerTopLeft", true},
        {"CornerTopRight", true},
        {"DefaultTheme", 0},
        {"FontName", QStringLiteral("Tahoma")},
        {"ForeColor", kBlanco},
        {"ForeDisabled", kTextoGris},
        {"HeaderColorBottomLeft", 9529932},
        {"HeaderColorBottomRight", 9529932},
        {"HeaderColorTopLeft", 12230797},
        {"HeaderColorTopRight", 12230797},
        {"HeaderHeight", 25},
        {"HeaderShow", true},
        {"OutSideColor", kColorFondoVentana},
    };
    props.insert(props.end(), resto.begin(), resto.end());
    fijar(panel, props);
}

QPixmap imagenCabecera() {
    iniciarRecursosTema();
    return QPixmap(QStringLiteral(":/tema/cabecera.png"));
}

QLabel* crearImagenCabecera(QWidget* parent) {
    auto* imagen = new QLabel(parent);
    imagen->setObjectName(QStringLiteral("ImgCabecera"));
    imagen->setPixmap(imagenCabecera());
    imagen->setScaledContents(true);
    return imagen;
}

void ajustarImagenCabecera(QLabel* imagen, QWidget* ventana) {
    if (imagen == nullptr || ventana == nullptr) {
        return;
    }
    if (imagen->pixmap().isNull()) {
        imagen->setPixmap(imagenCabecera());
    }
    imagen->setScaledContents(true);
    const int height = imagen->height() > 1 ? imagen->height() : imagen->pixmap().height();
    imagen->setGeometry(0, -120 / kTwipsPorPixel, ventana->width(), height);
}

void aplicarColorFondo(QWidget* ventana) {
    if (ventana == nullptr) {
        return;
    }
    QPalette pal = ventana->palette();
    pal.setColor(QPalette::Window, colorDesdeBGR(kColorFondoVentana));
    ventana->setPalette(pal);
    ventana->setAutoFillBackground(true);
}

} // namespace v7
