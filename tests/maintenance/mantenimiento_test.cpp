#include "core/cifrado.h"
#include "core/session.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/mantenimiento.h"
#include "maintenance/restauracion.h"
#include "maintenance/restauracion_roles.h"
#include "maintenance/zona_horaria.h"
#include "platform/keystore.h"
#include "platform/widgets_ui.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

class Mantenimiento : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        sesion().BaseDatosValida = true;
    }
    void TearDown() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            c.start();
        }
        m_server.reset();
    }
    std::unique_ptr<ServidorPreparado> m_server;
};

TEST(Lectores, ChecksumLinesAndTheirKey) {
    auto archivo = [](bool claveA, const QStringList& lineas) {
        QByteArray b;
        for (const QString& l : lineas) {
            b += cifrarConClave(l, claveA).toLatin1() + "\r\n";
        }
        return b;
    };
    const QStringList lineas = {"catalogos.usuarios#1520", "prestamo.devoluciones#0", "prestamo.multas#7",
                                "2018-09-07 10:11:12", "POSTGRESQL 9.0.4"};
    for (const bool claveA : {false, true}) {
        const auto c = leerChecksum(archivo(claveA, lineas));
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->claveA, claveA);
        ASSERT_EQ(c->tablas.size(), 3);
        EXPECT_EQ(c->tablas[0].tabla, QStringLiteral("catalogos.usuarios"));
        EXPECT_EQ(c->tablas[0].registros, 1520);
        EXPECT_EQ(c->fecha, QStringLiteral("2018-09-07 10:11:12"));
        EXPECT_EQ(c->motor, QStringLiteral("POSTGRESQL 9.0.4"));
    }
    // No engine line: the old engine. LF line ends are read too.
    const auto sinMotor = leerChecksum(archivo(false, lineas.mid(0, 4)).replace("\r\n", "\n"));
    ASSERT_TRUE(sinMotor.has_value());
    EXPECT_EQ(sinMotor->motor, QStringLiteral("POSTGRESQL 8"));

    const std::pair<const char*, QByteArray> malos[] = {
        {"empty", QByteArray()},
        {"plain text", "catalogos.usuarios#3\r\n"},
        {"odd hex", "ABC\r\n"},
        {"first line not a table", archivo(false, {"2018-09-07 10:11:12", "catalogos.usuarios#3"})},
        {"count not whole", archivo(false, {"catalogos.usuarios#3.5"})},
        {"name that is SQL", archivo(false, {"catalogos.usuarios x; DROP TABLE y#3"})},
    };
    for (const auto& [nombre, datos] : malos) {
        EXPECT_FALSE(leerChecksum(datos).has_value()) << nombre;
    }
}

