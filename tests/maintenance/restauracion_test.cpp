#include "core/FrmIniciarSesion.h"
#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/respaldo_manual.h"
#include "maintenance/restauracion.h"
#include "maintenance/zona_horaria.h"
#include "platform/db.h"
#include "platform/keystore.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/maintenance/archivo_restauracion.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

const QString kZona = QStringLiteral("America/Mexico_City");

// Staff logins made for the round trip, one per group; the session is jefe (v7_super).
struct Staff {
    QString usuario, clave, grupo;
};
const Staff kStaff[] = {
    {QStringLiteral("O'Brien"), QStringLiteral("cl'ave \\ ñ"), QStringLiteral("v7_usuario2")},
    {QStringLiteral("Ana Admin"), QStringLiteral("adm-2"), QStringLiteral("v7_admin")},
    {QStringLiteral("nivel1"), QStringLiteral("n1"), QStringLiteral("v7_usuario1")},
    {QStringLiteral("jefa2"), QStringLiteral("j2"), QStringLiteral("v7_super")},
};

QString lit(const QString& s) {
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}
QString ident(const QString& s) {
    return QLatin1Char('"') + QString(s).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Whether a login works with that password.
bool puedeEntrar(const QString& usuario, const QString& clave) {
    db::Connection c;
    c.setConnectionString(PgCluster::instance().connectionString(usuario, clave));
    db::DbError e;
    const bool ok = c.open(e);
    c.close();
    return ok;
}

class Restauracion : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        sesion().BaseDatosValida = true;
        auto& c = PgCluster::instance();
        QString sql;
        for (const Staff& s : kStaff) {
            sql += QStringLiteral("DROP ROLE IF EXISTS %1; CREATE ROLE %1 LOGIN PASSWORD %2 IN ROLE %3;\n")
                       .arg(ident(s.usuario), lit(s.clave), s.grupo);
        }
        // Another application's roles: never this system's to drop or change.
        sql += QStringLiteral("DROP ROLE IF EXISTS otra_app, otro_grupo; CREATE ROLE otro_grupo;"
                              "CREATE ROLE otra_app LOGIN CREATEDB PASSWORD 'otra' IN ROLE otro_grupo;"
                              "INSERT INTO catalogos.usuarios (nombre) SELECT 'u' || g FROM generate_series(1, 5) g;"
                              "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 10), (2, 20);");
        ASSERT_TRUE(c.psql(sql));
        for (const Staff& s : kStaff) {
            bool ok = false;
            const QString clave = componerClave(s.clave, codigoGrupo(s.grupo), QStringLiteral("111111"), &ok);
            ASSERT_TRUE(ok);
            ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES (%1, "
                                              "%1, %2);")
                                   .arg(lit(s.usuario), lit(clave))));
        }
    }
    void TearDown() override { m_server.reset(); }

    // The kit's own writer, as the manual backup runs it.
    QString respaldar(const QString& nombre) {
        const QString destino = m_dir.file(nombre);
        ScriptedDialogs d;
        const MensajeRespaldo m = respaldoManual(destino);
        EXPECT_TRUE(m.ok) << m.texto.toStdString();
        return destino;
    }

    // The restore routine with the zone window answered by zona; the messages on the way are collected.
    ResultadoRestauracion restaurar(const QString& archivo, const QString& zona = kZona) {
        InterfazRestauracion ui;
        ui.aviso = [this](MsgIcon, const QString& t) { m_avisos << t; };
        ui.elegirZona = [this, zona] {
            ++m_zonasPedidas;
            return zona;
        };
        return restaurarRespaldo(archivo, ui);
    }

    static QString roles() {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || ':' || rolsuper || "
                           "rolcreatedb || rolcanlogin, ',' ORDER BY rolname) FROM pg_authid"));
    }

    std::unique_ptr<ServidorPreparado> m_server;
    TempDir m_dir;
    QStringList m_avisos;
    int m_zonasPedidas = 0;
};

