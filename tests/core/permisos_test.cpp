#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/permisos.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

const QString kOk = QStringLiteral("OK");

class Permisos : public ::testing::Test {
protected:
    void SetUp() override {
        auto& c = PgCluster::instance();
        c.freshDatabase();
        // Group roles are cluster-wide: start every case from the four groups without any right.
        ASSERT_TRUE(c.psql(
            QStringLiteral("DROP ROLE IF EXISTS v7_super, v7_admin, v7_usuario1, v7_usuario2, v7_limitado;"
                           "CREATE ROLE v7_super WITH SUPERUSER; CREATE ROLE v7_admin; CREATE ROLE v7_usuario1;"
                           "CREATE ROLE v7_usuario2;"
                           "INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07');")));
        reiniciarSesion();
        conectar(c.connectionString(), c.superuser());
    }
    void TearDown() override { reiniciarSesion(); }

    static void conectar(const QString& cadena, const QString& usuario) {
        sesion().CadenaConexion = cadena;
        sesion().UsuarioBD = usuario;
        QString err;
        ASSERT_TRUE(ConexionServer(cadena, err)) << err.toStdString();
    }

    static bool puedeUsar(const QString& rol, const QString& schema) {
        return PgCluster::instance().scalar(
                   QStringLiteral("SELECT has_schema_privilege('%1', '%2', 'usage')").arg(rol, schema)) ==
               QStringLiteral("t");
    }
    static QString acl(const QString& schema) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT coalesce(nspacl::text, '') FROM pg_namespace WHERE nspname = '%1'").arg(schema));
    }
    static int filasAnalistas() {
        return PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas")).toInt();
    }
};

TEST_F(Permisos, GrantsEveryGroupAndRegistersTheAdministratorOncePerSchema) {
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pa'ss"), QStringLiteral("admin1")),
              kOk);
    for (const QString& rol : kGruposStaff) {
        EXPECT_TRUE(puedeUsar(rol, QStringLiteral("catalogos"))) << rol.toStdString();
    }
    EXPECT_TRUE(acl(QStringLiteral("catalogos")).contains(QStringLiteral("v7_super=U/")))
        << acl(QStringLiteral("catalogos")).toStdString();

    QString out;
    ASSERT_TRUE(
        PgCluster::instance().psql(QStringLiteral("SELECT usuario, nombre, clave FROM catalogos.analistas"), &out));
    const QStringList row = out.trimmed().split(QLatin1Char('|'));
    ASSERT_EQ(row.size(), 3) << out.toStdString();
    EXPECT_EQ(row[0], QStringLiteral("admin1"));
    EXPECT_EQ(row[1], QStringLiteral("admin1"));
    EXPECT_EQ(DescifrarCadena(row[2], false), QStringLiteral("pa''ss,111,11111"));

    // Once v7_admin may use a schema nothing more happens there; a second schema that it lacks
    // registers the administrator again (the table does not refuse the copy).
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pa'ss"), QStringLiteral("admin1")),
              kOk);
    EXPECT_EQ(filasAnalistas(), 1);
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("prestamo"), QStringLiteral("pa'ss"), QStringLiteral("admin1")),
              kOk);
    EXPECT_EQ(filasAnalistas(), 2);
    // Without a password the grants are made but no row is written.
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("config_veliro"), QString(), QString()), kOk);
    EXPECT_TRUE(puedeUsar(QStringLiteral("v7_usuario2"), QStringLiteral("config_veliro")));
    EXPECT_EQ(filasAnalistas(), 2);
}

TEST_F(Permisos, MissingOrEmptySchemaIsLeftAlone) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("CREATE SCHEMA vacio;")));
    for (const char* schema : {"no_existe", "vacio"}) {
        EXPECT_EQ(AsignarPermisosEsquema(QString::fromUtf8(schema), QStringLiteral("pw"), QStringLiteral("admin1")),
                  kOk)
            << schema;
    }
    EXPECT_FALSE(puedeUsar(QStringLiteral("v7_admin"), QStringLiteral("vacio")));
    EXPECT_TRUE(acl(QStringLiteral("vacio")).isEmpty());
    EXPECT_EQ(filasAnalistas(), 0);
}

TEST_F(Permisos, AdminAlreadyGrantedOnlyTheUserGroupsAreGranted) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("GRANT USAGE ON SCHEMA prestamo TO v7_admin;")));
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("prestamo"), QStringLiteral("pw"), QStringLiteral("admin1")), kOk);
    EXPECT_EQ(filasAnalistas(), 0);
    EXPECT_TRUE(puedeUsar(QStringLiteral("v7_usuario1"), QStringLiteral("prestamo")));
    EXPECT_TRUE(puedeUsar(QStringLiteral("v7_usuario2"), QStringLiteral("prestamo")));
    EXPECT_FALSE(acl(QStringLiteral("prestamo")).contains(QStringLiteral("v7_super=")))
        << acl(QStringLiteral("prestamo")).toStdString();
}

TEST_F(Permisos, EveryFailedStepAddsOneLineInStepOrder) {
    // A login that may read the configuration and sees the staff table in the catalogue, but has
    // no right on schema catalogos itself: the insert and all four grants fail.
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE ROLE v7_limitado LOGIN PASSWORD 'lim-pw';"
                                      "GRANT USAGE ON SCHEMA config_veliro TO v7_limitado;"
                                      "GRANT SELECT ON config_veliro.configuracion TO v7_limitado;"
                                      "GRANT SELECT ON catalogos.analistas TO v7_limitado;")));
    conectar(c.connectionString(QStringLiteral("v7_limitado"), QStringLiteral("lim-pw")),
             QStringLiteral("v7_limitado"));
    const QString g = QStringLiteral("No se asignaron los permisos \"USAGE\" al esquema catalogos para el grupo ");
    const QString crlf = QStringLiteral("\r\n");
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pw"), QStringLiteral("v7_limitado")),
              QStringLiteral("No se asigno el usuario v7_limitado al grupo de usuarios") + crlf + g +
                  QStringLiteral("v7_super") + crlf + g + QStringLiteral("v7_admin") + crlf + g +
                  QStringLiteral("v7_usuario1") + crlf + g + QStringLiteral("v7_usuario2") + crlf);
    EXPECT_EQ(filasAnalistas(), 0);

    QString message;
    EXPECT_FALSE(EjecutarSQL(QStringLiteral("GRANT USAGE ON SCHEMA catalogos TO v7_admin"), &message));
    EXPECT_TRUE(message.contains(QStringLiteral("catalogos"))) << message.toStdString();
    EXPECT_TRUE(EjecutarSQL(QStringLiteral("SET search_path TO public")));
}

TEST_F(Permisos, UnexpectedFailureReplacesTheMessages) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP ROLE v7_usuario2;")));
    const QString r =
        AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pw"), QStringLiteral("o'brien"));
    EXPECT_TRUE(r.startsWith(QStringLiteral("Ocurrio el error No. "))) << r.toStdString();
    EXPECT_TRUE(r.contains(QStringLiteral("\r\nDescripcion: "))) << r.toStdString();
    EXPECT_TRUE(r.contains(QStringLiteral("v7_usuario2"))) << r.toStdString();
    EXPECT_EQ(filasAnalistas(), 0);

    // With the group back, a user name holding a quote is stored as typed.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("CREATE ROLE v7_usuario2;")));
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pw"), QStringLiteral("o'brien")),
              kOk);
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT usuario FROM catalogos.analistas")),
              QStringLiteral("o'brien"));
}

} // namespace
