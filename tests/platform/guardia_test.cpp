#include "platform/construir_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "tests/support/ventanas.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

struct Ventana : QDialog {
    int clics = 0;
    int atajos = 0;
    Ventana() {
        setObjectName(QStringLiteral("Ventana"));
        auto* b = ui::boton(this, QStringLiteral("BtnUno"), QStringLiteral("&Uno"), 100, 100, 1500);
        QObject::connect(b, &QPushButton::clicked, [this] { ++clics; });
        ui::boton(this, QStringLiteral("BtnApagado"), QStringLiteral("Apagado"), 100, 600, 1500)->setEnabled(false);
        auto* p = ui::panel(this, QStringLiteral("Panel"), ui::twips(2000, 100, 3000, 2000));
        ui::caja(p, QStringLiteral("TxtDentro"), 100, 100, 2000);
        ui::boton(p, QStringLiteral("BtnDentroApagado"), QStringLiteral("x"), 100, 600, 1000)->setEnabled(false);
        auto* a = new QAction(this);
        a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F12));
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        QObject::connect(a, &QAction::triggered, [this] { ++atajos; });
        resize(400, 300);
    }
};

} // namespace

TEST(GuardiaVentana, LocksEverythingAndGivesEachControlItsStateBack) {
    Ventana w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    hijo<QLineEdit>(w, "TxtDentro")->setFocus();
    {
        GuardiaVentana g(&w);
        EXPECT_TRUE(GuardiaVentana::bloqueada(&w));
        EXPECT_EQ(events::operacionesLargas(), 1);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        for (QWidget* c : w.findChildren<QWidget*>()) {
            EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
        }
        // A click, Escape, the close box and the window's shortcut change nothing.
        click(w, "BtnUno");
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier);
        EXPECT_FALSE(w.close());
        QApplication::processEvents();
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.clics, 0);
        EXPECT_EQ(w.atajos, 0);
        {
            GuardiaVentana anidada(&w, {false});
            EXPECT_EQ(events::operacionesLargas(), 1);
        }
        EXPECT_FALSE(hijo(w, "BtnUno")->isEnabled());
    }
    EXPECT_FALSE(GuardiaVentana::bloqueada(&w));
    EXPECT_EQ(events::operacionesLargas(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(hijo(w, "BtnUno")->isEnabled());
    EXPECT_TRUE(hijo(w, "TxtDentro")->isEnabled());
    EXPECT_FALSE(hijo(w, "BtnApagado")->isEnabled());
    EXPECT_FALSE(hijo(w, "BtnDentroApagado")->isEnabled());
    EXPECT_TRUE(hijo(w, "TxtDentro")->hasFocus());
    click(w, "BtnUno");
    EXPECT_EQ(w.clics, 1);
    QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(w.atajos, 1);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST(GuardiaVentana, ReleasedEarlyTheWindowIsUsableBeforeTheGuardEnds) {
    Ventana w;
    w.show();
    GuardiaVentana g(&w);
    g.liberar();
    g.liberar();
    EXPECT_TRUE(hijo(w, "BtnUno")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(events::operacionesLargas(), 0);
    EXPECT_TRUE(w.close());
}
