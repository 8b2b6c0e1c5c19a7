#include "core/cifrado.h"
#include "core/permisos.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/versiones.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

TEST(VersionText, FormatsOrExplains) {
    struct Case {
        const char* input;
        const char* result;
        const char* message;
    };
    const Case cases[] = {
        {"R1.01 [20180907]", "R1.01 - 2018/09/07", ""},
        {"  R1.00   [20171009]  ", "R1.00 - 2017/10/09", ""},
        {"R1.01 [2018ABCD]", "R1.01 - 2018/AB/CD", ""}, // the date characters are not checked
        {"R1.01 20180907", "", "parametros de entrada de version incorrectos"},
        {"", "", "parametros de entrada de version incorrectos"},
        {"R1.01 [2018090]", "", "error al tranformar cadena de fecha de version"},
        {"R1.01 [201809071]", "", "error al tranformar cadena de fecha de version"},
        {"R1.01 [", "", "formato de entrada de version incompatible [---]"},
        {"R1.01 [20180907] beta", "", "parametros de entrada de version incorrectos"},
        {"R1.01 [20180907", "", "parametros de entrada de version incorrectos"},
        {"R1.01 ]20180907[", "", "formato de entrada de version incompatible [---]"},
        {"R1.01 ]x[20180907]", "", "parametros de entrada de version incorrectos"},
    };
    for (const auto& c : cases) {
        QString version = QString::fromUtf8(c.input);
        QString message = QStringLiteral("stale");
        EXPECT_EQ(FormatearVersion(version, message).toStdString(), c.result) << c.input;
        EXPECT_EQ(message.toStdString(), c.message) << c.input;
        EXPECT_EQ(version, QString::fromUtf8(c.input).trimmed()); // trimmed in the caller's variable
    }
}

