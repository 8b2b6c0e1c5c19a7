// The staff permission record's modules and validity texts, and the group bootstrap on a real server.
#include "accounts/cuentas.h"
#include "accounts/grupos.h"
#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/permisos.h"
#include "core/session.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

TEST(RegistroAnalista, GroupNumbersNameTheFourGroups) {
    const QString esperados[] = {QString(),
                                 QStringLiteral("v7_super"),
                                 QStringLiteral("v7_admin"),
                                 QStringLiteral("v7_usuario1"),
                                 QStringLiteral("v7_usuario2"),
                                 QString()};
    for (int n = 0; n <= 5; ++n) {
        EXPECT_EQ(NombreGrupo(n), esperados[n]) << n;
    }
    EXPECT_TRUE(NombreGrupo(-1).isEmpty());
}

TEST(RegistroAnalista, ValidityTexts) {
    const struct {
        std::optional<QString> valuntil;
        const char* texto;
    } cases[] = {
        {std::nullopt, "Indefinida"},
        {QStringLiteral("infinity"), "Indefinida"},
        {QStringLiteral("9999-12-31 23:59:59"), "Indefinida"}, // what the driver makes of infinity
        {QStringLiteral("9999-12-31 23:59:59-06"), "Indefinida"},
        {QStringLiteral("2031-03-15 00:00:00-06"), "15/03/2031 00:00:00"},
        {QStringLiteral("9999-12-31 12:00:00"), "31/12/9999 12:00:00"}, // a real date, late
        {QStringLiteral("mañana"), "mañana"},                           // unreadable: shown as it came
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textoVigencia(c.valuntil), QString::fromUtf8(c.texto))
            << c.valuntil.value_or(QStringLiteral("NULL")).toStdString();
    }
    EXPECT_FALSE(fechaVigencia(QStringLiteral("mañana")).has_value());
}

TEST(RegistroAnalista, LoginNames) {
    for (const char* bueno : {"ana", "Ana_2", "_", "x9"}) {
        EXPECT_TRUE(loginValido(QString::fromUtf8(bueno))) << bueno;
    }
    for (const char* malo : {"", "o'brien", "ana maria", "a\"b", "ñandú", "a-b", "a;b", "ana\n"}) {
        EXPECT_FALSE(loginValido(QString::fromUtf8(malo))) << malo;
    }
}

TEST(RegistroAnalista, WhatTheStoredFormsCannotHoldIsRefusedWithItsReason) {
    const struct {
        QString login;
        const char* motivo; // the start of the reason; empty: accepted
    } logins[] = {
        {QString(), "Es necesario proporcionar un nombre de usuario"},
        {QStringLiteral("ana maria"), "El nombre de usuario solo puede contener"},
        {QString(63, QLatin1Char('a')), ""},
        {QString(64, QLatin1Char('a')), "El nombre de usuario no puede tener más de 63 caracteres; el que escribió "
                                        "tiene 64."},
    };
    for (const auto& c : logins) {
        const QString motivo = motivoLoginRechazado(c.login);
        EXPECT_EQ(motivo.left(QString::fromUtf8(c.motivo).size()), QString::fromUtf8(c.motivo))
            << c.login.toStdString();
        EXPECT_EQ(motivo.isEmpty(), qstrlen(c.motivo) == 0) << c.login.toStdString() << ": " << motivo.toStdString();
    }
    const struct {
        const char* contrasena;
        const char* fuera; // the character named; empty: accepted
    } claves[] = {
        {"pa'ss}w;rd $(x)", ""}, {"ñandú-€-ß", ""}, {"łódź", "ł"}, {"Ωmega", "Ω"}, {"clave😀", "😀"},
    };
    for (const auto& c : claves) {
        const QString motivo = motivoContrasenaRechazada(QString::fromUtf8(c.contrasena));
        if (QByteArray(c.fuera).isEmpty()) {
            EXPECT_TRUE(motivo.isEmpty()) << c.contrasena;
        } else {
            EXPECT_TRUE(motivo.startsWith(QStringLiteral("La contraseña contiene el carácter \"") +
                                          QString::fromUtf8(c.fuera) + QLatin1Char('"')))
                << motivo.toStdString();
        }
    }
}

class ConServidor : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion(kJefe));
    }
    void TearDown() override { m_server.reset(); }

    static QString sql(const QString& q) { return PgCluster::instance().scalar(q); }
    static bool si(const QString& q) { return sql(q) == QLatin1String("t"); }

    std::unique_ptr<ServidorPreparado> m_server;
};

