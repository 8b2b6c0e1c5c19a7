// Pictures of the login, the console and the maintenance window for a reviewer (written to the build's screenshots/ folder).
#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "maintenance/FrmBase.h"
#include "core/session.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"

#include <QDir>
#include <QLineEdit>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

TEST(Screenshots, LoginAndConsole) {
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
    const QPixmap p = consola.grab();
    EXPECT_TRUE(p.save(dir + QStringLiteral("/console.png")));
    FrmBase base(&consola);
    base.show();
    EXPECT_TRUE(base.grab().save(dir + QStringLiteral("/maintenance.png")));
    EXPECT_TRUE(dialogs.shown().empty());
}