class Gates : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PgCluster::instance().freshDatabase(); }
    void SetUp() override {
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
        ASSERT_TRUE(psql("DELETE FROM config_veliro.configuracion; DELETE FROM catalogos.analistas;"
                         "DROP TRIGGER IF EXISTS falla ON catalogos.analistas;"));
        // Staff rows as a database from before the cut-over holds them: key A form.
        for (int i = 0; i < int(std::size(kPlain)); ++i) {
            ASSERT_TRUE(psql(QStringLiteral("INSERT INTO catalogos.analistas (idanalista, usuario, nombre, clave) "
                                            "VALUES (%1, 'u%1', 'n%1', '%2');")
                                 .arg(i + 1)
                                 .arg(cifrarConClave(kPlain[i], true))));
        }
    }
    void TearDown() override { reiniciarSesion(); }

    static bool psql(const QString& sql) { return PgCluster::instance().psql(sql); }
    static bool psql(const char* sql) { return psql(QString::fromUtf8(sql)); }
    static void store(const QString& key, const QString& value) {
        ASSERT_TRUE(
            psql(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('%1', '%2');").arg(key, value)));
    }
    static QString stored(const QString& key) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = '%1'").arg(key));
    }
    static QStringList claves() {
        QString out;
        EXPECT_TRUE(PgCluster::instance().psql(
            QStringLiteral("SELECT clave FROM catalogos.analistas ORDER BY idanalista"), &out));
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    static QStringList clavesIn(bool keyA) {
        QStringList out;
        for (const QString& p : kPlain) {
            out << cifrarConClave(p, keyA);
        }
        return out;
    }

    static inline const QString kPlain[] = {
        QStringLiteral("secreto1,111,111111"),
        QStringLiteral("d''Ñoño,101,110000"),
        QStringLiteral("contraseña,011,000111"),
    };
};

TEST_F(Gates, RaiseOfTheToolAcrossTheCutOverRescramblesEveryStaffRecord) {
    store(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.00 - 2013/11/04"));
    QString message = QStringLiteral("stale"), found;
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    EXPECT_EQ(found, QStringLiteral("R1.00 - 2013/11/04"));
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.01 - 2018/09/07"));
    const QStringList now = claves();
    EXPECT_EQ(now, clavesIn(false));
    for (int i = 0; i < now.size(); ++i) {
        EXPECT_EQ(DescifrarCadena(now[i], false), kPlain[i]); // what the staff window reads
    }
    // Equal dates from now on: nothing is rewritten a second time.
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_EQ(claves(), clavesIn(false));
}

// An administrator reaches no superuser's staff row: its login leaves the cut-over to a superuser's, so no
// row is left in the old key under a raised version.
TEST_F(Gates, TheCutOverWaitsForALoginThatReachesEveryStaffRecord) {
    PgCluster& pg = PgCluster::instance();
    ASSERT_TRUE(
        psql(QStringLiteral(
                 "DO $$BEGIN IF to_regrole('v7_super') IS NULL THEN CREATE ROLE v7_super SUPERUSER; END IF; "
                 "IF to_regrole('v7_admin') IS NULL THEN CREATE ROLE v7_admin; END IF; "
                 "IF to_regrole('v7_usuario1') IS NULL THEN CREATE ROLE v7_usuario1; END IF; "
                 "IF to_regrole('v7_usuario2') IS NULL THEN CREATE ROLE v7_usuario2; END IF; "
                 "IF to_regrole('corte_adm') IS NULL THEN CREATE ROLE corte_adm LOGIN PASSWORD 'corte'; END IF; "
                 "END$$; GRANT v7_admin TO corte_adm; GRANT USAGE ON SCHEMA config_veliro, catalogos TO v7_admin; "
                 "GRANT SELECT, UPDATE ON config_veliro.configuracion TO v7_admin; "
                 "INSERT INTO catalogos.analistas (idanalista, usuario, nombre, clave) VALUES (4, '%1', 'raiz', "
                 "'%2');")
                 .arg(pg.superuser(), cifrarConClave(QStringLiteral("raiz,111,111111"), true))));
    ASSERT_TRUE(ProtegerAnalistas().isEmpty());
    store(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.00 - 2013/11/04"));
    const QStringList antes = claves();
    ASSERT_EQ(antes.size(), 4);

    reiniciarSesion();
    sesion().CadenaConexion = pg.connectionString(QStringLiteral("corte_adm"), QStringLiteral("corte"));
    QString message, found;
    ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, message)) << message.toStdString();
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.00 - 2013/11/04"));
    EXPECT_EQ(claves(), antes);

    ASSERT_TRUE(v7::test::conectarSesion().isEmpty());
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.01 - 2018/09/07"));
    EXPECT_EQ(DescifrarCadena(claves().last(), false), QStringLiteral("raiz,111,111111"));
    EXPECT_EQ(claves().mid(0, 3), clavesIn(false));
}

TEST_F(Gates, OtherRaisesLeaveTheStaffRecords) {
    struct Case {
        const char* key;
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"VER_V7TOOLS", "R1.00 - 2017/10/09", "R1.01 - 2018/09/07"}, // both after the cut-over
        {"VER_V7TOOLS", "R0.90 - 2012/01/01", "R0.95 - 2014/03/11"}, // up to the cut-over day itself
        {"VER_PRESTAMO", "1.0 - 2011/01/01", "1.1 - 2012/01/01"},
        {"VER_CONSULTA", "1.0 - 2013/01/01", "1.1 - 2015/09/21"}, // crosses the date, but is not the tool
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(psql("DELETE FROM config_veliro.configuracion;"));
        store(QString::fromUtf8(c.key), QString::fromUtf8(c.stored));
        QString message, found;
        EXPECT_TRUE(ValidarVersionModulo(QString::fromUtf8(c.key), QString::fromUtf8(c.expected), message, found))
            << c.key << " " << message.toStdString();
        EXPECT_EQ(stored(QString::fromUtf8(c.key)).toStdString(), c.expected);
        EXPECT_EQ(found.toStdString(), c.stored);
        EXPECT_EQ(claves(), clavesIn(true)) << c.key << " " << c.stored;
    }
}