// Each broken archive is refused before anything changes: the database, its roles and the session stay
// as they were, and the message says why.
TEST_F(Restauracion, BrokenArchivesAreRefusedBeforeAnythingChanges) {
    auto& c = PgCluster::instance();
    const QString bueno = respaldar(QStringLiteral("bueno.zip"));
    const Miembros m = miembros(bueno);
    ASSERT_EQ(m.size(), 3);
    const QByteArray volcado = miembro(bueno, QStringLiteral("base.backup"));
    // The dump's header holds the archive format version right after "PGDMP": 1.16 is newer than 15 reads.
    QByteArray posterior = volcado;
    posterior[6] = char(16);
    QByteArray dañado = leer(bueno);
    {
        // A byte changed inside base.backup's compressed data: the zip's CRC no longer matches.
        const qsizetype i = dañado.indexOf("base.backup") + 400;
        dañado[i] = char(dañado[i] ^ 0x5A);
    }
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA extra; CREATE TABLE extra.marca (t text); INSERT INTO "
                                      "extra.marca VALUES ('intacta');")));
    const QString rolesAntes = roles();

    struct Caso {
        const char* nombre;
        std::function<void(const QString&)> hacer;
        QString mensaje; // the beginning of the refusal
    };
    const QString dañadoTxt = QStringLiteral("El archivo base.backup del respaldo está dañado o incompleto");
    const QString posteriorTxt = QStringLiteral("No se puede montar el respaldo debido a que la versión instalada de");
    const Caso casos[] = {
        {"truncated base.backup",
         [&](const QString& z) {
             hacerZip(z, cambiar(m, QStringLiteral("base.backup"), volcado.left(volcado.size() - 300)));
         },
         dañadoTxt},
        {"no base.backup", [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("base.backup"), {})); },
         QStringLiteral("El archivo del respaldo no contiene el archivo base.backup")},
        {"no checksum.dat", [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("checksum.dat"), {})); },
         QStringLiteral("El archivo del respaldo no contiene el archivo checksum.dat")},
        {"checksum.dat in plain text",
         [&](const QString& z) {
             hacerZip(
                 z, cambiar(m, QStringLiteral("checksum.dat"), "catalogos.usuarios#5\r\nprestamo.devoluciones#0\r\n"));
         },
         QStringLiteral("El archivo checksum.dat del respaldo no es válido")},
        {"checksum.dat naming a table that is SQL",
         [&](const QString& z) {
             hacerZip(z,
                      cambiar(m, QStringLiteral("checksum.dat"),
                              cifrarConClave(QStringLiteral("catalogos.usuarios; DROP TABLE x#5"), false).toLatin1() +
                                  "\r\n"));
         },
         QStringLiteral("El archivo checksum.dat del respaldo no es válido")},
        {"dump of a newer pg_dump",
         [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("base.backup"), posterior)); }, posteriorTxt},
        {"engine line of a newer server",
         [&](const QString& z) {
             QByteArray ck;
             for (const QString& l : lineasDescifradas(miembro(bueno, QStringLiteral("checksum.dat"))).mid(0, 4)) {
                 ck += cifrarConClave(l, false).toLatin1() + "\r\n";
             }
             ck += cifrarConClave(QStringLiteral("POSTGRESQL 99.1"), false).toLatin1() + "\r\n";
             hacerZip(z, cambiar(m, QStringLiteral("checksum.dat"), ck));
         },
         posteriorTxt},
        {"zip failing the archiver's test", [&](const QString& z) { escribir(z, dañado); },
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
        {"not a zip at all", [&](const QString& z) { escribir(z, "PK nothing"); },
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
        {"no such file", [](const QString&) {},
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
    };
    int n = 0;
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const QString z = m_dir.file(QStringLiteral("roto%1.zip").arg(++n));
        k.hacer(z);
        m_avisos.clear();
        const bool validaAntes = sesion().BaseDatosValida;
        const ResultadoRestauracion r = restaurar(z);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.rechazado);
        EXPECT_TRUE(r.texto.startsWith(k.mensaje)) << r.texto.toStdString();
        EXPECT_TRUE(r.texto.endsWith(QStringLiteral("La base de datos no fue modificada."))) << r.texto.toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(m_zonasPedidas, 0);
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM extra.marca")), QStringLiteral("intacta"));
        EXPECT_EQ(roles(), rolesAntes);
        EXPECT_EQ(sesion().BaseDatosValida, validaAntes);
        EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
        EXPECT_FALSE(QFileInfo::exists(sesion().RutaTemporal + kCarpetaRestauracion));
    }

    // A member whose name differs only in case is found: the archive is accepted and restored.
    const QString mayusculas = m_dir.file(QStringLiteral("mayusculas.zip"));
    hacerZip(mayusculas, cambiar(m, QStringLiteral("checksum.dat"), miembro(bueno, QStringLiteral("checksum.dat")),
                                 QStringLiteral("Checksum.dat")));
    const ResultadoRestauracion r = restaurar(mayusculas);
    EXPECT_TRUE(r.ok) << r.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'extra'")),
              QStringLiteral("0"));
}

