#include "core/cifrado.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

// Worked out by hand from the key bytes: key A 23 F6 2A 3D 21 3F 26 4B, key B the same but 33 last.
TEST(Scrambler, KnownVectors) {
    struct Case {
        QString plain;
        bool keyA;
        const char* hex;
    };
    const Case cases[] = {
        {QString(), true, ""},
        {QStringLiteral("abc"), true, "429449"},   // 61^23, 62^F6, 63^2A
        {QStringLiteral("a\u00F6"), true, "4200"}, // ö meets the key's own ö: leading zero
        {QStringLiteral("\u00F1"), true, "D2"},    // ñ = F1
        {QStringLiteral("\u00E1"), true, "C2"},    // á = E1
        {QStringLiteral("\u20AC"), true, "A3"},    // € is 80 in Windows-1252, not its code point
        {QStringLiteral("\u0100"), true, "1C"},    // outside Windows-1252: scrambled as "?"
        {QStringLiteral("?"), true, "1C"},
        {QStringLiteral("123456789"), true, "12C41909140911731A"},  // the ninth pairs with key character 1 again
        {QStringLiteral("123456789"), false, "12C419091409110B1A"}, // only the eighth differs
        {QString(16, QLatin1Char('A')), true, "62B76B7C607E670A62B76B7C607E670A"},
        {QString(16, QLatin1Char('A')), false, "62B76B7C607E677262B76B7C607E6772"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cifrarConClave(c.plain, c.keyA).toStdString(), c.hex) << c.plain.toStdString() << " key A " << c.keyA;
    }
}

TEST(Scrambler, DescrambleReadsWhatTheWindowsProgramsRead) {
    struct Case {
        QString scrambled;
        bool keyA;
        QString plain;
    };
    const Case cases[] = {
        {QStringLiteral("429449"), true, QStringLiteral("abc")},
        {QStringLiteral("62b76b7c"), true, QStringLiteral("AAAA")}, // lower-case digits read too
        {QStringLiteral("429"), true, QStringLiteral("a\u00FF")},   // odd last digit alone: 09^F6 = FF
        {QStringLiteral("4G"), true, QStringLiteral("'")},          // reads as far as the digits go: 04^23
        {QStringLiteral("G4"), true, QStringLiteral("#")},          // no digit: 0, leaving the key character
        {QStringLiteral("A3"), true, QStringLiteral("\u20AC")},
        {QStringLiteral("A2"), true, QString(QChar(0x81))}, // unassigned code keeps its C1 point
        {QStringLiteral("12C419091409110B1A"), false, QStringLiteral("123456789")},
        {QString(), false, QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescifrarCadena(c.scrambled, c.keyA), c.plain) << c.scrambled.toStdString();
    }
}

TEST(Scrambler, RoundTripsLongTextsAndWrongKeyDiffersEveryEighth) {
    const QString texts[] = {
        QStringLiteral("contraseña,111,110101"),
        QStringLiteral("Ángel áéíóú ÑÖÜ ö€ (prueba larga de más de ocho caracteres)"),
        QStringLiteral("O''Brien,101,111111"), QString(40000, QChar(0x00F1)), // beyond the old 16-bit position counter
    };
    for (const QString& t : texts) {
        for (bool keyA : {true, false}) {
            const QString hex = cifrarConClave(t, keyA);
            ASSERT_EQ(hex.size(), 2 * t.size());
            EXPECT_EQ(hex, hex.toUpper());
            EXPECT_EQ(DescifrarCadena(hex, keyA), t) << t.left(40).toStdString();
            const QString wrong = DescifrarCadena(hex, !keyA);
            for (qsizetype i = 0; i < t.size(); ++i) {
                if ((i + 1) % 8 == 0) {
                    EXPECT_NE(wrong.at(i), t.at(i)) << i;
                } else {
                    ASSERT_EQ(wrong.at(i), t.at(i)) << i;
                }
            }
        }
    }
}

