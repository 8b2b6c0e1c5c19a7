// The login against an ODBC configuration that lacks the driver name tried first. The test
// cluster reads V7_TEST_SIN_ALIAS when it starts, so this has a program of its own.
#include "core/FrmIniciarSesion.h"
#include "core/login.h"
#include "core/session.h"
#include "platform/widgets_ui.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

const bool kSinAlias = [] {
    qputenv("V7_TEST_SIN_ALIAS", "1");
    return true;
}();

TEST(LoginDriver, MissingAliasIsRetriedWithTheOtherNameAndABareClave) {
    ASSERT_TRUE(kSinAlias);
    ServidorPreparado server;
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("ALTER ROLE adm PASSWORD 'clave sin llaves';")));
    ScriptedDialogs dialogs;
    FrmIniciarSesion w;
    w.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"))->setText(kAdmin.usuario);
    w.findChild<QLineEdit*>(QStringLiteral("TxtPassword"))->setText(QStringLiteral("clave sin llaves"));
    w.findChild<QLineEdit*>(QStringLiteral("TxtIpServidor"))->setText(QStringLiteral("127.0.0.1"));
    w.findChild<QLineEdit*>(QStringLiteral("TxtPuerto"))->setText(QString::number(PgCluster::instance().port()));
    QTest::mouseClick(w.findChild<MyButton*>(QStringLiteral("BtnAceptar")), Qt::LeftButton);

    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(w.tag(), QStringLiteral("OK"));
    EXPECT_EQ(sesion().CadenaConexion,
              QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=%1;DATABASE=veliro7;UID=adm;"
                             "PWD=clave sin llaves")
                  .arg(PgCluster::instance().port()));
}

} // namespace