// Counts in checksum.dat that the dump does not hold are caught only after the load: a failed restore
// with its message, never the success message.
TEST_F(Restauracion, CountsThatDisagreeEndAsAFailedRestore) {
    const QString bueno = respaldar(QStringLiteral("bueno.zip"));
    QStringList lineas = lineasDescifradas(miembro(bueno, QStringLiteral("checksum.dat")));
    ASSERT_EQ(lineas.value(0), QStringLiteral("catalogos.usuarios#5"));
    lineas[0] = QStringLiteral("catalogos.usuarios#1250");
    QByteArray ck;
    for (const QString& l : lineas) {
        ck += cifrarConClave(l, false).toLatin1() + "\r\n";
    }
    const QString malo = m_dir.file(QStringLiteral("conteo.zip"));
    hacerZip(malo, cambiar(miembros(bueno), QStringLiteral("checksum.dat"), ck));
    sesion().BaseDatosValida = false;
    const ResultadoRestauracion r = restaurar(malo);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.rechazado);
    EXPECT_FALSE(r.integridad.has_value());
    EXPECT_EQ(r.texto, QStringLiteral("Al parecer la restauración no se realizó correctamente ya que el respaldo "
                                      "contenía 1250 registros en la tabla catalogos.usuarios mientras que en la base "
                                      "de datos solo hay 5 registros.\r\nSe recomienda eliminar la base de datos y "
                                      "restaurarla nuevamente"));
    EXPECT_FALSE(sesion().BaseDatosValida); // kept: the dates were not stored either
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE "
                                                          "descripcion = 'FECHARESTAURACION'")),
              QStringLiteral("0"));
}

// Marker rows of several schemas, read back as one text.
QString marcas() {
    return PgCluster::instance().scalar(
        QStringLiteral("SELECT md5(string_agg(coalesce(titulo, '<null>'), '|' ORDER BY idpedido)) || ' ' || "
                       "(SELECT string_agg(descripcion, '|' ORDER BY idbitacora) FROM public.bitacora) || ' ' || "
                       "(SELECT string_agg(nombre, '|' ORDER BY idequipo) FROM servicios.equipos) || ' ' || "
                       "(SELECT count(*) FROM adquis.pedidos WHERE titulo IS NULL) || ' ' || "
                       "(SELECT funciones.fechatexto(timestamp '2024-01-02 03:04:05')) FROM adquis.pedidos"));
}

