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

    // The row holds the superuser's password: the staff rows are private from then on.
    EXPECT_EQ(PgCluster::instance().scalar(
                  QStringLiteral("SELECT relrowsecurity FROM pg_class WHERE oid = 'catalogos.analistas'::regclass")),
              QStringLiteral("t"));

    // Once v7_admin may use a schema nothing more happens there; a second schema that it lacks (reportes,
    // made later) grants it, but finds the administrator's row there already.
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("catalogos"), QStringLiteral("pa'ss"), QStringLiteral("admin1")),
              kOk);
    EXPECT_EQ(filasAnalistas(), 1);
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("prestamo"), QStringLiteral("pa'ss"), QStringLiteral("admin1")),
              kOk);
    EXPECT_TRUE(puedeUsar(QStringLiteral("v7_admin"), QStringLiteral("prestamo")));
    EXPECT_EQ(filasAnalistas(), 1);
    // Without a password the grants are made but no row is written.
    EXPECT_EQ(AsignarPermisosEsquema(QStringLiteral("config_veliro"), QString(), QString()), kOk);
    EXPECT_TRUE(puedeUsar(QStringLiteral("v7_usuario2"), QStringLiteral("config_veliro")));
    EXPECT_EQ(filasAnalistas(), 1);
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

// Logins of each kind of staff, with the rights a set-up gives their groups on every table of the schema.
class FilasPrivadas : public Permisos {
protected:
    void SetUp() override {
        Permisos::SetUp();
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
            "DROP ROLE IF EXISTS ana_n1, beto_n2, caro_adm, dora_sup;"
            "CREATE ROLE ana_n1 LOGIN PASSWORD 'pw-n1' IN ROLE v7_usuario1;"
            "CREATE ROLE dora_sup LOGIN NOSUPERUSER PASSWORD 'pw-sup' IN ROLE v7_super;"
            "CREATE ROLE beto_n2 LOGIN PASSWORD 'pw-n2' IN ROLE v7_usuario2;"
            "CREATE ROLE caro_adm LOGIN CREATEROLE PASSWORD 'pw-adm' IN ROLE v7_admin;"
            "GRANT USAGE ON SCHEMA catalogos, config_veliro TO v7_admin, v7_usuario1, v7_usuario2;"
            "GRANT SELECT ON config_veliro.configuracion TO v7_admin;"
            "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA catalogos TO v7_admin, v7_usuario1, "
            "v7_usuario2;"
            "GRANT SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA catalogos TO v7_admin, v7_usuario1, v7_usuario2;"
            "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('postgres', 'postgres', 'CLAVE-SUPER'), "
            "('ana_n1', 'Ana', 'CLAVE-ANA'), ('beto_n2', 'Beto', 'CLAVE-BETO'), ('caro_adm', 'Caro', 'CLAVE-CARO'), "
            "('dora_sup', 'Dora', 'CLAVE-DORA');")));
    }
    void TearDown() override {
        Permisos::TearDown();
        (void)PgCluster::instance().psql(QStringLiteral("DROP ROLE IF EXISTS ana_n1, beto_n2, caro_adm, dora_sup;"));
    }

    // The table's rules as the server keeps them.
    static QString reglas() {
        return PgCluster::instance().scalar(QStringLiteral(
            "SELECT concat_ws(' | ', c.relrowsecurity, (SELECT string_agg(a::text, ',' ORDER BY a::text) FROM "
            "unnest(c.relacl) a), (SELECT string_agg(p.polname || ':' || "
            "p.polcmd::text || ':' || p.polroles::regrole[]::text || ':' || coalesce(pg_get_expr(p.polqual, "
            "p.polrelid), "
            "''), ',' ORDER BY p.polname) FROM pg_policy p WHERE p.polrelid = c.oid)) FROM pg_class c WHERE c.oid = "
            "'catalogos.analistas'::regclass"));
    }
    static QString filas() {
        return PgCluster::instance().scalar(QStringLiteral(
            "SELECT string_agg(format('%s:%s:%s', usuario, nombre, clave), ',' ORDER BY idanalista) FROM "
            "catalogos.analistas"));
    }
    // A statement on a connection of its own as that login: whether it ran, and the rows it touched or read.
    struct Resultado {
        bool ok = false;
        qint64 filas = 0;
        QString texto; // a query's rows
    };
    static Resultado como(const QString& login, const QString& clave, const QString& sql, bool consulta = false) {
        db::Connection con;
        con.setConnectionString(PgCluster::instance().connectionString(login, clave));
        db::DbError e;
        Resultado r;
        EXPECT_TRUE(con.open(e)) << e.description.toStdString();
        if (consulta) {
            if (auto rs = con.query(sql, e)) {
                r.ok = true;
                for (; !rs->eof(); rs->moveNext()) {
                    r.texto += rs->text(0) + QLatin1Char(';');
                    ++r.filas;
                }
            }
        } else {
            r.ok = con.execute(sql, r.filas, e);
        }
        con.close();
        return r;
    }
};