TEST_F(ConServidor, ModulesAreWrittenAndReadBackWithTheGroupPrefix) {
    const struct {
        const char* contrasena;
        int grupo;
        ModulosAnalista modulos;
        const char* plano;
    } cases[] = {
        {"pw", 2, {true, false, true, false, false, false}, "pw,101,101000"},
        {"a,b'c", 1, {true, true, true, true, true, true}, "a,b''c,111,111111"},
        {"pw", 4, {false, false, false, false, false, true}, "pw,010,000001"},
        {"pw", 7, {false, true, false, false, true, false}, "pw,010010"}, // no group: one comma
    };
    for (const auto& c : cases) {
        bool ok = false;
        const QString clave = GenerarClaveModulos(QString::fromUtf8(c.contrasena), c.grupo, c.modulos, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(DescifrarCadena(clave, false), QString::fromUtf8(c.plano));
        EXPECT_EQ(LeerModulos(clave), c.modulos) << c.plano;
    }
    // The first staff row carries five flags: the sixth reads as not granted; nothing reads as nothing.
    bool ok = false;
    const QString cinco = componerClave(QStringLiteral("pw"), QStringLiteral("111"), kModulosPrimerAnalista, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(LeerModulos(cinco), (ModulosAnalista{true, true, true, true, true, false}));
    EXPECT_EQ(LeerModulos(QString()), ModulosAnalista{});
}

// Everything the bootstrap can change, as one text.
QString estadoPermisos() {
    return PgCluster::instance().scalar(QStringLiteral(
        "SELECT concat_ws(' | ',"
        " (SELECT string_agg(rolname || ':' || rolsuper || rolcanlogin, ',' ORDER BY rolname) FROM pg_roles"
        "   WHERE rolname LIKE 'v7\\_%'),"
        " (SELECT string_agg(g.rolname || '>' || u.rolname, ',' ORDER BY g.rolname, u.rolname) FROM pg_auth_members m"
        "   JOIN pg_roles g ON g.oid = m.roleid JOIN pg_roles u ON u.oid = m.member),"
        " (SELECT string_agg(n.nspname || '.' || c.relname || '=' || coalesce(c.relacl::text, ''), ',' ORDER BY c.oid)"
        "   FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.relkind IN ('r', 'S', 'v')"
        "   AND n.nspname NOT IN ('pg_catalog', 'information_schema', 'pg_toast')),"
        " (SELECT string_agg(nspname || '=' || coalesce(nspacl::text, ''), ',' ORDER BY nspname) FROM pg_namespace),"
        " (SELECT relrowsecurity FROM pg_class WHERE oid = 'catalogos.analistas'::regclass),"
        " (SELECT string_agg(polname || ':' || polcmd::text || ':' || polroles::regrole[]::text, ',' ORDER BY polname)"
        "   FROM pg_policy WHERE polrelid = 'catalogos.analistas'::regclass),"
        " (SELECT string_agg(usuario || ':' || clave, ',' ORDER BY idanalista) FROM catalogos.analistas))"));
}

struct Corrida {
    QStringList errores;
    int faltantes = 0;
};

Corrida correr() {
    Corrida c;
    InicializarGrupos({[&c](const QString& m) { c.errores << m; }, [&c] { ++c.faltantes; }, {}});
    return c;
}

TEST_F(ConServidor, BootstrapCreatesTheGroupsOnceAndThenChangesNothing) {
    auto& pg = PgCluster::instance();
    // A database without the groups; public may read a table; a table whose name needs quoting.
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP OWNED BY v7_super, v7_admin, v7_usuario1, v7_usuario2;"
                                       "DROP ROLE v7_super, v7_admin, v7_usuario1, v7_usuario2;"
                                       "GRANT SELECT ON catalogos.bibliotecas TO PUBLIC;"
                                       "CREATE TABLE catalogos.\"Libros Raros\" (id serial);"
                                       "CREATE ROLE \"V7_ADMIN\"; CREATE ROLE v7_admin_viejo;")));

    const Corrida primera = correr();
    EXPECT_TRUE(primera.errores.isEmpty()) << primera.errores.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(primera.faltantes, 1);
    // The four groups, without login; only v7_super a superuser; the session user in v7_super.
    EXPECT_EQ(sql(QStringLiteral("SELECT string_agg(rolname || ':' || rolsuper || rolcanlogin, ',' ORDER BY rolname) "
                                 "FROM pg_roles WHERE rolname IN ('v7_super','v7_admin','v7_usuario1','v7_usuario2')")),
              QStringLiteral("v7_admin:falsefalse,v7_super:truefalse,v7_usuario1:falsefalse,v7_usuario2:falsefalse"));
    EXPECT_TRUE(si(QStringLiteral("SELECT pg_has_role('jefe', 'v7_super', 'member')")));
    // Public lost its privileges on every table of the schemas; the groups have theirs.
    EXPECT_EQ(sql(QStringLiteral("SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace, "
                                 "aclexplode(c.relacl) a WHERE a.grantee = 0 AND c.relkind = 'r' AND n.nspname IN "
                                 "('adquis','analisis','catalogos','config_veliro','prestamo','servicios')")),
              QStringLiteral("0"));
    for (const char* tabla : {"catalogos.bibliotecas", "catalogos.\"Libros Raros\"", "adquis.pedidos"}) {
        const QString t = QString::fromUtf8(tabla).replace(QLatin1Char('\''), QStringLiteral("''"));
        EXPECT_TRUE(si(QStringLiteral("SELECT has_table_privilege('v7_super', '%1', 'TRUNCATE')").arg(t))) << tabla;
        for (const char* g : {"v7_admin", "v7_usuario1", "v7_usuario2"}) {
            EXPECT_TRUE(si(QStringLiteral("SELECT has_table_privilege('%1', '%2', 'SELECT, INSERT, UPDATE, DELETE') "
                                          "AND NOT has_table_privilege('%1', '%2', 'TRUNCATE')")
                               .arg(QString::fromUtf8(g), t)))
                << g << " " << tabla;
        }
    }
    for (const QString& g : kGruposStaff) {
        EXPECT_TRUE(si(QStringLiteral("SELECT has_schema_privilege('%1', 'servicios', 'USAGE') AND "
                                      "has_sequence_privilege('%1', 'catalogos.analistas_idanalista_seq', "
                                      "'SELECT, UPDATE') AND has_sequence_privilege('%1', 'metadata.folio_seq', "
                                      "'UPDATE')")
                           .arg(g)))
            << g.toStdString();
    }
    // The staff rows are private: the groups of staff read their own row only and write none, whatever the
    // table grants above gave them; and these are the rules the routine itself keeps (it finds nothing to do).
    EXPECT_TRUE(si(QStringLiteral("SELECT relrowsecurity FROM pg_class WHERE oid = 'catalogos.analistas'::regclass")));
    EXPECT_FALSE(si(QStringLiteral("SELECT has_table_privilege('v7_usuario1', 'catalogos.analistas', 'INSERT') OR "
                                   "has_table_privilege('v7_usuario2', 'catalogos.analistas', 'UPDATE') OR "
                                   "has_table_privilege('public', 'catalogos.analistas', 'SELECT')")));
    const QString protegidas = estadoPermisos();
    EXPECT_EQ(ProtegerAnalistas(), QString());
    EXPECT_EQ(estadoPermisos(), protegidas);
    // Names that only look like a group are left alone.
    EXPECT_EQ(sql(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN ('V7_ADMIN', 'v7_admin_viejo')")),
              QStringLiteral("2"));

    const QString antes = estadoPermisos();
    const Corrida segunda = correr();
    EXPECT_TRUE(segunda.errores.isEmpty()) << segunda.errores.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(segunda.faltantes, 0);
    EXPECT_EQ(estadoPermisos(), antes);
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP ROLE \"V7_ADMIN\", v7_admin_viejo;")));
}