TEST(Scrambler, KeyFollowsTheVersionDate) {
    struct Case {
        const char* stored;
        std::optional<bool> keyA;
    };
    const Case cases[] = {
        {"R1.00 - 2014/03/11", true},
        {"R1.00 - 2014/03/12", false},
        {"R0.90 - 2009/01/31", true},
        {"R1.01 - 2018/09/07", false},
        {"2014/03/11", true}, // no "-": the whole value is the date
        {"R1.00 - 2014/3/12", false},
        {"R1.00 - hoy", std::nullopt},
        {"R1.00 - 2014/02/30", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(claveParaVersion(QString::fromUtf8(c.stored)), c.keyA) << c.stored;
    }
}

class ScramblerDb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PgCluster::instance().freshDatabase(); }
    void SetUp() override {
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DELETE FROM config_veliro.configuracion;")));
    }
    void TearDown() override { reiniciarSesion(); }
    static void storeVersion(const QString& value) {
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("DELETE FROM config_veliro.configuracion; INSERT INTO config_veliro.configuracion "
                           "VALUES ('VER_V7TOOLS', '%1');")
                .arg(value)));
    }
};

TEST_F(ScramblerDb, StoredToolVersionChoosesTheKey) {
    const QString plain = QStringLiteral("clave,111,11111");
    struct Case {
        const char* stored;
        bool keyA;
    };
    for (const Case& c : {Case{"R1.00 - 2014/03/11", true}, Case{"R1.00 - 2014/03/12", false},
                          Case{"R1.01 - 2018/09/07", false}, Case{"R0.99 - 2013/06/01", true}}) {
        storeVersion(QString::fromUtf8(c.stored));
        bool ok = false;
        QString err;
        EXPECT_EQ(CifrarCadena(plain, &ok, &err), cifrarConClave(plain, c.keyA)) << c.stored;
        EXPECT_TRUE(ok) << err.toStdString();
    }
}

TEST_F(ScramblerDb, NoKeyChoiceNoScrambling) {
    bool ok = true;
    QString err;
    EXPECT_TRUE(CifrarCadena(QStringLiteral("x"), &ok, &err).isEmpty()); // no VER_V7TOOLS row
    EXPECT_FALSE(ok);
    EXPECT_FALSE(err.isEmpty());

    storeVersion(QStringLiteral("R1.00 - sin fecha"));
    ok = true;
    EXPECT_TRUE(CifrarCadena(QStringLiteral("x"), &ok, &err).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(err.contains(QStringLiteral("sin fecha"))) << err.toStdString();

    storeVersion(QStringLiteral("R1.01 - 2018/09/07"));
    conexionPrincipal().close();
    ok = true;
    EXPECT_TRUE(CifrarCadena(QStringLiteral("x"), &ok, &err).isEmpty());
    EXPECT_FALSE(ok);
}

} // namespace

namespace {

// What a scrambled value can hold: a character outside Windows-1252 would come back as "?".
TEST(Cifrado, CabeEnWindows1252) {
    struct Caso {
        QString texto;
        bool cabe;
        QString fuera;
    };
    const Caso casos[] = {
        {QStringLiteral("clave-ñandú€ö?"), true, QString()},
        {QStringLiteral("zażółć"), false, QStringLiteral("ż")},
        {QStringLiteral("Ωmega"), false, QStringLiteral("Ω")},
        {QStringLiteral("пароль"), false, QStringLiteral("п")},
        {QStringLiteral("x\U0001F600"), false, QStringLiteral("\U0001F600")},
        {QString(), true, QString()},
    };
    for (const Caso& c : casos) {
        QString fuera;
        EXPECT_EQ(v7::cabeEnWindows1252(c.texto, &fuera), c.cabe) << c.texto.toStdString();
        EXPECT_EQ(fuera, c.fuera) << c.texto.toStdString();
    }
}

} // namespace