// Waits for the zone window of a restore, takes the pictures and confirms zona.
void alPedirZona(FrmBase& w, const QString& zona, bool* visto) {
    auto* t = new QTimer(&w);
    t->setInterval(10);
    QObject::connect(t, &QTimer::timeout, [t, &w, zona, visto] {
        auto* z = w.findChild<FrmConfigRegional*>();
        if (z == nullptr || !z->isVisible()) {
            return;
        }
        t->stop();
        t->deleteLater();
        *visto = true;
        const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        EXPECT_TRUE(w.grab().save(dir + QStringLiteral("/restauracion.png")));
        EXPECT_TRUE(z->grab().save(dir + QStringLiteral("/zona_horaria.png")));
        auto* lista = z->findChild<QComboBox*>(QStringLiteral("CmbConfigRegional"));
        ASSERT_NE(lista, nullptr);
        EXPECT_GT(lista->count(), 50);
        EXPECT_EQ(lista->currentIndex(), 0);
        lista->setCurrentIndex(lista->findText(zona));
        QTest::mouseClick(z->findChild<MyButton*>(QStringLiteral("BtnZona")), Qt::LeftButton);
    });
    t->start();
}

TEST_F(Restauracion, RoundTripThroughTheWindow) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "INSERT INTO adquis.pedidos (titulo) VALUES ('O''Brien'), (E'C:\\\\ruta\\\\x'), ('Ñandú áéíóú €'), (NULL), "
        "(repeat('grande ', 40000));"
        "INSERT INTO public.bitacora (descripcion) VALUES ('en public');"
        "INSERT INTO servicios.equipos (nombre) VALUES ('equipo 1');"
        "SELECT setval('adquis.pedidos_idpedido_seq', 500);")));
    const QString antes = marcas();
    ASSERT_FALSE(antes.isEmpty());
    ScriptedDialogs dialogs;

    // Back up through the window the console shows.
    const QString archivo = m_dir.file(QStringLiteral("ida y vuelta.zip"));
    {
        FrmBase w;
        w.show();
        hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(1);
        hijo<QLineEdit>(w, "txtRuta")->setText(archivo);
        dialogs.answer(MsgResult::Ok);
        click(w, "BtnRespaldar");
        ASSERT_EQ(dialogs.shown().size(), 1u);
        ASSERT_EQ(dialogs.shown()[0].icon, MsgIcon::Information) << dialogs.shown()[0].text.toStdString();
    }
    const QString fechaRespaldo = lineasDescifradas(miembro(archivo, QStringLiteral("checksum.dat"))).value(3);

    // Everything changes after the backup: rows, a stray schema holding only a function, staff logins, and
    // the roles of the session and of another application.
    ASSERT_TRUE(c.psql(QStringLiteral(
        "UPDATE adquis.pedidos SET titulo = 'cambiado'; DELETE FROM public.bitacora; DELETE FROM servicios.equipos;"
        "CREATE SCHEMA basura; CREATE FUNCTION basura.f() RETURNS int LANGUAGE sql AS 'SELECT 1';"
        "DROP ROLE nivel1; ALTER ROLE \"O'Brien\" PASSWORD 'cambiada';"
        "ALTER ROLE otra_app PASSWORD 'otra-nueva'; DROP ROLE IF EXISTS otra_nueva; CREATE ROLE otra_nueva LOGIN;"
        "ALTER ROLE jefe PASSWORD 'jefe-nueva';")));
    sesion().ClaveBD = sesion().ClaveConexion = QStringLiteral("jefe-nueva");
    const QString ajenos = c.scalar(QStringLiteral(
        "SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || rolcreatedb || rolsuper, ',' ORDER BY "
        "rolname) FROM pg_authid WHERE rolname IN ('otra_app', 'otro_grupo', 'otra_nueva', 'postgres', 'jefe')"));

    // Restore through the window the login shows when the catalogues are missing.
    dialogs.clear();
    FrmIniciarSesion login;
    login.setTieneCatalogos(false);
    sesion().BaseDatosValida = false;
    FrmBase w(nullptr, &login);
    w.show();
    EXPECT_FALSE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
    hijo<QLineEdit>(w, "TxtRutaRespaldo")->setText(archivo);
    bool zonaVista = false;
    alPedirZona(w, kZona, &zonaVista);
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Ok);
    Muestreo muestreo(w);
    click(w, "BtnMontar");
    muestreo.detener();

    EXPECT_TRUE(zonaVista);
    ASSERT_EQ(dialogs.shown().size(), 3u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("ATENCION: Proceso crítico"));
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[1].text,
              QStringLiteral("La opción seleccionada es: ") + kZona + QStringLiteral("\r\n¿ Desea continuar ?"));
    EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    EXPECT_EQ(dialogs.shown()[2].icon, MsgIcon::Information);
    // Locked all along; only the zone window's own controls could be used while it asked.
    EXPECT_FALSE(muestreo.muestras().empty());
    for (const Muestra& m : muestreo.muestras()) {
        EXPECT_TRUE(m.cursorEspera);
        for (const QString& n : m.habilitados) {
            EXPECT_TRUE(n == QLatin1String("CmbConfigRegional") || n == QLatin1String("BtnZona")) << n.toStdString();
        }
    }

    // The window is given back whole, with every tab, and the login knows the catalogues are there.
    EXPECT_TRUE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "BtnMontar")->isEnabled());
    EXPECT_FALSE(hijo<QProgressBar>(w, "ProgBarr")->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(login.tieneCatalogos());
    EXPECT_TRUE(sesion().BaseDatosValida);
    EXPECT_EQ(w.zonaHoraria(), kZona);

    // The data as it was backed up, the stray schema gone, the sequence never moved back.
    EXPECT_EQ(marcas(), antes);
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'basura'")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT last_value FROM adquis.pedidos_idpedido_seq")), QStringLiteral("500"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_class WHERE relname = 'folio_seq'")),
              QStringLiteral("1"));

    // Staff logins of every group are back with their backed-up passwords, in their groups, able to work.
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role(%1, '%2', 'MEMBER')").arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("t"));
    }
    {
        db::Connection obrien;
        obrien.setConnectionString(c.connectionString(kStaff[0].usuario, kStaff[0].clave));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(obrien.open(e)) << e.description.toStdString();
        EXPECT_TRUE(obrien.execute(QStringLiteral("INSERT INTO adquis.pedidos (titulo) VALUES ('nuevo')"), n, e))
            << e.description.toStdString();
        obrien.close();
    }
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT max(idpedido) FROM adquis.pedidos")), QStringLiteral("501"));

    // Another application's roles and the session's own login are exactly as they were.
    EXPECT_EQ(c.scalar(QStringLiteral(
                  "SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || rolcreatedb || rolsuper, ',' "
                  "ORDER BY rolname) FROM pg_authid WHERE rolname IN ('otra_app', 'otro_grupo', 'otra_nueva', "
                  "'postgres', 'jefe')")),
              ajenos);
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role('otra_app', 'otro_grupo', 'MEMBER')")), QStringLiteral("t"));
    EXPECT_TRUE(puedeEntrar(QStringLiteral("jefe"), QStringLiteral("jefe-nueva")));
    EXPECT_TRUE(puedeEntrar(QStringLiteral("otra_app"), QStringLiteral("otra-nueva")));

    // The dates and the zone.
    auto valor = [&](const char* clave) {
        return c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = '%1'")
                            .arg(QString::fromLatin1(clave)));
    };
    EXPECT_EQ(valor("FECHARESPALDO"), fechaRespaldo);
    EXPECT_TRUE(valor("FECHARESTAURACION").startsWith(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT array_to_string(setconfig, ',') FROM pg_db_role_setting s JOIN "
                                      "pg_database d ON d.oid = s.setdatabase WHERE d.datname = 'veliro7'")),
              QStringLiteral("TimeZone=") + kZona);
    const QString guardada = keystore::KeyStore().readValue(kRegistroZona).value;
    EXPECT_EQ(DescifrarCadena(guardada, false), kZona);
    EXPECT_FALSE(QFileInfo::exists(sesion().RutaTemporal + kCarpetaRestauracion));
    EXPECT_TRUE(QDir(sesion().RutaTemporal).entryList({QStringLiteral("*.bat")}, QDir::Files).isEmpty());
}

