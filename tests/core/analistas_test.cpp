#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

TEST(TextoPermiso, GroupCodesMapBothWays) {
    const struct {
        const char* rol;
        const char* codigo;
    } cases[] = {{"v7_super", "111"}, {"v7_admin", "101"}, {"v7_usuario1", "011"}, {"v7_usuario2", "010"}};
    for (const auto& c : cases) {
        EXPECT_EQ(codigoGrupo(QString::fromUtf8(c.rol)), QString::fromUtf8(c.codigo)) << c.rol;
        EXPECT_EQ(rolDeCodigoGrupo(QString::fromUtf8(c.codigo)), QString::fromUtf8(c.rol)) << c.codigo;
    }
    EXPECT_TRUE(codigoGrupo(QStringLiteral("postgres")).isEmpty());
    EXPECT_TRUE(rolDeCodigoGrupo(QStringLiteral("110")).isEmpty());
    EXPECT_TRUE(rolDeCodigoGrupo(QString()).isEmpty());
}

TEST(TextoPermiso, ComposesAndReadsBack) {
    const struct {
        const char* contrasena;
        const char* codigo;
        const char* modulos;
        const char* plano;
        const char* codigoLeido; // what a reader finds as the group code
    } cases[] = {
        {"secreto", "111", "11111", "secreto,111,11111", "111"},
        {"o'k", "101", "101000", "o''k,101,101000", "101"},    // quotes doubled in the stored text
        {"a,b,c", "011", "111111", "a,b,c,011,111111", "011"}, // commas in the password
        {"", "010", "000000", ",010,000000", "010"},
        {"pw", "010", "", "pw,010,", "010"},
        // No group part: the flags follow the first comma, and a reader takes their first three
        // characters for the code, as every reader always did.
        {"pw", "", "110011", "pw,110011", "110"},
    };
    for (const auto& c : cases) {
        const QString plano = componerTextoPermiso(QString::fromUtf8(c.contrasena), QString::fromUtf8(c.codigo),
                                                   QString::fromUtf8(c.modulos));
        EXPECT_EQ(plano, QString::fromUtf8(c.plano));
        const TextoPermiso t = leerTextoPermiso(plano);
        EXPECT_EQ(t.contrasena, QString::fromUtf8(c.contrasena)) << c.plano;
        EXPECT_EQ(t.codigo, QString::fromUtf8(c.codigoLeido)) << c.plano;
        EXPECT_EQ(t.modulos, QString::fromUtf8(c.modulos)) << c.plano;
    }
    // Texts not written by this routine: no comma at all, or nothing.
    EXPECT_EQ(leerTextoPermiso(QStringLiteral("110011")).modulos, QStringLiteral("110011"));
    EXPECT_TRUE(leerTextoPermiso(QStringLiteral("110011")).codigo.isEmpty());
    const TextoPermiso vacio = leerTextoPermiso(QString());
    EXPECT_TRUE(vacio.contrasena.isEmpty() && vacio.codigo.isEmpty() && vacio.modulos.isEmpty());
}

class ClaveAnalista : public ::testing::Test {
protected:
    void SetUp() override {
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
    }
    void TearDown() override { reiniciarSesion(); }

    static void versionHerramienta(const QString& value) {
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'VER_V7TOOLS';") +
            (value.isEmpty() ? QString()
                             : QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', '%1');")
                                   .arg(value))));
    }
};

TEST_F(ClaveAnalista, ScrambledWithTheRecordedKeyAndReadBack) {
    const QString contrasena = QStringLiteral("Año'2018,x"); // a non-ASCII letter, a quote and a comma
    const QString plano = componerTextoPermiso(contrasena, QStringLiteral("101"), QStringLiteral("100101"));
    for (bool keyA : {false, true}) {
        versionHerramienta(keyA ? QStringLiteral("R1.00 - 2013/05/02") : QStringLiteral("R1.01 - 2018/09/07"));
        bool ok = false;
        const QString clave = componerClave(contrasena, QStringLiteral("101"), QStringLiteral("100101"), &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(clave.size(), 2 * plano.size());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(clave).hasMatch()) << clave.toStdString();
        EXPECT_EQ(DescifrarCadena(clave, keyA), plano);

        const TextoPermiso t = leerClave(clave, keyA);
        EXPECT_EQ(t.contrasena, contrasena);
        EXPECT_EQ(t.codigo, QStringLiteral("101"));
        EXPECT_EQ(t.modulos, QStringLiteral("100101"));
        // Read with the other key, every eighth character comes out wrong.
        EXPECT_NE(DescifrarCadena(clave, !keyA), plano);
    }
}

TEST_F(ClaveAnalista, NoRecordedVersionScramblesNothing) {
    versionHerramienta(QString());
    bool ok = true;
    QString why;
    EXPECT_TRUE(
        componerClave(QStringLiteral("pw"), QStringLiteral("111"), QStringLiteral("11111"), &ok, &why).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(why.isEmpty());
}

} // namespace