TEST_F(ConServidor, OnlyTheMissingGroupGetsTableGrants) {
    auto& pg = PgCluster::instance();
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP OWNED BY v7_usuario2; DROP ROLE v7_usuario2;"
                                       "GRANT SELECT ON adquis.pedidos TO PUBLIC;")));
    const Corrida c = correr();
    EXPECT_TRUE(c.errores.isEmpty()) << c.errores.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(c.faltantes, 1);
    EXPECT_TRUE(si(QStringLiteral("SELECT has_table_privilege('v7_usuario2', 'adquis.pedidos', 'DELETE')")));
    EXPECT_FALSE(si(QStringLiteral("SELECT has_table_privilege('v7_admin', 'adquis.pedidos', 'SELECT')")));
    EXPECT_FALSE(si(QStringLiteral("SELECT has_table_privilege('public', 'adquis.pedidos', 'SELECT')")));
}

TEST_F(ConServidor, AFailedStepIsReportedAndTheRunGoesOn) {
    // An administrator that may not create a superuser group.
    auto& pg = PgCluster::instance();
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP OWNED BY v7_super; DROP ROLE v7_super; ALTER ROLE adm CREATEROLE;")));
    reiniciarSesion();
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    const Corrida c = correr();
    ASSERT_GE(c.errores.size(), 3);
    EXPECT_EQ(c.errores.at(0), QStringLiteral("No se logró crear el grupo v7_super"));
    EXPECT_EQ(c.errores.at(1), QStringLiteral("No se asignó el usuario adm al grupo v7_super"));
    // One box per table for the group that could not be made; the other groups were still worked.
    EXPECT_TRUE(c.errores.contains(
        QStringLiteral("No se logró asignar los permisos correspondientes al esquema catalogos para el rol v7_super")));
    EXPECT_TRUE(c.errores.contains(QStringLiteral(
        "No se asignaron los permisos correspondientes a la secuencia catalogos.analistas_idanalista_seq para el "
        "grupo v7_super")));
    EXPECT_FALSE(si(QStringLiteral("SELECT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'v7_super')")));
    ASSERT_TRUE(pg.psql(QStringLiteral("ALTER ROLE adm NOCREATEROLE;")));
}

} // namespace