// checksum.dat without its last line, or with another engine line.
QByteArray checksumConMotor(const QString& archivo, const QString& motor) {
    QByteArray ck;
    QStringList lineas = lineasDescifradas(miembro(archivo, QStringLiteral("checksum.dat"))).mid(0, 4);
    if (!motor.isEmpty()) {
        lineas << motor;
    }
    for (const QString& l : lineas) {
        ck += cifrarConClave(l, false).toLatin1() + "\r\n";
    }
    return ck;
}

// A backup of the old engine (or one that does not say) gets the full-text objects on this engine.
TEST_F(Restauracion, OldEngineArchiveGetsTheFullTextUpgrade) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(
        QStringLiteral("INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES (1, 'Cervántes Saavedra');"
                       "INSERT INTO analisis.etiquetasmarc (idficha, numetiqueta, contenido) VALUES "
                       "(1, 100, 'Ver @@AU1! y más'), (1, 130, 'Autor @@12 sin cierre'), (1, 520, 'Nota! @@AU1! fin'),"
                       "(1, 8, 'Lugar'), (1, 999, 'Otro');")));
    const QString bueno = respaldar(QStringLiteral("ocho.zip"));
    const std::pair<const char*, QString> casos[] = {{"engine-8 line", QStringLiteral("POSTGRESQL 8.4.2")},
                                                     {"no engine line", QString()}};
    for (const auto& [nombre, motor] : casos) {
        SCOPED_TRACE(nombre);
        // The second restore finds pg_catalog.espanol left by the first.
        const QString z = m_dir.file(QString::fromLatin1(nombre) + QStringLiteral(".zip"));
        hacerZip(z, cambiar(miembros(bueno), QStringLiteral("checksum.dat"), checksumConMotor(bueno, motor)));
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(z);
        ASSERT_TRUE(r.ok) << r.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(DISTINCT d.dictname, ',') FROM pg_ts_config_map m JOIN "
                                          "pg_ts_config f ON f.oid = m.mapcfg JOIN pg_ts_dict d ON d.oid = m.mapdict "
                                          "WHERE f.cfgname = 'espanol' AND m.maptokentype = (SELECT tokid FROM "
                                          "ts_token_type('default') WHERE alias = 'word')")),
                  QStringLiteral("spanish_stem,unaccent"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(column_name, ',' ORDER BY column_name) FROM "
                                          "information_schema.columns WHERE table_schema = 'analisis' AND table_name "
                                          "= 'etiquetasmarc' AND column_name IN ('idxfti', 'etiquetasinfo', 'tipo', "
                                          "'idlink', 'tabla')")),
                  QStringLiteral("etiquetasinfo,idlink,idxfti,tabla,tipo"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname = 'tsvectorupdate'")),
                  QStringLiteral("1"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_indexes WHERE indexname = 'idxfti_idx'")),
                  QStringLiteral("1"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = "
                                          "'ANA_FULLTEXTSEARCH'")),
                  QStringLiteral("1"));
        // References replaced by the catalogue's text; one without its closing "!" runs to the end and is
        // not written twice.
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(numetiqueta || '=' || tipo || ':' || etiquetasinfo, '|' "
                                          "ORDER BY idregistro) FROM analisis.etiquetasmarc")),
                  QStringLiteral("100=2:Ver Cervántes Saavedra y más|130=2:Autor @@12 sin cierre|"
                                 "520=8:Nota! Cervántes Saavedra fin|8=9:Lugar|999=0:Otro"));
        // The search vector, kept by the trigger, finds a word whatever its accents.
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM analisis.etiquetasmarc WHERE idxfti @@ "
                                          "to_tsquery('pg_catalog.espanol', 'cervantes')")),
                  QStringLiteral("2"));
        ASSERT_TRUE(c.psql(QStringLiteral("UPDATE analisis.etiquetasmarc SET etiquetasinfo = 'Lugar de Mexico' "
                                          "WHERE numetiqueta = 8;")));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM analisis.etiquetasmarc WHERE idxfti @@ "
                                          "to_tsquery('pg_catalog.espanol', 'méxico')")),
                  QStringLiteral("1"));
    }
}