TEST(Lectores, RolesFileKeepsOnlyTheStaff) {
    const QString volcado =
        QStringLiteral("\\restrict abc\n"
                       "SET default_transaction_read_only = off;\n"
                       "SET standard_conforming_strings = on;\n"
                       "CREATE ROLE \"O'Brien\";\n"
                       "ALTER ROLE \"O'Brien\" WITH NOSUPERUSER LOGIN PASSWORD 'SCRAM-SHA-256$x';\n"
                       "CREATE ROLE \"Con \"\"comillas\"\"\";\n"
                       "ALTER ROLE \"Con \"\"comillas\"\"\" WITH LOGIN;\n"
                       "CREATE ROLE jefe;\n"
                       "ALTER ROLE jefe WITH SUPERUSER LOGIN PASSWORD 'md5viejo';\n"
                       "CREATE ROLE otra_app;\n"
                       "ALTER ROLE otra_app WITH LOGIN PASSWORD 'md5otra';\n"
                       "COMMENT ON ROLE otra_app IS 'otra';\n"
                       "CREATE ROLE postgres;\n"
                       "ALTER ROLE postgres WITH SUPERUSER LOGIN PASSWORD 'md5pg';\n"
                       "CREATE ROLE pg_raro;\n"
                       "CREATE ROLE v7_admin;\n"
                       "ALTER ROLE v7_admin WITH NOLOGIN;\n"
                       "CREATE ROLE v7_super;\n"
                       "ALTER ROLE v7_super WITH SUPERUSER NOLOGIN;\n"
                       "ALTER ROLE \"O'Brien\" SET search_path TO 'a';\n"
                       "CREATE TABLESPACE t OWNER postgres LOCATION '/x';\n"
                       "GRANT v7_admin TO \"O'Brien\" GRANTED BY postgres;\n"
                       "GRANT v7_super TO \"Con \"\"comillas\"\"\" WITH ADMIN OPTION GRANTED BY postgres;\n"
                       "GRANT v7_super TO jefe GRANTED BY postgres;\n"
                       "GRANT v7_super TO pg_raro GRANTED BY postgres;\n"
                       "GRANT otro_grupo TO otra_app GRANTED BY postgres;\n"
                       "\\unrestrict abc\n");
    EXPECT_EQ(nombreDeIdentificador(QStringLiteral("\"Con \"\"comillas\"\"\"")), QStringLiteral("Con \"comillas\""));
    // jefe is the session's login and postgres the bootstrap superuser; v7_admin exists here already.
    const QString f =
        filtrarRoles(volcado, {QStringLiteral("jefe"), QStringLiteral("postgres")}, {QStringLiteral("v7_admin")});
    EXPECT_EQ(f, QStringLiteral("SET default_transaction_read_only = off;\n"
                                "SET standard_conforming_strings = on;\n"
                                "CREATE ROLE \"O'Brien\";\n"
                                "ALTER ROLE \"O'Brien\" WITH NOSUPERUSER LOGIN PASSWORD 'SCRAM-SHA-256$x';\n"
                                "CREATE ROLE \"Con \"\"comillas\"\"\";\n"
                                "ALTER ROLE \"Con \"\"comillas\"\"\" WITH LOGIN;\n"
                                "ALTER ROLE v7_admin WITH NOLOGIN;\n"
                                "CREATE ROLE v7_super;\n"
                                "ALTER ROLE v7_super WITH SUPERUSER NOLOGIN;\n"
                                "ALTER ROLE \"O'Brien\" SET search_path TO 'a';\n"
                                "GRANT v7_admin TO \"O'Brien\";\n"
                                "GRANT v7_super TO \"Con \"\"comillas\"\"\" WITH ADMIN OPTION;\n"));
}

// Sequences are raised to their column's highest value and never moved back, whatever their names.
TEST_F(Mantenimiento, SequencesAreOnlyRaised) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE SCHEMA \"Mi Esquema\"; CREATE TABLE \"Mi Esquema\".\"Tabla Rara\" (\"Id\" serial, t text);"
        "INSERT INTO \"Mi Esquema\".\"Tabla Rara\" (\"Id\", t) VALUES (41, 'a');"
        "INSERT INTO adquis.pedidos (idpedido, titulo) VALUES (7, 'x');"
        "SELECT setval('adquis.pedidos_idpedido_seq', 500);"
        "CREATE SEQUENCE prestamo.otro_nombre; SELECT setval('prestamo.otro_nombre', 3);"
        "CREATE TABLE prestamo.ajena (id integer DEFAULT nextval('prestamo.otro_nombre'), t text);"
        "INSERT INTO prestamo.ajena (id) VALUES (90);"
        "CREATE SEQUENCE public.por_texto;"
        "CREATE TABLE public.sin_dependencia (id bigint DEFAULT nextval('public.por_texto'::text));")));
    const QStringList fallas = ActualizarSecuenciasVELIRO();
    EXPECT_EQ(fallas, QStringList{QStringLiteral("No se logro actualizar la secuencia public.sin_dependencia_id_seq")});
    auto siguiente = [&](const QString& seq) {
        return c.scalar(QStringLiteral("SELECT nextval(%1)").arg(QStringLiteral("'") + seq + QStringLiteral("'")));
    };
    EXPECT_EQ(siguiente(QStringLiteral("\"Mi Esquema\".\"Tabla Rara_Id_seq\"")), QStringLiteral("42"));
    EXPECT_EQ(siguiente(QStringLiteral("adquis.pedidos_idpedido_seq")), QStringLiteral("501"));
    EXPECT_EQ(siguiente(QStringLiteral("prestamo.otro_nombre")), QStringLiteral("91"));
    EXPECT_EQ(siguiente(QStringLiteral("catalogos.usuarios_idusuario_seq")), QStringLiteral("1")); // empty table
    EXPECT_EQ(siguiente(QStringLiteral("catalogos.analistas_idanalista_seq")), QStringLiteral("4"));
}