TEST_F(Gates, RefusalsWriteNothing) {
    struct Case {
        const char* key;
        const char* stored; // nullptr: no row
        const char* expected;
        const char* message;
    };
    const QString obsolete =
        QStringLiteral("La versión del Módulo actual es obsoleta. Es necesario actualizar su módulo de VELIRO7");
    const Case cases[] = {
        {"VER_V7TOOLS", "R1.02 - 2019/01/01", "R1.01 - 2018/09/07", nullptr}, // newer database
        {"VER_V7TOOLS", "R1.00 - 2017/10/9", "R1.01 - 2017/10/09", nullptr},  // same day, written differently
        {"VER_V7TOOLS", nullptr, "R1.01 - 2018/09/07",
         "No existe la información de versión del Modulo. Actualizar Módulo"},
        {"  ", "R1.00 - 2013/01/01", "R1.01 - 2018/09/07",
         "Alguno de los parámetros para la validación no es correcto"},
        {"VER_V7TOOLS", "R1.00 - 2013/01/01", "R1.01 2018/09/07",
         "Alguno de los parámetros para la validación no es correcto"},
        {"VER_V7TOOLS", "R1.00 - 2013/01/01", " ", "Alguno de los parámetros para la validación no es correcto"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(psql("DELETE FROM config_veliro.configuracion;"));
        if (c.stored) {
            store(QStringLiteral("VER_V7TOOLS"), QString::fromUtf8(c.stored));
        }
        QString message, found;
        EXPECT_FALSE(ValidarVersionModulo(QString::fromUtf8(c.key), QString::fromUtf8(c.expected), message, found));
        EXPECT_EQ(message, c.message ? QString::fromUtf8(c.message) : obsolete) << c.expected;
        EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")).toStdString(), c.stored ? c.stored : "");
        EXPECT_EQ(claves(), clavesIn(true));
    }
}

TEST_F(Gates, SameDateDifferentLabelPassesWithoutWriting) {
    store(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.00 - 2018/09/07"));
    QString message, found;
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.00 - 2018/09/07"));
    EXPECT_EQ(found, QStringLiteral("R1.00 - 2018/09/07"));
}

TEST_F(Gates, StoredVersionWithoutADateIsAnUnexpectedError) {
    store(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.00 - ayer"));
    QString message, found;
    EXPECT_FALSE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_TRUE(
        message.startsWith(QStringLiteral("Ocurrió un error imprevisto en la detección de la versión del módulo.\r\n")))
        << message.toStdString();
    EXPECT_EQ(found, QStringLiteral("R1.00 - ayer"));
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.00 - ayer"));
}

// A failure part-way through the rewrite must not leave records in both forms behind a raised
// version that will never rewrite them again.
TEST_F(Gates, FailedRescrambleLeavesVersionAndRecordsAsTheyWere) {
    store(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.00 - 2013/11/04"));
    ASSERT_TRUE(psql("CREATE OR REPLACE FUNCTION catalogos.falla() RETURNS trigger LANGUAGE plpgsql AS "
                     "$$ BEGIN IF NEW.idanalista = 3 THEN RAISE EXCEPTION 'registro bloqueado'; END IF; "
                     "RETURN NEW; END $$;"
                     "CREATE TRIGGER falla BEFORE UPDATE ON catalogos.analistas "
                     "FOR EACH ROW EXECUTE FUNCTION catalogos.falla();"));
    QString message, found;
    EXPECT_FALSE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_TRUE(message.startsWith(QStringLiteral("Ocurrió un error imprevisto")));
    EXPECT_TRUE(message.contains(QStringLiteral("registro bloqueado"))) << message.toStdString();
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.00 - 2013/11/04"));
    EXPECT_EQ(claves(), clavesIn(true));

    // A NULL clave stops it before anything is written.
    ASSERT_TRUE(psql("DROP TRIGGER falla ON catalogos.analistas; UPDATE catalogos.analistas SET clave = NULL "
                     "WHERE idanalista = 2;"));
    EXPECT_FALSE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_TRUE(message.contains(QStringLiteral("u2"))) << message.toStdString();
    EXPECT_EQ(stored(QStringLiteral("VER_V7TOOLS")), QStringLiteral("R1.00 - 2013/11/04"));
    EXPECT_EQ(claves().first(), clavesIn(true).first());

    // Once the cause is gone the next login does the whole rewrite.
    ASSERT_TRUE(psql(QStringLiteral("UPDATE catalogos.analistas SET clave = '%1' WHERE idanalista = 2;")
                         .arg(cifrarConClave(kPlain[1], true))));
    EXPECT_TRUE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_EQ(claves(), clavesIn(false));
    // The connection is usable afterwards (no transaction left open).
    int rows = 0;
    QString err;
    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("SELECT 1;"), rows, err)) << err.toStdString();
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE state = "
                                                          "'idle in transaction' AND datname = 'veliro7'")),
              QStringLiteral("0"));
}