// Without a roles file the staff logins come from the staff table, the name an identifier and the password
// a literal; a row with an unknown group code goes, one without a clave stays, and a name that another
// application's role already holds is reported and that role left alone.
TEST_F(Restauracion, ArchiveWithoutRolesFileMakesTheStaffLogins) {
    auto& c = PgCluster::instance();
    bool ok = false;
    const QString desconocido = componerClave(QStringLiteral("x"), QStringLiteral("999"), QStringLiteral("1"), &ok);
    ASSERT_TRUE(ok);
    const QString colision = componerClave(QStringLiteral("c"), QStringLiteral("011"), QStringLiteral("1"), &ok);
    ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES "
                                      "('raro', 'raro', %1), ('sinclave', 'sinclave', NULL), ('colision', 'c', %2);"
                                      "DROP ROLE IF EXISTS colision; CREATE ROLE colision NOLOGIN;")
                           .arg(lit(desconocido), lit(colision))));
    const QString bueno = respaldar(QStringLiteral("con roles.zip"));
    const QString sinRoles = m_dir.file(QStringLiteral("sin roles.zip"));
    hacerZip(sinRoles, cambiar(miembros(bueno), QStringLiteral("rolesv7.sql"), {}));

    const ResultadoRestauracion r = restaurar(sinRoles);
    ASSERT_TRUE(r.ok) << r.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.noIncorporados, QStringList{QStringLiteral("colision")});
    EXPECT_TRUE(r.texto.endsWith(QStringLiteral("duplicidad en su información:\r\ncolision"))) << r.texto.toStdString();
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role(%1, '%2', 'MEMBER')").arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("t"));
    }
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = $$O''Brien$$")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT rolsuper::text || rolcreaterole::text FROM pg_roles WHERE rolname = "
                                      "'jefa2'")),
              QStringLiteral("truetrue"));
    // The unknown code's row went at once; the closing delete (some user was left out) takes every row
    // still without a login, the one without a clave too.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas WHERE usuario IN ('raro', "
                                      "'sinclave', 'colision')")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN ('raro', 'sinclave')")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT rolcanlogin FROM pg_roles WHERE rolname = 'colision'")),
              QStringLiteral("f"));
    // The groups' privileges reach the schemas and the sequences too.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_schema_privilege('v7_usuario1', 'metadata', 'USAGE')::text || "
                                      "has_sequence_privilege('v7_usuario1', 'metadata.folio_seq', 'USAGE')::text || "
                                      "has_table_privilege('v7_usuario2', 'prestamo.multas', 'INSERT')::text || "
                                      "has_table_privilege('v7_usuario2', 'prestamo.multas', 'TRUNCATE')::text")),
              QStringLiteral("truetruetruefalse"));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP ROLE colision;")));
}

} // namespace