TEST_F(Mantenimiento, ConectarODBCReopensWithTheTypedValues) {
    EXPECT_EQ(cadenaConectarODBC(QStringLiteral("h"), 5432, QStringLiteral("u"), QStringLiteral("a}b;c")),
              QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=h;PORT=5432;DATABASE=veliro7;UID=u;PWD={a}}b;c}"));
    // jefe's password holds "}", ";" and a quote.
    sesion().ConexionPrincipal->close();
    bool exito = false;
    ConectarODBC(exito);
    EXPECT_TRUE(exito);
    EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
    bool ok = false;
    EjecutarSentencia(QStringLiteral("SELECT 1"), ok);
    EXPECT_TRUE(ok);
    EjecutarSentencia(QStringLiteral("SELECT * FROM no_existe"), ok);
    EXPECT_FALSE(ok);
    // During the login's offer to restore the typed copies are not there yet: the session's values serve.
    sesion().ServidorConexion.clear();
    sesion().PuertoConexion.clear();
    sesion().UsuarioConexion.clear();
    sesion().ClaveConexion.clear();
    ConectarODBC(exito);
    EXPECT_TRUE(exito);
    sesion().ClaveBD = QStringLiteral("mala");
    ConectarODBC(exito);
    EXPECT_FALSE(exito);
}

TEST_F(Mantenimiento, CompactionThroughTheWindow) {
    auto& c = PgCluster::instance();
    ScriptedDialogs dialogs;
    FrmBase w;
    w.show();
    EXPECT_FALSE(hijo<QLabel>(w, "EtCompacta")->isVisible());
    const QString antes = c.scalar(QStringLiteral("SELECT pg_relation_filenode('catalogos.analistas_pkey')"));

    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        QString mensaje; // its beginning
        MsgIcon icono;
        bool reindexado;
    };
    const Caso casos[] = {
        {"success", [] {}, QStringLiteral("El mantenimiento se ha realizado satisfactoriamente"), MsgIcon::Information,
         true},
        {"vacuumdb cannot connect", [] { sesion().ClaveBD = QStringLiteral("mala"); },
         QStringLiteral("No se logró compactar la base de datos (vacuumdb terminó con el código 1):"),
         MsgIcon::Critical, false},
        {"server stopped", [&] { ASSERT_TRUE(c.stop()); },
         QStringLiteral("Al parecer el servidor no está en ejecución, verifique lo anterior e inténtelo nuevamente"),
         MsgIcon::Critical, false},
    };
    QString filenode = antes;
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        k.preparar();
        dialogs.clear();
        dialogs.answer(MsgResult::Ok);
        Muestreo muestreo(w);
        click(w, "BtnCompactar");
        muestreo.detener();
        ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(dialogs.shown()[0].text.startsWith(k.mensaje)) << dialogs.shown()[0].text.toStdString();
        EXPECT_EQ(dialogs.shown()[0].icon, k.icono);
        if (k.icono == MsgIcon::Information) {
            EXPECT_TRUE(muestreo.siempreBloqueada());
        }
        // Every way out gives the window back with the label and the bar hidden, and leaves no file.
        EXPECT_TRUE(hijo<QWidget>(w, "BtnCompactar")->isEnabled());
        EXPECT_TRUE(hijo<QWidget>(w, "BtnSalir")->isEnabled());
        EXPECT_TRUE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
        EXPECT_FALSE(hijo<QLabel>(w, "EtCompacta")->isVisible());
        EXPECT_FALSE(hijo<QProgressBar>(w, "ProgBarr")->isVisible());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(QDir(sesion().RutaTemporal)
                        .entryList({QStringLiteral("v7.Compact.bat"), QStringLiteral("Mantenimiento*")}, QDir::Files)
                        .isEmpty());
        if (c.isRunning()) {
            const QString ahora = c.scalar(QStringLiteral("SELECT pg_relation_filenode('catalogos.analistas_pkey')"));
            EXPECT_EQ(ahora != filenode, k.reindexado);
            filenode = ahora;
        }
    }
    ASSERT_TRUE(c.start());
}

