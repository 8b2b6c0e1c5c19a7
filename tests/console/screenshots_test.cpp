// Pictures of the login, the console and the maintenance window for a reviewer (written to the build's screenshots/ folder).
#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/session.h"
#include "core/traduccion.h"
#include "maintenance/FrmBase.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

// Qt's Spanish texts, installed once for every picture.
bool traducir() {
    static const bool hecho = cargarTraduccionesQt();
    return hecho;
}

} // namespace

TEST(Screenshots, LoginAndConsole) {
    EXPECT_TRUE(traducir());
    ServidorPreparado server;
    ScriptedDialogs dialogs;
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    {
        FrmIniciarSesion login;
        login.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"))->setText(kJefe.usuario);
        login.findChild<QLineEdit*>(QStringLiteral("TxtPassword"))->setText(kJefe.clave);
        login.show();
        const QPixmap p = login.grab();
        EXPECT_FALSE(p.isNull());
        EXPECT_TRUE(p.save(dir + QStringLiteral("/login.png")));
    }
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [&](QWidget*) { return server.iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    consola.show();
    consola.TmrStatus_Timer();
    EXPECT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }));
    const QPixmap p = consola.grab();
    EXPECT_TRUE(p.save(dir + QStringLiteral("/console.png")));
    FrmBase base(&consola);
    base.show();
    EXPECT_TRUE(base.grab().save(dir + QStringLiteral("/maintenance.png")));
    EXPECT_TRUE(dialogs.shown().empty());
}

// The program's own boxes with Qt's standard buttons: in Spanish, as the rest of the program.
TEST(Screenshots, YesNoQuestionInSpanish) {
    ASSERT_TRUE(traducir()) << "Qt's Spanish translations are missing (qt6-translations-l10n)";
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    QStringList botones;
    alAbrirModal([&](QWidget* m) {
        auto* box = qobject_cast<QMessageBox*>(m);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons()) {
            botones << b->text().remove(QLatin1Char('&'));
        }
        EXPECT_TRUE(box->grab().save(dir + QStringLiteral("/question.png")));
        box->button(QMessageBox::No)->click();
    });
    setDialogs(nullptr); // the real boxes
    const MsgResult r = dialogs().message(nullptr, MsgIcon::Warning,
                                          QStringLiteral("No se encontro la base de VELIRO7\r\nSe recomienda montar el "
                                                         "último respaldo\r\n            ¿ Desea hacerlo ahora ?"),
                                          MsgButtons::YesNo);
    prohibirDialogos();
    EXPECT_EQ(r, MsgResult::No);
    botones.sort();
    EXPECT_EQ(botones, (QStringList{QStringLiteral("No"), QStringLiteral("Sí")}));
}