namespace {

// A staff login that still owns something in another database cannot be dropped: it is written to the
// role-removal log and named once, by the log's path; the restore goes on.
TEST_F(Restauracion, StaffLoginHeldByAnotherDatabaseIsLogged) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("dependencias.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE IF EXISTS ajena; CREATE TABLE ajena (i int); "
                                      "ALTER TABLE ajena OWNER TO nivel1;"),
                       nullptr, QStringLiteral("postgres")));
    const ResultadoRestauracion r = restaurar(archivo);
    EXPECT_TRUE(r.ok) << r.texto.toStdString();
    const QString log = rutaLogUsuariosRestaurados(QDate::currentDate());
    ASSERT_EQ(m_avisos.size(), 1) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(m_avisos[0].startsWith(QStringLiteral("No se eliminaron algunos usuarios debido a que tienen "
                                                      "dependencias de otras bases de datos")));
    EXPECT_TRUE(m_avisos[0].endsWith(log));
    EXPECT_TRUE(leer(log).contains("nivel1")) << leer(log).toStdString();
    EXPECT_EQ(QFileInfo(log).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    EXPECT_TRUE(puedeEntrar(QStringLiteral("nivel1"), QStringLiteral("n1")));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE ajena;"), nullptr, QStringLiteral("postgres")));
}

} // namespace