// The staff groups read their own row and write none; an administrator manages every row but a superuser's (the
// installation's superuser, a member of v7_super), which it can neither read, change, remove nor write anew.
TEST_F(FilasPrivadas, EachStaffLoginReadsOnlyItsOwnRowAndWritesNoneWhileAnAdministratorManagesThemAll) {
    EXPECT_EQ(ProtegerAnalistas(), QString());
    const QString protegidas = reglas();
    const QString antes = filas();

    const struct {
        const char* login;
        const char* clave;
    } personal[] = {{"ana_n1", "pw-n1"}, {"beto_n2", "pw-n2"}};
    for (const auto& p : personal) {
        const QString login = QString::fromUtf8(p.login);
        const QString clave = QString::fromUtf8(p.clave);
        SCOPED_TRACE(p.login);
        // Its own row, whole (the client modules read their permissions), and no other.
        const Resultado lee =
            como(login, clave, QStringLiteral("SELECT usuario || '=' || clave FROM catalogos.analistas"), true);
        EXPECT_TRUE(lee.ok);
        EXPECT_EQ(lee.filas, 1);
        EXPECT_TRUE(lee.texto.startsWith(login + QLatin1Char('='))) << lee.texto.toStdString();
        EXPECT_EQ(
            como(login, clave, QStringLiteral("SELECT clave FROM catalogos.analistas WHERE usuario = 'postgres'"), true)
                .filas,
            0);
        // No write of any kind lands, on its own row or another's.
        for (const char* sql : {"INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('intruso', 'x', 'y')",
                                "UPDATE catalogos.analistas SET clave = 'z' WHERE usuario = 'postgres'",
                                "UPDATE catalogos.analistas SET nombre = 'z' WHERE usuario = session_user",
                                "DELETE FROM catalogos.analistas", "TRUNCATE catalogos.analistas"}) {
            const Resultado r = como(login, clave, QString::fromUtf8(sql));
            EXPECT_TRUE(!r.ok || r.filas == 0) << sql;
        }
    }
    EXPECT_EQ(filas(), antes);

    // An administrator lists, creates, changes and deletes the rows of administrators and staff as before.
    const QString adm = QStringLiteral("caro_adm"), pw = QStringLiteral("pw-adm");
    EXPECT_EQ(como(adm, pw,
                   QStringLiteral("SELECT usuario || '=' || clave FROM catalogos.analistas ORDER BY idanalista"), true)
                  .texto,
              QStringLiteral("ana_n1=CLAVE-ANA;beto_n2=CLAVE-BETO;caro_adm=CLAVE-CARO;"));
    // A superuser's row is out of its reach, and so is making a row a superuser's.
    for (const char* sql : {"UPDATE catalogos.analistas SET clave = 'z' WHERE usuario IN ('postgres', 'dora_sup')",
                            "DELETE FROM catalogos.analistas WHERE usuario IN ('postgres', 'dora_sup')",
                            "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('postgres', 'x', 'y')",
                            "UPDATE catalogos.analistas SET usuario = 'dora_sup' WHERE usuario = 'ana_n1'"}) {
        const Resultado r = como(adm, pw, QString::fromUtf8(sql));
        EXPECT_TRUE(!r.ok || r.filas == 0) << sql;
    }
    EXPECT_EQ(filas(), antes);
    EXPECT_EQ(como(adm, pw,
                   QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('dani', 'D', "
                                  "'C')"))
                  .filas,
              1);
    EXPECT_EQ(como(adm, pw, QStringLiteral("UPDATE catalogos.analistas SET clave = 'C2' WHERE usuario = 'dani'")).filas,
              1);
    EXPECT_EQ(como(adm, pw, QStringLiteral("DELETE FROM catalogos.analistas WHERE usuario = 'dani'")).filas, 1);
    EXPECT_EQ(filas(), antes);

    // A later schema-wide grant (a set-up's table pass, a restore's grants) is undone by the next call, which
    // leaves the very same rules; with them in place an administrator's session has nothing to change.
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("GRANT ALL ON ALL TABLES IN SCHEMA catalogos TO PUBLIC, v7_usuario1, v7_usuario2;")));
    EXPECT_NE(reglas(), protegidas);
    EXPECT_EQ(ProtegerAnalistas(), QString());
    EXPECT_EQ(reglas(), protegidas);
    // So are the rules of an earlier version, under which administrators managed every row.
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("DROP POLICY v7_analistas_administracion ON catalogos.analistas; ALTER POLICY "
                       "v7_analistas_gestion ON catalogos.analistas TO v7_super, v7_admin;")));
    EXPECT_EQ(ProtegerAnalistas(), QString());
    EXPECT_EQ(reglas(), protegidas);
    conectar(PgCluster::instance().connectionString(adm, pw), adm);
    EXPECT_EQ(ProtegerAnalistas(), QString());
    // Where they are not in place, that session says so in Spanish, and why.
    ASSERT_TRUE(
        PgCluster::instance().psql(QStringLiteral("ALTER TABLE catalogos.analistas DISABLE ROW LEVEL SECURITY;")));
    const QString r = ProtegerAnalistas();
    EXPECT_TRUE(r.startsWith(QStringLiteral("No se logró proteger las filas de los analistas"))) << r.toStdString();
    EXPECT_TRUE(r.contains(QStringLiteral("Detalle del servidor: "))) << r.toStdString();
}

} // namespace