// The zone window: sorted American zones, the first selected; confirmed once; the close box asks while no
// zone is held; with no zone to choose there is nothing to confirm.
TEST_F(Mantenimiento, TimeZoneWindow) {
    ScriptedDialogs dialogs;
    FrmBase base;
    {
        FrmConfigRegional w(base);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Seleccione el uso/horario"));
        auto* lista = hijo<QComboBox>(w, "CmbConfigRegional");
        ASSERT_GT(lista->count(), 50);
        EXPECT_EQ(lista->currentIndex(), 0);
        QStringList zonas;
        for (int i = 0; i < lista->count(); ++i) {
            zonas << lista->itemText(i);
        }
        QStringList ordenadas = zonas;
        std::sort(ordenadas.begin(), ordenadas.end());
        EXPECT_EQ(zonas, ordenadas);
        EXPECT_TRUE(zonas.contains(QStringLiteral("America/Mexico_City")));
        w.show();
        // The close box: No keeps it open, Yes takes the selected zone.
        dialogs.answer(MsgResult::No).answer(MsgResult::Yes);
        lista->setCurrentIndex(lista->findText(QStringLiteral("America/Lima")));
        w.close();
        EXPECT_TRUE(w.isVisible());
        EXPECT_TRUE(base.zonaHoraria().isEmpty());
        w.close();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(base.zonaHoraria(), QStringLiteral("America/Lima"));
        EXPECT_EQ(dialogs.shown().size(), 2u);
        EXPECT_EQ(dialogs.shown()[0].text,
                  QStringLiteral("La opción seleccionada es: America/Lima\r\n¿ Desea continuar ?"));
        EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::YesNo);
    }
    {
        // Aceptar asks once; the zone it sets closes the window without a second question.
        dialogs.clear();
        FrmConfigRegional w(base);
        w.show();
        auto* lista = hijo<QComboBox>(w, "CmbConfigRegional");
        lista->setCurrentIndex(lista->findText(QStringLiteral("America/Bogota")));
        dialogs.answer(MsgResult::No).answer(MsgResult::Yes);
        click(w, "BtnZona");
        EXPECT_TRUE(w.isVisible());
        click(w, "BtnZona");
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(base.zonaHoraria(), QStringLiteral("America/Bogota"));
        EXPECT_EQ(dialogs.shown().size(), 2u);
    }
    {
        // No zone to choose (the list could not be read): nothing to confirm, the window just closes.
        dialogs.clear();
        base.setZonaHoraria(QString());
        sesion().ConexionPrincipal->close();
        FrmConfigRegional w(base);
        w.show();
        EXPECT_EQ(hijo<QComboBox>(w, "CmbConfigRegional")->count(), 0);
        EXPECT_FALSE(hijo<QWidget>(w, "BtnZona")->isEnabled());
        w.close();
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(dialogs.shown().empty());
        EXPECT_TRUE(base.zonaHoraria().isEmpty());
    }
}

// The stored zone is read back with whichever key wrote it, only when the server knows it, and applied as a
// literal.
TEST_F(Mantenimiento, StoredZone) {
    auto& c = PgCluster::instance();
    keystore::KeyStore ks;
    const QString globals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals");
    const std::pair<QString, QString> casos[] = {
        {cifrarConClave(QStringLiteral("America/Lima"), true), QStringLiteral("America/Lima")},
        {cifrarConClave(QStringLiteral("America/Lima"), false), QStringLiteral("America/Lima")},
        {cifrarConClave(QStringLiteral("America/Atlantida"), false), QString()},
        {QString(), QString()},
    };
    for (const auto& [guardada, esperada] : casos) {
        ASSERT_FALSE(ks.write(globals, QStringLiteral("3"), guardada).isSet());
        EXPECT_EQ(leerZonaGuardada(), esperada) << guardada.toStdString();
    }
    // Written with the key the stored tool version selects (key A for a version dated before the change).
    ASSERT_TRUE(c.psql(QStringLiteral(
        "UPDATE config_veliro.configuracion SET valor = 'R1.00 - 2013/01/01' WHERE descripcion = 'VER_V7TOOLS';")));
    QString error;
    ASSERT_TRUE(guardarZona(QStringLiteral("America/Bogota"), error)) << error.toStdString();
    EXPECT_EQ(ks.readValue(globals + QStringLiteral("\\3")).value,
              cifrarConClave(QStringLiteral("America/Bogota"), true));
    EXPECT_EQ(leerZonaGuardada(), QStringLiteral("America/Bogota"));

    EXPECT_FALSE(zonaConocida(QStringLiteral("America/Lima' ; DROP TABLE x; --")));
    EXPECT_FALSE(aplicarZona(QStringLiteral("America/Lima'x"), error));
    ASSERT_TRUE(aplicarZona(QStringLiteral("America/Lima"), error)) << error.toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT array_to_string(setconfig, ',') FROM pg_db_role_setting s JOIN "
                                      "pg_database d ON d.oid = s.setdatabase WHERE d.datname = 'veliro7'")),
              QStringLiteral("TimeZone=America/Lima"));
}

} // namespace
