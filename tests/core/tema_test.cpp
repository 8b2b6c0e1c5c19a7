#include "core/tema_ui.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace v7;

namespace {

TEST(Tema, WindowsColourNumbersBecomeColours) {
    EXPECT_EQ(colorDesdeBGR(14737632), QColor(0xE0, 0xE0, 0xE0));
    EXPECT_EQ(colorDesdeBGR(8540205), QColor(0x2D, 0x50, 0x82)); // 0x82502D: red is the low byte
    EXPECT_EQ(colorDesdeBGR(kColorFondoVentana), QColor(0x76, 0x8F, 0xB0));
    EXPECT_EQ(colorDesdeBGR(0x800000), QColor(0, 0, 0x80));
    EXPECT_EQ(colorDesdeBGR(int(0x80000011u)), QApplication::palette().color(QPalette::Disabled, QPalette::Text));
}

// A window as the designs lay them out: buttons on the window and inside a panel, a plain button.
struct Ventana {
    QWidget w;
    MyFrame* panel = new MyFrame(&w);
    MyFrame* encabezado = new MyFrame(&w);
    MyButton* aceptar = new MyButton(QStringLiteral("&Aceptar"), &w);
    MyButton* interno = new MyButton(QStringLiteral("&Salir"), panel);
    QPushButton* comun = new QPushButton(QStringLiteral("Otro"), &w);
    QLabel* cabecera = new QLabel(&w);

    Ventana() {
        w.resize(400, 300);
        aceptar->setObjectName(QStringLiteral("BtnAceptar"));
        interno->setObjectName(QStringLiteral("BtnSalir"));
        panel->setGeometry(100, 40, 200, 100);
        encabezado->setGeometry(10, 150, 300, 120);
        encabezado->setCaption(QStringLiteral("Diseño"));
    }
};

TEST(Tema, ButtonStyleOnEveryStyledButtonOnly) {
    Ventana v;
    const QFont fuenteComun = v.comun->font();
    AplicarEstiloBotones(&v.w);
    const struct {
        const char* name;
        QVariant value;
    } expected[] = {
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
    for (MyButton* b : {v.aceptar, v.interno}) {
        for (const auto& e : expected) {
            EXPECT_EQ(b->property(e.name), e.value) << b->objectName().toStdString() << " " << e.name;
        }
        EXPECT_TRUE(b->styleSheet().contains(QStringLiteral("#e0e0e0"))) << b->styleSheet().toStdString();
        EXPECT_TRUE(b->styleSheet().contains(QStringLiteral("#2d5082"))) << b->styleSheet().toStdString();
    }
    EXPECT_EQ(v.aceptar->text(), QStringLiteral("&Aceptar"));
    // Other controls are skipped: no look property appears on them.
    EXPECT_FALSE(v.comun->property("BackColor").isValid());
    EXPECT_TRUE(v.comun->styleSheet().isEmpty());
    EXPECT_EQ(v.comun->font(), fuenteComun);

    // A window without styled buttons stays as it was.
    QWidget sinBotones;
    auto* b = new QPushButton(&sinBotones);
    AplicarEstiloBotones(&sinBotones);
    EXPECT_TRUE(b->dynamicPropertyNames().isEmpty());
    EXPECT_TRUE(sinBotones.styleSheet().isEmpty() && b->styleSheet().isEmpty());
}

TEST(Tema, PlainPanelIsWhiteRoundedAndMovedLeft) {
    Ventana v;
    AplicarEstiloPanel(v.panel);
    EXPECT_EQ(v.panel->property("Left").toInt(), 360);
    EXPECT_EQ(v.panel->x(), 24); // 360 twips
    EXPECT_EQ(v.panel->y(), 40);
    EXPECT_EQ(v.panel->property("BodyColorTopLeft").toInt(), 15329769);
    EXPECT_EQ(v.panel->property("BodyGradientSizeV").toString(), QStringLiteral("20%"));
    EXPECT_EQ(v.panel->property("CornerRadius").toInt(), 10);
    EXPECT_TRUE(v.panel->property("CornerBottomRight").toBool());
    EXPECT_FALSE(v.panel->property("HeaderShow").toBool());
    EXPECT_EQ(v.panel->property("BorderColor").toInt(), 0x800000);
    EXPECT_TRUE(v.panel->estilado());
}

TEST(Tema, HeaderPanelCaptionAndFontOptions) {
    Ventana v;
    const QFont designed = v.encabezado->font();
    // Empty caption and both options off: caption, size and weight stay as designed.
    AplicarEstiloPanelEncabezado(v.encabezado, QString(), false, false);
    EXPECT_EQ(v.encabezado->caption(), QStringLiteral("Diseño"));
    EXPECT_EQ(v.encabezado->property("CaptionAlignment").toInt(), 4);
    EXPECT_EQ(v.encabezado->font().pointSize(), designed.pointSize());
    EXPECT_EQ(v.encabezado->font().bold(), designed.bold());
    EXPECT_EQ(v.encabezado->font().family(), QStringLiteral("Tahoma"));
    EXPECT_TRUE(v.encabezado->property("HeaderShow").toBool());
    EXPECT_EQ(v.encabezado->property("HeaderHeight").toInt(), 25);
    EXPECT_EQ(v.encabezado->property("HeaderColorTopLeft").toInt(), 12230797);
    EXPECT_EQ(v.encabezado->property("HeaderColorBottomRight").toInt(), 9529932);
    EXPECT_EQ(v.encabezado->property("ForeDisabled").toInt(), int(0x80000011u));
    EXPECT_EQ(v.encabezado->property("OutSideColor").toInt(), 11571062);
    EXPECT_EQ(v.encabezado->x(), 10); // only the plain style moves a panel

    AplicarEstiloPanelEncabezado(v.encabezado, QStringLiteral("P R E C A U C I O N"), true, true);
    EXPECT_EQ(v.encabezado->caption(), QStringLiteral("P R E C A U C I O N"));
    EXPECT_EQ(v.encabezado->property("CaptionAlignment").toInt(), 3);
    EXPECT_EQ(v.encabezado->font().pointSize(), 11);
    EXPECT_TRUE(v.encabezado->font().bold());

    // The header band is painted in its colours (top colour 0xBAA08D).
    const QImage img = v.encabezado->grab().toImage();
    const QColor top = img.pixelColor(img.width() / 2, 1);
    EXPECT_NEAR(top.red(), 0x8D, 12);
    EXPECT_NEAR(top.green(), 0xA0, 12);
    EXPECT_NEAR(top.blue(), 0xBA, 12);
}

TEST(Tema, HeaderPictureAndBackColour) {
    Ventana v;
    ASSERT_FALSE(imagenCabecera().isNull());
    ajustarImagenCabecera(v.cabecera, &v.w);
    EXPECT_FALSE(v.cabecera->pixmap().isNull());
    EXPECT_EQ(v.cabecera->geometry().topLeft(), QPoint(0, -8)); // 120 twips above the top edge
    EXPECT_EQ(v.cabecera->width(), v.w.width());

    aplicarColorFondo(&v.w);
    EXPECT_EQ(v.w.palette().color(QPalette::Window), QColor(0x76, 0x8F, 0xB0));
    EXPECT_TRUE(v.w.autoFillBackground());
}

} // namespace