TEST_F(Gates, TableVersion) {
    QString message, found;
    EXPECT_TRUE(ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, message, found));
    EXPECT_TRUE(message.isEmpty());
    EXPECT_EQ(found, QStringLiteral("2"));

    ASSERT_TRUE(
        psql("UPDATE config_veliro.tablaver SET version = 1 WHERE esquema = 'catalogos' AND tabla = 'analistas';"));
    found.clear();
    EXPECT_FALSE(ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, message, found));
    EXPECT_EQ(message, QStringLiteral("La versión de la tabla es diferente a la esperada. Actualizar"));
    EXPECT_EQ(found, QStringLiteral("1"));

    found.clear();
    EXPECT_FALSE(ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("usuarios"), 1, message, found));
    EXPECT_EQ(message, QStringLiteral("No existe la informacion de versión de la tabla. Actualizar tablas"));
    EXPECT_TRUE(found.isEmpty());
    EXPECT_FALSE(ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("no_existe"), 1, message, found));
    EXPECT_EQ(message,
              QStringLiteral("No existe la tabla de Validaciones de Versiones, actualización ultra necesaria"));
    for (auto [schema, table, version] :
         {std::tuple{"", "analistas", 2}, std::tuple{"catalogos", " ", 2}, std::tuple{"catalogos", "analistas", 0}}) {
        EXPECT_FALSE(ValidarVersionTabla(QString::fromUtf8(schema), QString::fromUtf8(table), version, message, found));
        EXPECT_EQ(message, QStringLiteral("Alguno de los parámetros para la validación no es correcto"));
    }
    ASSERT_TRUE(
        psql("UPDATE config_veliro.tablaver SET version = 2 WHERE esquema = 'catalogos' AND tabla = 'analistas';"));
}

TEST_F(Gates, MissingConfigurationTable) {
    ASSERT_TRUE(psql("ALTER TABLE config_veliro.configuracion RENAME TO configuracion_x;"));
    QString message, found;
    EXPECT_FALSE(
        ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"), message, found));
    EXPECT_EQ(message, QStringLiteral("No existe la tabla de Validaciones de Versión 'configuracion', actualización "
                                      "ultra necesaria"));
    ASSERT_TRUE(psql("ALTER TABLE config_veliro.configuracion_x RENAME TO configuracion;"));
}

// A version row that cannot be read is told with the gate's sentence, a Spanish reason when one is
// known and the server's words, never the statement.
TEST_F(Gates, AFailedReadIsToldInSpanishWithoutTheStatement) {
    struct Caso {
        const char* romper;
        const char* reparar;
        bool modulo; // the module gate, else the table gate
        QString empieza;
        QString detalle;
    };
    const Caso casos[] = {
        {"ALTER TABLE config_veliro.tablaver RENAME TO tablaver_x;",
         "ALTER TABLE config_veliro.tablaver_x RENAME TO tablaver;", false,
         QStringLiteral("Error al recuperar información de versión de tablas...\r\nFalta "),
         QStringLiteral("\r\nDetalle del servidor: relation \"config_veliro.tablaver\" does not exist")},
        {"INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07');"
         "ALTER TABLE config_veliro.configuracion RENAME TO configuracion_t; CREATE VIEW config_veliro.configuracion "
         "AS "
         "SELECT descripcion, (length(descripcion) / 0)::text AS valor FROM config_veliro.configuracion_t;",
         "DROP VIEW config_veliro.configuracion; ALTER TABLE config_veliro.configuracion_t RENAME TO configuracion;",
         true, QStringLiteral("Error al recuperar información de versión del Módulo...\r\n"),
         QStringLiteral("\r\nDetalle del servidor: division by zero")},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.romper);
        ASSERT_TRUE(psql(c.romper));
        QString message, found;
        if (c.modulo) {
            EXPECT_FALSE(ValidarVersionModulo(QStringLiteral("VER_V7TOOLS"), QStringLiteral("R1.01 - 2018/09/07"),
                                              message, found));
        } else {
            EXPECT_FALSE(
                ValidarVersionTabla(QStringLiteral("catalogos"), QStringLiteral("analistas"), 2, message, found));
        }
        EXPECT_TRUE(message.startsWith(c.empieza)) << message.toStdString();
        EXPECT_TRUE(message.contains(c.detalle)) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral("SELECT")) || message.contains(QStringLiteral("[cadSQL]")))
            << message.toStdString();
        ASSERT_TRUE(psql(c.reparar));
    }
}

} // namespace
