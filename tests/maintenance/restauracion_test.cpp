#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/fallos_ui.h"
#include "core/inicio_sesion.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/permisos.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/mantenimiento.h"
#include "maintenance/respaldo_manual.h"
#include "maintenance/restauracion.h"
#include "maintenance/restauracion_roles.h"
#include "maintenance/zona_horaria.h"
#include "platform/db.h"
#include "platform/keystore.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/widgets_ui.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/maintenance/archivo_restauracion.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabBar>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <thread>

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

// Another client of the database, a psql of its own named nombre: runs sql inside a transaction that it
// leaves open until the object goes (or the server ends its session).
class OtroCliente {
public:
    OtroCliente(const QString& nombre, const QString& sql) : m_nombre(nombre) {
        auto& c = PgCluster::instance();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), c.password());
        env.insert(QStringLiteral("PGAPPNAME"), nombre);
        m_psql.setProcessEnvironment(env);
        m_psql.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_psql.setStandardOutputFile(QProcess::nullDevice());
        m_psql.start(c.binFolder() + QStringLiteral("/psql"),
                     {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), c.host(), QStringLiteral("-p"),
                      QString::number(c.port()), QStringLiteral("-U"), c.superuser(), QStringLiteral("-d"),
                      QStringLiteral("veliro7")});
        EXPECT_TRUE(m_psql.waitForStarted());
        m_psql.write((QStringLiteral("BEGIN;\n") + sql + QStringLiteral(";\n")).toUtf8());
        m_psql.waitForBytesWritten();
        EXPECT_TRUE(esperarHasta(
            [&] {
                return c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE application_name = ") +
                                lit(m_nombre) + QStringLiteral(" AND state = 'idle in transaction'")) ==
                       QLatin1String("1");
            },
            30000))
            << nombre.toStdString();
        m_pid = pid();
    }
    ~OtroCliente() {
        m_psql.closeWriteChannel();
        if (!m_psql.waitForFinished(10000)) {
            m_psql.kill();
            m_psql.waitForFinished();
        }
    }
    // Its server session's pid while it is connected; empty once its session was ended.
    QString pid() const {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = ") + lit(m_nombre));
    }
    QString pidInicial() const { return m_pid; }
    bool vivo() const { return !pid().isEmpty(); }

private:
    QString m_nombre;
    QString m_pid;
    QProcess m_psql;
};

// Whether the server holds a restore's mark; the mark itself.
std::optional<MarcaRestauracion> marcaDelServidor() {
    db::Connection k;
    k.setConnectionString(PgCluster::instance().connectionString());
    db::DbError e;
    EXPECT_TRUE(k.open(e)) << e.description.toStdString();
    const LecturaMarcaServidor l = leerMarcaRestauracionServidor(k);
    EXPECT_TRUE(l.ok) << l.error.toStdString();
    return l.marca;
}

// The question about other sessions, for tests that see none: a question fails the test, and is answered No.
std::function<bool(const QString&)> sinPreguntaDeSesiones() {
    return [](const QString& pregunta) {
        ADD_FAILURE() << "unexpected question about other sessions: " << pregunta.toStdString();
        return false;
    };
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
        EXPECT_TRUE(m.ok) << m.mensaje.texto.toStdString();
        return destino;
    }

    // The restore routine with the zone window answered by zona; the messages on the way are collected. No
    // other client is connected: a question about other sessions fails the test.
    ResultadoRestauracion restaurar(const QString& archivo, const QString& zona = kZona) {
        InterfazRestauracion ui;
        ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
        ui.terminarSesiones = sinPreguntaDeSesiones();
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

    // The dump's own structure, read without decompressing: whole, cut short, with a byte added, without its
    // header, cut in its table of contents.
    {
        struct Estructura {
            const char* nombre;
            QByteArray datos;
            bool reconocida, conDesplazamientos, completa;
        };
        const Estructura estructuras[] = {
            {"whole", volcado, true, true, true},
            {"one byte short", volcado.chopped(1), true, true, false},
            {"last 100 bytes missing", volcado.chopped(100), true, true, false},
            {"one byte more", volcado + '\0', true, true, false},
            {"without its magic", volcado.mid(5), false, false, false},
            {"cut in its table of contents", volcado.left(200), false, false, false},
        };
        for (const Estructura& k : estructuras) {
            SCOPED_TRACE(k.nombre);
            const QString ruta = m_dir.file(QStringLiteral("volcado"));
            escribir(ruta, k.datos);
            const EstructuraVolcado e = examinarVolcado(ruta);
            EXPECT_EQ(e.reconocida, k.reconocida) << e.motivo.toStdString();
            EXPECT_EQ(e.conDesplazamientos, k.conDesplazamientos) << e.motivo.toStdString();
            EXPECT_EQ(e.completa, k.completa) << e.motivo.toStdString();
            EXPECT_EQ(e.motivo.isEmpty(), k.completa);
        }
    }

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
        {"roles file running a shell",
         [&](const QString& z) {
             hacerZip(z, cambiar(m, QStringLiteral("rolesv7.sql"),
                                 miembro(bueno, QStringLiteral("rolesv7.sql")) + "\\! touch " +
                                     QFile::encodeName(m_dir.file(QStringLiteral("marcador"))) + "\n"));
         },
         QStringLiteral("El archivo rolesv7.sql del respaldo no se puede usar, no se ejecutó nada de él")},
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
        EXPECT_TRUE(r.mensaje.texto.startsWith(k.mensaje)) << r.mensaje.texto.toStdString();
        EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")))
            << r.mensaje.texto.toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(m_zonasPedidas, 0);
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM extra.marca")), QStringLiteral("intacta"));
        EXPECT_EQ(roles(), rolesAntes);
        EXPECT_EQ(sesion().BaseDatosValida, validaAntes);
        EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
        EXPECT_FALSE(QFileInfo::exists(sesion().RutaTemporal + kCarpetaRestauracion));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        EXPECT_FALSE(QFileInfo::exists(m_dir.file(QStringLiteral("marcador"))));
    }

    // A member whose name differs only in case is found: the archive is accepted and restored.
    const QString mayusculas = m_dir.file(QStringLiteral("mayusculas.zip"));
    hacerZip(mayusculas, cambiar(m, QStringLiteral("checksum.dat"), miembro(bueno, QStringLiteral("checksum.dat")),
                                 QStringLiteral("Checksum.dat")));
    const ResultadoRestauracion r = restaurar(mayusculas);
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
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
    EXPECT_EQ(r.mensaje.texto,
              QStringLiteral("Al parecer la restauración no se realizó correctamente ya que el respaldo "
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
    // The archive is chosen in the save dialog, which must not offer to overwrite the only backup.
    dialogs.answer(archivo);
    click(w, "BtnExaminarRespaldo");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, QStringLiteral("save"));
    EXPECT_FALSE(dialogs.shown()[0].preguntaReemplazo);
    EXPECT_EQ(hijo<QLineEdit>(w, "TxtRutaRespaldo")->text(), archivo);
    // Another client sits in an open transaction: the window asks before ending it.
    OtroCliente otra(QStringLiteral("cliente_ida_y_vuelta"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    dialogs.clear();
    bool zonaVista = false;
    alPedirZona(w, kZona, &zonaVista);
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Ok);
    Muestreo muestreo(w);
    click(w, "BtnMontar");
    muestreo.detener();

    EXPECT_TRUE(zonaVista);
    ASSERT_EQ(dialogs.shown().size(), 4u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("ATENCION: Proceso crítico"));
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[0].porDefecto, std::optional<MsgResult>(MsgResult::No)); // Enter must not restore
    EXPECT_EQ(dialogs.shown()[1].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[1].porDefecto, std::optional<MsgResult>(MsgResult::No));
    EXPECT_TRUE(dialogs.shown()[1].text.contains(QStringLiteral("sesión ") + otra.pidInicial() +
                                                 QStringLiteral(" del usuario postgres, programa "
                                                                "cliente_ida_y_vuelta, desde el equipo 127.0.0.1, "
                                                                "inactiva dentro de una transacción abierta")))
        << dialogs.shown()[1].text.toStdString();
    EXPECT_EQ(dialogs.shown()[2].text,
              QStringLiteral("La opción seleccionada es: ") + kZona + QStringLiteral("\r\n¿ Desea continuar ?"));
    EXPECT_EQ(dialogs.shown()[3].text, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    EXPECT_EQ(dialogs.shown()[3].icon, MsgIcon::Information);
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(otra.vivo()); // ended by the restore
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
    // Staff rows stay private after the restore's grants: a Nivel1 login reads its own row only and writes none.
    {
        db::Connection nivel1;
        nivel1.setConnectionString(c.connectionString(QStringLiteral("nivel1"), QStringLiteral("n1")));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(nivel1.open(e)) << e.description.toStdString();
        auto rs = nivel1.query(QStringLiteral("SELECT string_agg(usuario, ',') FROM catalogos.analistas"), e);
        ASSERT_NE(rs, nullptr) << e.description.toStdString();
        EXPECT_EQ(rs->text(0), QStringLiteral("nivel1"));
        EXPECT_FALSE(nivel1.execute(QStringLiteral("UPDATE catalogos.analistas SET nombre = 'x'"), n, e));
        nivel1.close();
    }

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
        // Older pg_dumpall began the roles file with a \connect: never run, and not held against the archive.
        hacerZip(z, cambiar(cambiar(miembros(bueno), QStringLiteral("checksum.dat"), checksumConMotor(bueno, motor)),
                            QStringLiteral("rolesv7.sql"),
                            "\\connect postgres\n\n" + miembro(bueno, QStringLiteral("rolesv7.sql"))));
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(z);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
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
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.noIncorporados, QStringList{QStringLiteral("colision")});
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("duplicidad en su información:\r\ncolision")))
        << r.mensaje.texto.toStdString();
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
    // Staff can use every schema of the dump, funciones too, although nothing was granted there before.
    EXPECT_EQ(
        c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname !~ '^pg_' AND nspname <> "
                                "'information_schema' AND NOT has_schema_privilege('v7_usuario1', oid, 'USAGE')")),
        QStringLiteral("0"));
    {
        db::Connection nivel1;
        nivel1.setConnectionString(c.connectionString(QStringLiteral("nivel1"), QStringLiteral("n1")));
        db::DbError e;
        ASSERT_TRUE(nivel1.open(e)) << e.description.toStdString();
        auto rs = nivel1.query(QStringLiteral("SELECT funciones.fechatexto(timestamp '2024-01-02 03:04:05')"), e);
        EXPECT_NE(rs, nullptr) << e.description.toStdString();
        nivel1.close();
    }
    ASSERT_TRUE(c.psql(QStringLiteral("DROP ROLE colision;")));
}

// A login that may not leave the mark on the server (not a superuser) restores nothing: it is refused before
// anything changes, and neither mark is left.
TEST_F(Restauracion, ALoginThatCannotMarkTheServerChangesNothing) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("administrador.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    // Told before anything else: no question about this other client (which the login can see), which goes on.
    ASSERT_TRUE(c.psql(QStringLiteral("GRANT pg_read_all_stats TO ") + kAdmin.usuario));
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    OtroCliente otro(QStringLiteral("cliente_a"), QStringLiteral("SELECT 1"));
    const ResultadoRestauracion r = restaurar(archivo);
    EXPECT_TRUE(otro.vivo());
    EXPECT_TRUE(c.psql(QStringLiteral("REVOKE pg_read_all_stats FROM ") + kAdmin.usuario));
    EXPECT_TRUE(r.rechazado);
    EXPECT_TRUE(r.mensaje.texto.startsWith(QStringLiteral(
        "No se pudo registrar el inicio de la restauración en el servidor (solo un usuario con permisos de "
        "Superusuario puede restaurar la base de datos): ")))
        << r.mensaje.texto.toStdString();
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(marcaDelServidor().has_value());
}

// What the server lacks or holds otherwise than the archive says is named in the closing message, and the
// restore still completes: the owners whose objects passed to the session's login, the roles whose grants
// were left out, and the archive's staff logins that exist without their login or group. The objects of the
// owners that exist keep their owner.
TEST_F(Restauracion, MissingRolesAndHalfMadeStaffLoginsAreNamedAtTheEnd) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(
        QStringLiteral("DROP ROLE IF EXISTS dueno_app, lector_app; CREATE ROLE dueno_app; CREATE ROLE lector_app;"
                       "CREATE TABLE servicios.propia (i int); ALTER TABLE servicios.propia OWNER TO dueno_app;"
                       "GRANT SELECT ON servicios.propia TO lector_app; GRANT SELECT ON prestamo.multas TO lector_app;"
                       "CREATE TABLE servicios.ajena (i int); ALTER TABLE servicios.ajena OWNER TO otra_app;")));
    const QString conRoles = respaldar(QStringLiteral("con roles.zip"));
    const QString sinRoles = m_dir.file(QStringLiteral("sin roles.zip"));
    hacerZip(sinRoles, cambiar(miembros(conRoles), QStringLiteral("rolesv7.sql"), {}));
    auto duenos = [&] {
        return c.scalar(QStringLiteral("SELECT string_agg(relname || ':' || pg_get_userbyid(relowner), ',' ORDER BY "
                                       "relname) FROM pg_class WHERE relname IN ('propia', 'ajena', 'multas')"));
    };
    // A staff login of the archive that is not in its group any more (as a restore stopped half way before
    // the roles step was whole could leave it): a restore keeps it as it is, and says so.
    const QString fueraDelGrupo = QStringLiteral("nivel1 (no pertenece al grupo v7_usuario1)");
    struct Caso {
        const char* nombre;
        bool conRoles;
        QStringList notas; // the closing message's notes, in order
    };
    const Caso casos[] = {
        // The roles file makes the owner and the grantee the dump names.
        {"with the roles file",
         true,
         {QStringLiteral("Estos usuarios analistas del respaldo existen en este servidor sin el inicio de sesión o el "
                         "grupo que el respaldo les da, y se dejaron como estaban:\r\n   - ") +
          fueraDelGrupo}},
        {"without the roles file",
         false,
         {QStringLiteral("Los objetos de estos propietarios, que no existen en este servidor, quedaron a nombre de "
                         "jefe: dueno_app."),
          QStringLiteral("Se omitieron los permisos que el respaldo daba a estos roles, que no existen en este "
                         "servidor:\r\n   - lector_app: TABLE prestamo.multas, TABLE servicios.propia"),
          QStringLiteral("Estos usuarios analistas del respaldo existen en este servidor sin el inicio de sesión o el "
                         "grupo que el respaldo les da, y se dejaron como estaban:\r\n   - ") +
              fueraDelGrupo}},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        ASSERT_TRUE(c.psql(QStringLiteral("DROP OWNED BY dueno_app, lector_app CASCADE; DROP ROLE dueno_app, "
                                          "lector_app; REVOKE v7_usuario1 FROM nivel1;")));
        const ResultadoRestauracion r = restaurar(k.conRoles ? conRoles : sinRoles);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(iconoDe(r.mensaje.gravedad), MsgIcon::Warning);
        EXPECT_EQ(r.mensaje.texto, QStringLiteral("La base de datos ha sido restaurada correctamente\r\n\r\n") +
                                       k.notas.join(QStringLiteral("\r\n\r\n")) +
                                       QStringLiteral("\r\n\r\nLos detalles están en el archivo: ") +
                                       rutaLogRestauracion(QDate::currentDate()));
        EXPECT_TRUE(leer(rutaLogRestauracion(QDate::currentDate())).contains("lector_app") || k.conRoles);
        EXPECT_EQ(duenos(), k.conRoles ? QStringLiteral("ajena:otra_app,multas:postgres,propia:dueno_app")
                                       : QStringLiteral("ajena:otra_app,multas:postgres,propia:jefe"));
        EXPECT_TRUE(puedeEntrar(QStringLiteral("nivel1"), QStringLiteral("n1")));
        if (k.conRoles) {
            EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_table_privilege('lector_app', 'servicios.propia', "
                                              "'SELECT')")),
                      QStringLiteral("t"));
            ASSERT_TRUE(c.psql(QStringLiteral("GRANT v7_usuario1 TO nivel1;")));
        }
    }
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
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString();
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

namespace {

// --- Readers of the dump and the roles file ---

TEST(RestauracionLectores, PrivilegeStatementsNameTheirRoles) {
    const std::pair<const char*, QStringList> casos[] = {
        {"GRANT SELECT ON TABLE adquis.t TO reportes_ro;", {QStringLiteral("reportes_ro")}},
        {"GRANT SELECT ON TABLE adquis.t TO g2 WITH GRANT OPTION;", {QStringLiteral("g2")}},
        {"GRANT SELECT(v) ON TABLE adquis.t TO \"O'Brien\";", {QStringLiteral("O'Brien")}},
        {"GRANT SELECT(\"to\") ON TABLE adquis.\"TO x\" TO \"Ana Admin\", Lector GRANTED BY dueno;",
         {QStringLiteral("Ana Admin"), QStringLiteral("lector"), QStringLiteral("dueno")}},
        {"REVOKE ALL ON SCHEMA public FROM PUBLIC;", {}},
        {"REVOKE ALL ON TABLE adquis.t FROM dueno_v7;", {QStringLiteral("dueno_v7")}},
        {"GRANT SELECT ON LARGE OBJECT 16399 TO reportes_ro;", {QStringLiteral("reportes_ro")}},
        {"ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 IN SCHEMA adquis GRANT SELECT ON TABLES  TO reportes_ro;",
         {QStringLiteral("dueno_v7"), QStringLiteral("reportes_ro")}},
        {"ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 REVOKE ALL ON FUNCTIONS FROM PUBLIC;",
         {QStringLiteral("dueno_v7")}},
        {"SET SESSION AUTHORIZATION g2;", {QStringLiteral("g2")}},
        {"RESET SESSION AUTHORIZATION;", {}},
        {"CREATE POLICY p ON catalogos.analistas FOR SELECT TO v7_usuario1, v7_usuario2 USING ((usuario = "
         "(SESSION_USER)::text));",
         {QStringLiteral("v7_usuario1"), QStringLiteral("v7_usuario2")}},
        {"GRANT ALL ON SCHEMA s TO CURRENT_USER;", {}},
        {"GRANT USAGE ON SCHEMA s TO GROUP grupo_viejo;", {QStringLiteral("grupo_viejo")}},
    };
    for (const auto& [sql, roles] : casos) {
        EXPECT_EQ(rolesDeSentencia(QString::fromUtf8(sql)), roles) << sql;
    }
}

// The roles file makes what the server lacks of the staff and of what the dump names, with the memberships
// these need; a role that exists (not a group), a protected one and the rest of the file are left alone.
TEST(RestauracionLectores, RolesFileMakesOnlyWhatTheDumpNeeds) {
    const QString volcado = QStringLiteral("\\restrict k\n"
                                           "SET standard_conforming_strings = on;\n"
                                           "CREATE ROLE dueno_v7;\n"
                                           "ALTER ROLE dueno_v7 WITH NOSUPERUSER NOLOGIN;\n"
                                           "CREATE ROLE lectores;\n"
                                           "ALTER ROLE lectores WITH NOLOGIN;\n"
                                           "CREATE ROLE reportes_ro;\n"
                                           "ALTER ROLE reportes_ro WITH NOLOGIN;\n"
                                           "CREATE ROLE ajena;\n"
                                           "ALTER ROLE ajena WITH LOGIN PASSWORD 'md5x';\n"
                                           "CREATE ROLE existente;\n"
                                           "ALTER ROLE existente WITH LOGIN PASSWORD 'md5nueva';\n"
                                           "CREATE ROLE postgres;\n"
                                           "ALTER ROLE postgres WITH SUPERUSER LOGIN PASSWORD 'md5pg';\n"
                                           "CREATE ROLE v7_usuario1;\n"
                                           "ALTER ROLE v7_usuario1 WITH NOLOGIN;\n"
                                           "CREATE ROLE \"Ana O'Hara\";\n"
                                           "ALTER ROLE \"Ana O'Hara\" WITH LOGIN PASSWORD 'SCRAM-SHA-256$y';\n"
                                           "GRANT lectores TO reportes_ro GRANTED BY postgres;\n"
                                           "GRANT pg_read_all_data TO reportes_ro GRANTED BY postgres;\n"
                                           "GRANT v7_usuario1 TO \"Ana O'Hara\" GRANTED BY postgres;\n"
                                           "GRANT reportes_ro TO existente GRANTED BY postgres;\n"
                                           "GRANT reportes_ro TO ajena GRANTED BY postgres;\n"
                                           "\\unrestrict k\n");
    RolesFiltrados detalle;
    const QString f = filtrarRoles(
        volcado, {QStringLiteral("postgres"), QStringLiteral("jefe")},
        {QStringLiteral("v7_usuario1"), QStringLiteral("existente"), QStringLiteral("postgres")},
        {QStringLiteral("dueno_v7"), QStringLiteral("reportes_ro"), QStringLiteral("existente")}, &detalle);
    EXPECT_EQ(f, QStringLiteral("SET standard_conforming_strings = on;\n"
                                "CREATE ROLE dueno_v7;\n"
                                "ALTER ROLE dueno_v7 WITH NOSUPERUSER NOLOGIN;\n"
                                "CREATE ROLE lectores;\n"
                                "ALTER ROLE lectores WITH NOLOGIN;\n"
                                "CREATE ROLE reportes_ro;\n"
                                "ALTER ROLE reportes_ro WITH NOLOGIN;\n"
                                "ALTER ROLE v7_usuario1 WITH NOLOGIN;\n"
                                "CREATE ROLE \"Ana O'Hara\";\n"
                                "ALTER ROLE \"Ana O'Hara\" WITH LOGIN PASSWORD 'SCRAM-SHA-256$y';\n"
                                "GRANT lectores TO reportes_ro;\n"
                                "GRANT pg_read_all_data TO reportes_ro;\n"
                                "GRANT v7_usuario1 TO \"Ana O'Hara\";\n"));
    EXPECT_EQ(detalle.creados, (QStringList{QStringLiteral("dueno_v7"), QStringLiteral("lectores"),
                                            QStringLiteral("reportes_ro"), QStringLiteral("Ana O'Hara")}));
    EXPECT_EQ(detalle.omitidos, (QStringList{QStringLiteral("existente"), QStringLiteral("postgres")}));
}

// A server tool of the fixture's cluster as its superuser; true when it exited 0.
bool herramientaPg(const QString& programa, const QStringList& argumentos) {
    auto& c = PgCluster::instance();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), c.password());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(c.binFolder() + QLatin1Char('/') + programa,
            QStringList{QStringLiteral("-h"), c.host(), QStringLiteral("-p"), QString::number(c.port()),
                        QStringLiteral("-U"), c.superuser()} +
                argumentos);
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) {
        ADD_FAILURE() << programa.toStdString() << ": " << p.readAll().toStdString();
    }
    return ok;
}

// A command line run by sh with the cluster's password in its environment; true when it exited 0.
bool shConClave(const QString& linea) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), PgCluster::instance().password());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), linea});
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) {
        ADD_FAILURE() << linea.toStdString() << ": " << p.readAll().toStdString();
    }
    return ok;
}

// An archive packed with 7za, as an administrator would by hand.
void empacar(const QString& zip, const QStringList& archivos) {
    QFile::remove(zip);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("7za"), QStringList{QStringLiteral("a"), QStringLiteral("-tzip"), zip} + archivos);
    ASSERT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0) << p.readAll().toStdString();
}

// The roles whose attributes, passwords and memberships a round trip must give back.
const QStringList kRolesComparados = {
    QStringLiteral("v7_super"),    QStringLiteral("v7_admin"), QStringLiteral("v7_usuario1"),
    QStringLiteral("v7_usuario2"), QStringLiteral("O'Brien"),  QStringLiteral("Ana Admin"),
    QStringLiteral("nivel1"),      QStringLiteral("jefa2"),    QStringLiteral("jefe"),
    QStringLiteral("adm"),         QStringLiteral("usr1"),     QStringLiteral("dueno_v7"),
    QStringLiteral("reportes_ro")};

// Everything a restore must give back, one line per kind: every table's rows (the configuration and the
// backup's control counts aside), owners and privileges of tables, sequences, columns, schemas, functions,
// default privileges and policies, every large object with its owner, privileges and bytes, every
// sequence's value, and the roles above with their attributes, passwords and memberships.
QStringList huella(const std::function<bool(const QString&, QString*)>& psql) {
    const QString sistema = QStringLiteral("nspname !~ '^pg_' AND nspname <> 'information_schema'");
    QStringList roles;
    for (const QString& r : kRolesComparados) {
        roles << QLatin1Char('\'') + QString(r).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
    }
    const QString lista = roles.join(QLatin1Char(','));
    // Each line: a label and its values sorted, "kind value,value,…".
    auto linea = [](const char* etiqueta, const QString& valor, const QString& desde) {
        return QStringLiteral(
                   "SELECT '%1 ' || coalesce(string_agg(v, ',' ORDER BY v), '') FROM (SELECT %2 AS v %3) s;\n")
            .arg(QString::fromLatin1(etiqueta), valor, desde);
    };
    const QString sql =
        linea("filas",
              QStringLiteral("format('%1$I.%2$I', table_schema, table_name) || '=' || (xpath('/table/row/h/text()', "
                             "query_to_xml(format('SELECT md5(coalesce(string_agg(t::text, ''|'' ORDER BY t::text), "
                             "'''')) AS h FROM %1$I.%2$I t', table_schema, table_name), false, false, '')))[1]::text"),
              QStringLiteral("FROM information_schema.tables WHERE table_type = 'BASE TABLE' AND table_schema NOT IN "
                             "('pg_catalog', 'information_schema') AND (table_schema, table_name) NOT IN "
                             "(('config_veliro', 'configuracion'), ('config_veliro', 'control'))")) +
        linea("objetos",
              QStringLiteral("n.nspname || '.' || c.relname || ':' || c.relkind::text || ':' || "
                             "pg_get_userbyid(c.relowner) || ':' || coalesce(c.relacl::text, '-')"),
              QStringLiteral("FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE ") + sistema +
                  QStringLiteral(" AND c.relkind IN ('r', 'v', 'm', 'S', 'p', 'f')")) +
        linea("columnas", QStringLiteral("c.oid::regclass::text || '.' || a.attname || ':' || a.attacl::text"),
              QStringLiteral("FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = "
                             "c.relnamespace WHERE a.attacl IS NOT NULL AND ") +
                  sistema) +
        linea("esquemas",
              QStringLiteral("nspname || ':' || pg_get_userbyid(nspowner) || ':' || coalesce(nspacl::text, '-')"),
              QStringLiteral("FROM pg_namespace WHERE ") + sistema) +
        linea("funciones",
              QStringLiteral("p.oid::regprocedure::text || ':' || pg_get_userbyid(p.proowner) || ':' || "
                             "coalesce(p.proacl::text, '-')"),
              QStringLiteral("FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE ") + sistema) +
        linea("predeterminados",
              QStringLiteral("pg_get_userbyid(defaclrole) || ':' || defaclnamespace::regnamespace::text || ':' || "
                             "defaclobjtype::text || ':' || defaclacl::text"),
              QStringLiteral("FROM pg_default_acl")) +
        linea("politicas",
              QStringLiteral("schemaname || '.' || tablename || '.' || policyname || ':' || array_to_string(roles, "
                             "'+')"),
              QStringLiteral("FROM pg_policies")) +
        linea("objetos_grandes",
              QStringLiteral("m.oid || ':' || pg_get_userbyid(m.lomowner) || ':' || coalesce(m.lomacl::text, '-') || "
                             "':' || md5(lo_get(m.oid))"),
              QStringLiteral("FROM pg_largeobject_metadata m")) +
        linea("secuencias",
              QStringLiteral("schemaname || '.' || sequencename || '=' || coalesce(last_value::text, '-')"),
              QStringLiteral("FROM pg_sequences")) +
        linea("roles",
              QStringLiteral("rolname || ':' || rolsuper || rolinherit || rolcreaterole || rolcreatedb || rolcanlogin "
                             "|| rolreplication || rolbypassrls || ':' || coalesce(rolpassword, '-')"),
              QStringLiteral("FROM pg_authid WHERE rolname IN (") + lista + QLatin1Char(')')) +
        linea("miembros", QStringLiteral("g.rolname || '>' || m.rolname || ':' || a.admin_option"),
              QStringLiteral("FROM pg_auth_members a JOIN pg_roles g ON g.oid = a.roleid JOIN pg_roles m ON m.oid = "
                             "a.member WHERE m.rolname IN (") +
                  lista + QLatin1Char(')'));
    QString salida;
    EXPECT_TRUE(psql(sql, &salida));
    return salida.trimmed().split(QLatin1Char('\n'));
}

QStringList huellaDe(const PgCluster& c) {
    return huella([&](const QString& sql, QString* out) { return c.psql(sql, out); });
}

void compararHuellas(const QStringList& antes, const QStringList& despues) {
    ASSERT_EQ(antes.size(), despues.size());
    for (qsizetype i = 0; i < antes.size(); ++i) {
        EXPECT_EQ(despues[i], antes[i]) << "line " << i;
    }
}

// Round trips of an archive written by the kit and one made by hand with pg_dump -Fc, pg_dumpall -g and
// 7za, onto this server (where the data, a large object, a staff password and a role changed since the
// backup) and onto a fresh server that has none of the roles: everything comes back.
TEST_F(Restauracion, RoundTripsOntoThisServerAndAFreshOne) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "DROP ROLE IF EXISTS dueno_v7, reportes_ro;"
        "CREATE ROLE dueno_v7 LOGIN PASSWORD 'dueño-clave'; CREATE ROLE reportes_ro;"
        "CREATE TABLE prestamo.historial (id serial PRIMARY KEY, nota text, foto oid);"
        "ALTER TABLE prestamo.historial OWNER TO dueno_v7;"
        "INSERT INTO prestamo.historial (nota, foto) VALUES ('uno', lo_from_bytea(0, 'foto uno')), "
        "('dos', lo_from_bytea(0, convert_to(repeat('grande ', 50000), 'UTF8')));"
        "DO $$DECLARE o oid; BEGIN FOR o IN SELECT foto FROM prestamo.historial LOOP "
        "EXECUTE format('ALTER LARGE OBJECT %s OWNER TO dueno_v7', o); END LOOP;"
        "EXECUTE format('GRANT SELECT ON LARGE OBJECT %s TO reportes_ro', (SELECT min(foto) FROM prestamo.historial));"
        "END$$;"
        "GRANT SELECT ON prestamo.historial TO reportes_ro;"
        "GRANT SELECT (nota) ON prestamo.historial TO \"O'Brien\";"
        "ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 IN SCHEMA prestamo GRANT SELECT ON TABLES TO reportes_ro;"
        "SELECT setval('prestamo.historial_id_seq', 40);")));
    // The source as a restore leaves a database (the groups' grants, private staff rows, raised sequences),
    // so what comes back can be compared whole.
    ASSERT_EQ(asignarPermisosRestauracion(kEsquemasSistema), QStringList());
    ASSERT_EQ(ActualizarSecuenciasVELIRO(), QStringList());
    const QStringList antes = huellaDe(c);

    const QString kit = respaldar(QStringLiteral("kit.zip"));
    const QString carpeta = m_dir.file(QStringLiteral("a mano/"));
    QDir().mkpath(carpeta);
    ASSERT_TRUE(
        herramientaPg(QStringLiteral("pg_dump"), {QStringLiteral("-Fc"), QStringLiteral("-b"), QStringLiteral("-f"),
                                                  carpeta + QStringLiteral("base.backup"), QStringLiteral("veliro7")}));
    ASSERT_TRUE(herramientaPg(QStringLiteral("pg_dumpall"),
                              {QStringLiteral("-g"), QStringLiteral("-f"), carpeta + QStringLiteral("rolesv7.sql")}));
    escribir(carpeta + QStringLiteral("checksum.dat"), miembro(kit, QStringLiteral("checksum.dat")));
    const QString mano = m_dir.file(QStringLiteral("a mano.zip"));
    empacar(mano, {carpeta + QStringLiteral("base.backup"), carpeta + QStringLiteral("rolesv7.sql"),
                   carpeta + QStringLiteral("checksum.dat")});
    const std::pair<const char*, QString> archivos[] = {{"kit's archive", kit}, {"hand-made archive", mano}};

    for (const auto& [nombre, archivo] : archivos) {
        SCOPED_TRACE(std::string(nombre) + " onto this server");
        ASSERT_TRUE(c.psql(QStringLiteral(
            "SELECT lo_put(foto, 0, convert_to('FOTO CAMBIADA Y MAS LARGA QUE ANTES', 'UTF8')) FROM "
            "prestamo.historial WHERE nota = 'uno';"
            "SELECT lo_unlink(foto) FROM prestamo.historial WHERE nota = 'dos'; SELECT lo_from_bytea(0, 'nuevo');"
            "UPDATE prestamo.historial SET nota = 'cambiada'; SELECT setval('prestamo.historial_id_seq', 90);"
            "DROP OWNED BY reportes_ro; DROP ROLE reportes_ro; ALTER ROLE \"O'Brien\" PASSWORD 'otra';")));
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(archivo);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        compararHuellas(antes, huellaDe(c));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        EXPECT_TRUE(puedeEntrar(kStaff[0].usuario, kStaff[0].clave));
    }

    // A fresh server: only its bootstrap superuser, the session's login, and an empty veliro7.
    ClusterNuevo nuevo(c.binFolder());
    ASSERT_TRUE(nuevo.ok());
    auto& s = sesion();
    auto conectarNuevo = [&] {
        s.UsuarioBD = s.UsuarioConexion = nuevo.superuser();
        s.ClaveBD = s.ClaveConexion = nuevo.password();
        s.ServidorIP = s.ServidorConexion = nuevo.host();
        s.PuertoBD = nuevo.port();
        s.PuertoConexion = QString::number(nuevo.port());
        s.RutaPostgres = nuevo.installFolder();
        s.CadenaConexion = nuevo.connectionString(nuevo.superuser(), nuevo.password());
        QString error;
        return ConexionServer(s.CadenaConexion, error);
    };
    bool primero = true;
    for (const auto& [nombre, archivo] : archivos) {
        SCOPED_TRACE(std::string(nombre) + " onto a fresh server");
        if (!primero) {
            conexionPrincipal().close();
            ASSERT_TRUE(nuevo.psql(QStringLiteral("DROP DATABASE veliro7 WITH (FORCE); CREATE DATABASE veliro7;"
                                                  "DO $$DECLARE r text; BEGIN FOR r IN SELECT rolname FROM pg_roles "
                                                  "WHERE rolname !~ '^pg_' AND rolname <> 'postgres' LOOP "
                                                  "EXECUTE format('DROP ROLE %I', r); END LOOP; END$$;"),
                                   nullptr, QStringLiteral("postgres")));
        }
        primero = false;
        ASSERT_TRUE(conectarNuevo());
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(archivo);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        compararHuellas(antes, huella([&](const QString& sql, QString* out) { return nuevo.psql(sql, out); }));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        db::Connection obrien;
        obrien.setConnectionString(nuevo.connectionString(kStaff[0].usuario, kStaff[0].clave));
        db::DbError e;
        EXPECT_TRUE(obrien.open(e)) << e.description.toStdString();
        obrien.close();
    }
    conexionPrincipal().close();
    ASSERT_TRUE(m_server->iniciarSesion());
}

// A dump whose work list holds the objects that every server has already (plpgsql as a language of its
// own, a schema public made by hand), as dumps of older servers do: they are left out and logged, and the
// restore ends without an error. Such a dump, written through a pipe, records no block offsets: it is read
// to its end before anything is dropped, and loaded by one job.
TEST_F(Restauracion, WorkListLeavesOutWhatTheServerHasAlready) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE FUNCTION funciones.doble(integer) RETURNS integer LANGUAGE plpgsql AS "
                                      "'BEGIN RETURN 2 * $1; END';")));
    const QString kit = respaldar(QStringLiteral("base.zip"));
    const QString plano = m_dir.file(QStringLiteral("plano.sql"));
    ASSERT_TRUE(herramientaPg(QStringLiteral("pg_dump"),
                              {QStringLiteral("-Fp"), QStringLiteral("-f"), plano, QStringLiteral("veliro7")}));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP DATABASE IF EXISTS antigua; CREATE DATABASE antigua TEMPLATE template0;"),
                       nullptr, QStringLiteral("postgres")));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP EXTENSION plpgsql; DROP SCHEMA public; CREATE SCHEMA public;"
                                      "GRANT ALL ON SCHEMA public TO PUBLIC;"
                                      "COMMENT ON SCHEMA public IS 'esquema de siempre';"
                                      "CREATE FUNCTION public.plpgsql_call_handler() RETURNS language_handler AS "
                                      "'$libdir/plpgsql' LANGUAGE C;"
                                      "CREATE TRUSTED LANGUAGE plpgsql HANDLER public.plpgsql_call_handler;"),
                       nullptr, QStringLiteral("antigua")));
    ASSERT_TRUE(herramientaPg(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                                       QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"),
                                                       QStringLiteral("antigua"), QStringLiteral("-f"), plano}));
    const QString carpeta = m_dir.file(QStringLiteral("antigua/"));
    QDir().mkpath(carpeta);
    auto& pg = PgCluster::instance();
    ASSERT_TRUE(shConClave(process::shellQuote(pg.binFolder() + QStringLiteral("/pg_dump")) + QStringLiteral(" -h ") +
                           pg.host() + QStringLiteral(" -p ") + QString::number(pg.port()) +
                           QStringLiteral(" -U postgres -Fc antigua | cat > ") +
                           process::shellQuote(carpeta + QStringLiteral("base.backup"))));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP DATABASE antigua;"), nullptr, QStringLiteral("postgres")));
    const EstructuraVolcado e = examinarVolcado(carpeta + QStringLiteral("base.backup"));
    EXPECT_TRUE(e.reconocida);
    EXPECT_FALSE(e.conDesplazamientos);
    escribir(carpeta + QStringLiteral("checksum.dat"), miembro(kit, QStringLiteral("checksum.dat")));
    escribir(carpeta + QStringLiteral("rolesv7.sql"), miembro(kit, QStringLiteral("rolesv7.sql")));
    const QString archivo = m_dir.file(QStringLiteral("antigua.zip"));
    empacar(archivo, {carpeta + QStringLiteral("base.backup"), carpeta + QStringLiteral("rolesv7.sql"),
                      carpeta + QStringLiteral("checksum.dat")});

    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    const QString log = QString::fromUtf8(leer(rutaLogRestauracion(QDate::currentDate())));
    for (const char* omitida : {"PROCEDURAL LANGUAGE - plpgsql", "FUNCTION public plpgsql_call_handler()",
                                "SCHEMA - public", "COMMENT - SCHEMA public"}) {
        const QRegularExpression linea(QStringLiteral("--- omitido: \\d+; \\d+ \\d+ ") +
                                       QRegularExpression::escape(QString::fromUtf8(omitida)) + QLatin1Char(' '));
        EXPECT_TRUE(linea.match(log).hasMatch()) << omitida << "\n" << log.toStdString();
    }
    // The server's own plpgsql is the one the restored functions use; the dump's grants on public came back.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT funciones.doble(21)")), QStringLiteral("42"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_language l JOIN pg_depend d ON d.objid = l.oid AND "
                                      "d.deptype = 'e' WHERE l.lanname = 'plpgsql'")),
              QStringLiteral("1"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_proc WHERE proname = 'plpgsql_call_handler' AND "
                                      "pronamespace = 'public'::regnamespace")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_schema_privilege('public', 'public', 'CREATE')")),
              QStringLiteral("t"));
}

// Another client in an open transaction: the question names it, "No" changes nothing; a lock that another
// session takes after the question cannot be had in time, so nothing is dropped; "Sí" ends the sessions
// and the restore completes. This program's own connections (the shared one and others it opened) are never
// among the other sessions.
TEST_F(Restauracion, OtherSessionsAreNamedAndEndedOnlyWhenAllowed) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("sesiones.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    auto intacta = [&] { return c.scalar(QStringLiteral("SELECT t FROM despues.marca")) == QLatin1String("intacta"); };
    // A connection of this program's own, as the console's probe keeps one.
    db::Connection propia;
    propia.setConnectionString(c.connectionString(kJefe.usuario, kJefe.clave));
    {
        db::DbError e;
        ASSERT_TRUE(propia.open(e)) << e.description.toStdString();
    }
    QStringList preguntas;
    InterfazRestauracion ui;
    ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
    ui.elegirZona = [] { return kZona; };

    int barra = 0;
    QString estado;
    ui.avance = [&](int valor, const QString& texto) {
        barra = valor >= 0 ? valor : barra;
        estado = texto.isEmpty() ? estado : texto;
    };

    std::optional<OtroCliente> a;
    a.emplace(QStringLiteral("cliente_a"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    ui.terminarSesiones = [&](const QString& p) {
        preguntas << p;
        // While the question waits the status says so; the drops have not begun.
        EXPECT_EQ(barra, 2);
        EXPECT_EQ(estado, QStringLiteral("Hay otras sesiones conectadas a la base de datos; se espera su respuesta "
                                         "(todavía no se ha modificado nada)..."));
        return false;
    };
    ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    EXPECT_TRUE(r.rechazado);
    ASSERT_EQ(preguntas.size(), 1);
    // That session alone.
    EXPECT_EQ(preguntas[0].count(QStringLiteral("   - sesión ")), 1) << preguntas[0].toStdString();
    EXPECT_TRUE(preguntas[0].contains(QStringLiteral("sesión ") + a->pidInicial() +
                                      QStringLiteral(" del usuario postgres, programa cliente_a")))
        << preguntas[0].toStdString();
    EXPECT_TRUE(preguntas[0].contains(QStringLiteral("inactiva dentro de una transacción abierta")));
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")))
        << r.mensaje.texto.toStdString();
    EXPECT_TRUE(intacta());
    EXPECT_TRUE(a->vivo());
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_db_role_setting s, unnest(s.setconfig) c WHERE c "
                                      "LIKE 'v7.%'")),
              QStringLiteral("0"));

    std::optional<OtroCliente> b;
    ui.terminarSesiones = [&](const QString&) {
        b.emplace(QStringLiteral("cliente_b"), QStringLiteral("LOCK TABLE prestamo.multas IN ACCESS SHARE MODE"));
        return true;
    };
    Cronometro reloj;
    r = restaurarRespaldo(archivo, ui);
    EXPECT_GE(reloj.largo(), kPlazoBloqueoEliminacionMs - 500);
    EXPECT_TRUE(r.rechazado);
    EXPECT_TRUE(
        r.mensaje.texto.startsWith(QStringLiteral("No se eliminó ningún esquema: otra sesión ocupa la base de datos y "
                                                  "no la liberó en 10 segundos.")))
        << r.mensaje.texto.toStdString();
    ASSERT_TRUE(b.has_value());
    EXPECT_TRUE(r.mensaje.texto.contains(QStringLiteral("sesión ") + b->pidInicial())) << r.mensaje.texto.toStdString();
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")));
    EXPECT_TRUE(intacta());
    EXPECT_FALSE(a->vivo()); // it was named and ended
    EXPECT_TRUE(b->vivo());
    // Nothing was dropped: both marks are gone again.
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_db_role_setting s, unnest(s.setconfig) c WHERE c "
                                      "LIKE 'v7.%'")),
              QStringLiteral("0"));
    b.reset();
    a.reset();

    OtroCliente a2(QStringLiteral("cliente_a2"), QStringLiteral("SELECT count(*) FROM prestamo.multas"));
    preguntas.clear();
    ui.terminarSesiones = [&](const QString& p) {
        preguntas << p;
        return true;
    };
    r = restaurarRespaldo(archivo, ui);
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString();
    EXPECT_EQ(preguntas.size(), 1);
    EXPECT_FALSE(a2.vivo());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    // The program's own connection was left alone.
    db::DbError e;
    EXPECT_NE(propia.query(QStringLiteral("SELECT 1"), e), nullptr) << e.description.toStdString();
}

// The console's maintenance window, with the console's status probe up (its connection of its own open): no
// question about other sessions when no other client is connected, and the restore completes; with a real
// other client in an open transaction the question names that session alone, and "No" changes nothing.
TEST_F(Restauracion, FromTheConsoleWithItsProbeRunning) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("consola.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    ScriptedDialogs dialogs;
    VentanasConsola ventanas = VentanasConsola::predeterminadas();
    ventanas.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(ventanas);
    ASSERT_TRUE(consola.Form_Load());
    consola.show();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    ASSERT_EQ(consola.estado(), EstadoConsola::EnLinea);
    // The session's shared connection and the probe's own.
    ASSERT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'veliro7' AND usename = "
                                      "'jefe'")),
              QStringLiteral("2"));

    // The console's button, the maintenance window's restore tab, Restaurar.
    auto restaurarDesdeLaConsola = [&](bool* zonaVista) {
        alAbrirModal([&](QWidget* m) {
            auto* base = qobject_cast<FrmBase*>(m);
            ASSERT_NE(base, nullptr);
            hijo<QTabBar>(*base, "TabAdmin")->setCurrentIndex(2);
            hijo<QLineEdit>(*base, "TxtRutaRespaldo")->setText(archivo);
            if (zonaVista != nullptr) {
                alPedirZona(*base, kZona, zonaVista);
            }
            click(*base, "BtnMontar");
            base->close();
        });
        click(consola, "BtnBaseDeDatos");
    };

    bool zonaVista = false;
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Ok);
    restaurarDesdeLaConsola(&zonaVista);
    EXPECT_TRUE(zonaVista);
    ASSERT_EQ(dialogs.shown().size(), 3u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("ATENCION: Proceso crítico"));
    EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());

    // A real other client: named alone; "No" changes nothing, and it goes on.
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    OtroCliente otro(QStringLiteral("cliente_consola"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    dialogs.clear();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::No).answer(MsgResult::Ok);
    restaurarDesdeLaConsola(nullptr);
    ASSERT_EQ(dialogs.shown().size(), 3u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    const QString pregunta = dialogs.shown()[1].text;
    EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("ATENCION: Sesiones conectadas"));
    EXPECT_EQ(pregunta.count(QStringLiteral("   - sesión ")), 1) << pregunta.toStdString();
    EXPECT_TRUE(pregunta.contains(QStringLiteral("   - sesión ") + otro.pidInicial() +
                                  QStringLiteral(" del usuario postgres, programa cliente_consola")))
        << pregunta.toStdString();
    EXPECT_TRUE(dialogs.shown()[2].text.endsWith(QStringLiteral("La base de datos no fue modificada.")))
        << dialogs.shown()[2].text.toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_TRUE(otro.vivo());
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    // The console's probe and shared connection were never touched.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'veliro7' AND usename = "
                                      "'jefe'")),
              QStringLiteral("2"));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    EXPECT_EQ(consola.estado(), EstadoConsola::EnLinea);
}

// The pids whose command line names the program and an argument that begins with carpeta.
QVector<pid_t> procesosSobre(const QString& programa, const QString& carpeta, const char* con = nullptr) {
    QVector<pid_t> pids;
    const QByteArray prefijo = QFile::encodeName(carpeta);
    for (const QString& p : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = p.toInt(&ok);
        QFile f(QStringLiteral("/proc/") + p + QStringLiteral("/cmdline"));
        if (!ok || !f.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> args = f.readAll().split('\0');
        QFile estado(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (args.isEmpty() || !args[0].endsWith(programa.toUtf8()) ||
            (estado.open(QIODevice::ReadOnly) && estado.readAll().contains(") Z "))) {
            continue;
        }
        const bool sobre =
            std::any_of(args.begin(), args.end(), [&](const QByteArray& a) { return a.startsWith(prefijo); });
        const bool marcado = con == nullptr || args.contains(QByteArray(con));
        if (sobre && marcado) {
            pids << pid;
        }
    }
    return pids;
}

bool terminaEn(pid_t pid, int ms) {
    QElapsedTimer reloj;
    reloj.start();
    do {
        QFile estado(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
        if (!estado.open(QIODevice::ReadOnly) || estado.readAll().contains(") Z ")) {
            return true;
        }
        QThread::msleep(20);
    } while (reloj.elapsed() < ms);
    return false;
}

// The restore of archivo by this test program run again as a child (HijoRestauracion), with the session of the
// fixture; entorno adds to its environment (V7_HOME, say).
std::unique_ptr<QProcess> hijoRestaurando(const QString& archivo,
                                          const QProcessEnvironment& entorno = QProcessEnvironment()) {
    auto& c = PgCluster::instance();
    auto hijo = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("V7_HIJO_ARCHIVO"), archivo);
    env.insert(QStringLiteral("V7_HIJO_PUERTO"), QString::number(c.port()));
    env.insert(QStringLiteral("V7_HIJO_RUTAPG"), c.installFolder());
    env.insert(QStringLiteral("V7_HIJO_CLAVE"), sesion().ClaveBD);
    for (const QString& k : entorno.keys()) {
        env.insert(k, entorno.value(k));
    }
    hijo->setProcessEnvironment(env);
    hijo->setProcessChannelMode(QProcess::MergedChannels);
    hijo->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=HijoRestauracion.*")});
    EXPECT_TRUE(hijo->waitForStarted());
    return hijo;
}

// The pid of the child's load (pg_restore over the extracted archive), once it runs; 0 when the child ended
// first or it did not come within two minutes.
pid_t cargaDe(QProcess& hijo) {
    const QString carpeta = sesion().RutaTemporal + kCarpetaRestauracion + QLatin1Char('/');
    QElapsedTimer reloj;
    reloj.start();
    while (reloj.elapsed() < 120000 && hijo.state() == QProcess::Running) {
        const QVector<pid_t> p = procesosSobre(QStringLiteral("pg_restore"), carpeta, "-d");
        if (!p.isEmpty()) {
            return p.first();
        }
        QThread::msleep(10);
    }
    return 0;
}

// A restore ended by SIGTERM (as a logout sends) and by SIGKILL while pg_restore loads: the load's tool
// dies with the program, both marks stay for the login and V7backup to see, starting V7Tools removes the
// extracted archive a SIGKILL left, and running the restore again completes and clears the marks.
TEST_F(Restauracion, KilledDuringTheLoadLeavesTheMarkAndARerunCompletes) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE TABLE servicios.carga AS SELECT g AS id, md5(g::text) AS texto FROM generate_series(1, 50000) g;"
        "INSERT INTO adquis.pedidos (titulo) VALUES ('antes');")));
    const QString antes = c.scalar(QStringLiteral("SELECT (SELECT count(*) FROM servicios.carga) || ' ' || "
                                                  "(SELECT string_agg(titulo, ',') FROM adquis.pedidos)"));
    const QString archivo = respaldar(QStringLiteral("grande.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("UPDATE adquis.pedidos SET titulo = 'despues';")));
    const QString carpeta = sesion().RutaTemporal + kCarpetaRestauracion + QLatin1Char('/');

    for (const int senal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(senal == SIGTERM ? "SIGTERM" : "SIGKILL");
        const auto hijo = hijoRestaurando(archivo);
        const pid_t carga = cargaDe(*hijo);
        ASSERT_NE(carga, 0) << hijo->readAll().toStdString();
        ::kill(pid_t(hijo->processId()), senal);
        ASSERT_TRUE(hijo->waitForFinished(30000));
        if (senal == SIGTERM) {
            EXPECT_EQ(hijo->exitCode(), 128 + SIGTERM) << hijo->readAll().toStdString();
        }
        // The load's leader was the program's child: it is gone with it.
        EXPECT_TRUE(terminaEn(carga, 2000));
        const auto marca = leerMarcaRestauracion();
        ASSERT_TRUE(marca.has_value());
        EXPECT_EQ(marca->archivo, archivo);
        const auto enServidor = marcaDelServidor();
        ASSERT_TRUE(enServidor.has_value());
        EXPECT_EQ(enServidor->id, marca->id);
        if (senal == SIGTERM) {
            EXPECT_FALSE(QFileInfo::exists(carpeta)); // the clean-up of a signalled end removed it
        }
    }

    // SIGKILL runs no clean-up: the extracted archive stays until V7Tools starts again.
    ASSERT_TRUE(QFileInfo::exists(carpeta + QStringLiteral("rolesv7.sql")));
    {
        QProcess v7tools;
        v7tools.setProcessChannelMode(QProcess::ForwardedChannels);
        v7tools.start(QStringLiteral(V7_TOOLS_EXE), {});
        ASSERT_TRUE(v7tools.waitForStarted());
        const QByteArray linea = QStringLiteral(" al iniciar V7Tools se eliminó la carpeta ").toUtf8() +
                                 QFile::encodeName(sesion().RutaTemporal + kCarpetaRestauracion);
        EXPECT_TRUE(esperarHasta(
            [&] {
                return !QFileInfo::exists(carpeta) && leer(rutaLogRestauracion(QDate::currentDate())).contains(linea);
            },
            30000))
            << leer(rutaLogRestauracion(QDate::currentDate())).toStdString();
        v7tools.terminate(); // it waits at its login
        if (!v7tools.waitForFinished(10000)) {
            v7tools.kill();
            v7tools.waitForFinished();
        }
    }

    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(marcaDelServidor().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT (SELECT count(*) FROM servicios.carga) || ' ' || "
                                      "(SELECT string_agg(titulo, ',') FROM adquis.pedidos)")),
              antes);
    EXPECT_TRUE(procesosSobre(QStringLiteral("pg_restore"), carpeta).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(carpeta));
}

// A restore killed during the load from one program folder is known from another (another installation of
// the kit on the same server): there V7backup refuses and leaves the day's archive as it was, and the login
// is told; a complete restore clears both marks.
TEST_F(Restauracion, KilledInOneProgramFolderIsKnownInAnother) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE TABLE servicios.carga AS SELECT g AS id, md5(g::text) AS texto FROM generate_series(1, 50000) g;")));
    const QString archivo = respaldar(QStringLiteral("otra carpeta.zip"));
    TempDir otra;
    const QString carpetaA = otra.path();
    const QString carpetaB = paths::programFolder();
    ASSERT_NE(carpetaA, carpetaB);
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("V7_HOME"), carpetaA);
        const auto hijo = hijoRestaurando(archivo, env);
        ASSERT_NE(cargaDe(*hijo), 0) << hijo->readAll().toStdString();
        ::kill(pid_t(hijo->processId()), SIGKILL);
        ASSERT_TRUE(hijo->waitForFinished(30000));
    }
    EXPECT_TRUE(QFileInfo::exists(carpetaA + QStringLiteral("config/v7.restauracion.pendiente")));
    EXPECT_FALSE(leerMarcaRestauracion().has_value()); // none in this folder
    const auto enServidor = marcaDelServidor();
    ASSERT_TRUE(enServidor.has_value());
    EXPECT_EQ(enServidor->carpeta, carpetaA);
    EXPECT_EQ(enServidor->archivo, archivo);

    // V7backup of this folder: the day's archive stays byte for byte. (The partial database may lack the table
    // that V7backup records its outcome in, which it would try to write for half a minute.)
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA IF NOT EXISTS config_veliro; CREATE TABLE IF NOT EXISTS "
                                      "config_veliro.configuracion (descripcion text, valor text);")));
    const QString hoy = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString destino = m_dir.file(QStringLiteral("diario.zip"));
    const QString delDia = m_dir.file(QStringLiteral("diario_") + hoy + QStringLiteral(".zip"));
    ASSERT_TRUE(QFile::copy(archivo, delDia));
    const QByteArray bytes = leer(delDia);
    QDir().mkpath(carpetaB + QStringLiteral("config"));
    {
        QFile f(carpetaB + QStringLiteral("config/v7.respaldo.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(cifrarConClave(kJefe.usuario, false).toUtf8() + "\r\n" + cifrarConClave(kJefe.clave, false).toUtf8() +
                "\r\n" + c.host().toUtf8() + "\r\n" + QByteArray::number(c.port()) + "\r\n" + destino.toUtf8() +
                "\r\n");
    }
    QProcess v7backup;
    v7backup.setStandardInputFile(QProcess::nullDevice());
    v7backup.start(QStringLiteral(V7_BACKUP_EXE), {});
    ASSERT_TRUE(v7backup.waitForFinished(120000));
    EXPECT_EQ(v7backup.exitCode(), 6) << v7backup.readAllStandardError().toStdString();
    const QString log = QString::fromUtf8(leer(carpetaB + QStringLiteral("log/resp_") + hoy + QStringLiteral(".log")));
    EXPECT_TRUE(log.contains(QStringLiteral(" - No se realizó el respaldo. La última restauración de la base de datos "
                                            "no terminó (comenzó el ")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(": la base de datos puede estar incompleta. Archivo de respaldo: ") +
                             archivo + QStringLiteral(". Se ejecutó desde la carpeta ") + carpetaA +
                             QStringLiteral(". No se respalda una base de datos que puede estar incompleta")))
        << log.toStdString();
    EXPECT_EQ(leer(delDia), bytes);
    EXPECT_FALSE(QFileInfo::exists(destino));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = "
                                      "'RESPALDOOK'")),
              QStringLiteral("Falso"));

    // The login of this folder is told (the window's own test shows the box).
    QString error;
    ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    DecisionAcceso d = decidirAcceso(conexionPrincipal());
    ASSERT_EQ(d.acceso, Acceso::Concedido);
    ASSERT_TRUE(d.restauracion.has_value());
    EXPECT_EQ(d.restauracion->carpeta, carpetaA);

    // A complete restore from the other folder clears both marks there.
    qputenv("V7_HOME", QFile::encodeName(carpetaA));
    const ResultadoRestauracion r = restaurar(archivo);
    qputenv("V7_HOME", QFile::encodeName(carpetaB));
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString();
    EXPECT_FALSE(QFileInfo::exists(carpetaA + QStringLiteral("config/v7.restauracion.pendiente")));
    EXPECT_FALSE(marcaDelServidor().has_value());
    d = decidirAcceso(conexionPrincipal());
    EXPECT_FALSE(d.restauracion.has_value());
}

// A restore stopped while the roles step runs (the program killed, the server stopped) leaves no staff login
// half made: the archive's roles are made in one transaction. Run again, every staff login of the archive
// logs in with its password and is in its group. The roles step is held at the groups' own lines (after
// the staff logins' and before their memberships) by another session's open change of v7_admin.
TEST_F(Restauracion, InterruptedAtTheRolesStepLeavesNoLoginHalfMade) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("roles.zip"));
    auto ningunStaff = [&] {
        QStringList nombres;
        for (const Staff& s : kStaff) {
            nombres << lit(s.usuario);
        }
        return c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN (") +
                        nombres.join(QLatin1Char(',')) + QLatin1Char(')')) == QLatin1String("0");
    };
    for (const bool detenerServidor : {false, true}) {
        SCOPED_TRACE(detenerServidor ? "server stopped" : "program killed");
        db::Connection retiene;
        retiene.setConnectionString(c.connectionString(QString(), QString(), QStringLiteral("postgres")));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(retiene.open(e) && retiene.begin(e) &&
                    retiene.execute(QStringLiteral("ALTER ROLE v7_admin CONNECTION LIMIT -1"), n, e))
            << e.description.toStdString();
        const auto hijo = hijoRestaurando(archivo);
        // The roles' psql waiting for that change.
        const bool enEspera = esperarHasta(
            [&] {
                return c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                               "AND query LIKE 'ALTER ROLE v7_admin%'"),
                                QStringLiteral("postgres")) == QLatin1String("1") ||
                       hijo->state() != QProcess::Running;
            },
            120000);
        ASSERT_TRUE(enEspera && hijo->state() == QProcess::Running) << hijo->readAll().toStdString();
        if (detenerServidor) {
            ASSERT_TRUE(c.stop());
            ASSERT_TRUE(hijo->waitForFinished(60000));
            EXPECT_TRUE(hijo->readAll().contains("Se perdió la conexión con el servidor"));
            ASSERT_TRUE(c.start());
        } else {
            ::kill(pid_t(hijo->processId()), SIGKILL);
            ASSERT_TRUE(hijo->waitForFinished(30000));
            retiene.rollback(e);
        }
        retiene.close();
        // The staff logins were dropped before the roles step and none came back half made.
        EXPECT_TRUE(esperarHasta(ningunStaff, 10000)) << roles().toStdString();
        EXPECT_TRUE(leerMarcaRestauracion().has_value());
    }

    QString error;
    ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.mensaje.texto, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid "
                                          "JOIN pg_roles r ON r.oid = m.member WHERE r.rolname = %1 AND g.rolname = "
                                          "'%2'")
                               .arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("1"));
    }
}

// The server lost while the drops wait for a lock: the transaction never committed, so nothing changed and
// the message says so. Lost after the load: one closing message that says the database is incomplete and
// must be restored again, and the mark stays until a restore runs to its end.
TEST_F(Restauracion, LostServerAndFailedStepsAreToldInOneMessage) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("perdido.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    auto reconectar = [&] {
        ASSERT_TRUE(c.start());
        QString error;
        ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    };
    InterfazRestauracion ui;
    ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
    ui.elegirZona = [] { return kZona; };

    std::optional<OtroCliente> primera, bloqueo;
    primera.emplace(QStringLiteral("cliente_primero"), QStringLiteral("SELECT 1"));
    ui.terminarSesiones = [&](const QString&) {
        bloqueo.emplace(QStringLiteral("cliente_bloqueo"),
                        QStringLiteral("LOCK TABLE prestamo.multas IN ACCESS SHARE MODE"));
        return true;
    };
    std::thread detener([&] {
        QThread::msleep(2500);
        EXPECT_TRUE(c.stop());
    });
    ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    detener.join();
    EXPECT_TRUE(r.rechazado);
    EXPECT_EQ(r.mensaje.texto,
              QStringLiteral("Se perdió la conexión con el servidor antes de eliminar los esquemas.\r\n\r\n"
                             "La base de datos no fue modificada."));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    reconectar();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_FALSE(marcaDelServidor().has_value()); // it went with the drops' transaction

    primera.reset();
    bloqueo.reset();
    ui.terminarSesiones = sinPreguntaDeSesiones();
    ui.elegirZona = [&] {
        EXPECT_TRUE(c.stop());
        return kZona;
    };
    r = restaurarRespaldo(archivo, ui);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.rechazado);
    EXPECT_TRUE(r.mensaje.texto.startsWith(
        QStringLiteral("Se perdió la conexión con el servidor (después de montar el "
                       "respaldo): la base de datos quedó incompleta, restaure nuevamente.")))
        << r.mensaje.texto.toStdString();
    EXPECT_FALSE(r.mensaje.texto.contains(QStringLiteral("restaurada correctamente")));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(leerMarcaRestauracion().has_value());
    reconectar();

    // Run again (here with a zone the server does not know): every step runs, so the mark goes; the step that
    // failed is gathered into the closing message, which never says the restore went well.
    const ResultadoRestauracion otra = restaurar(archivo, QStringLiteral("Marte/Olimpo"));
    EXPECT_FALSE(otra.ok);
    EXPECT_EQ(iconoDe(otra.mensaje.gravedad), MsgIcon::Warning);
    EXPECT_TRUE(
        otra.mensaje.texto.startsWith(QStringLiteral("La restauración terminó con errores en los siguientes pasos:\r\n"
                                                     "Zona horaria: No se logro actualizar la zona horaria de la base "
                                                     "de datos debido a lo siguiente: la zona horaria Marte/Olimpo no "
                                                     "existe")))
        << otra.mensaje.texto.toStdString();
    EXPECT_FALSE(otra.mensaje.texto.contains(QStringLiteral("restaurada correctamente")));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
}

} // namespace

// Run only as the child program of KilledDuringTheLoadLeavesTheMarkAndARerunCompletes: a restore with the
// session that its environment names, ended by the parent with a signal, as V7Tools would be.
TEST(HijoRestauracion, RestauraElArchivoDelEntorno) {
    const QString archivo = qEnvironmentVariable("V7_HIJO_ARCHIVO");
    if (archivo.isEmpty()) {
        GTEST_SKIP() << "only as the child of a restore test";
    }
    auto& s = sesion();
    s.UsuarioBD = s.UsuarioConexion = kJefe.usuario;
    s.ClaveBD = s.ClaveConexion = qEnvironmentVariable("V7_HIJO_CLAVE", kJefe.clave);
    s.ServidorIP = s.ServidorConexion = QStringLiteral("127.0.0.1");
    s.PuertoBD = qEnvironmentVariable("V7_HIJO_PUERTO").toInt();
    s.PuertoConexion = qEnvironmentVariable("V7_HIJO_PUERTO");
    s.RutaPostgres = qEnvironmentVariable("V7_HIJO_RUTAPG");
    s.RutaTemporal = paths::workFolder();
    s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString error;
    ASSERT_TRUE(ConexionServer(s.CadenaConexion, error)) << error.toStdString();
    process::terminarConLimpieza();
    InterfazRestauracion ui;
    ui.aviso = [](const Fallo& f) { std::fprintf(stderr, "aviso: %s\n", qPrintable(f.texto)); };
    ui.terminarSesiones = [](const QString&) { return true; };
    ui.elegirZona = [] { return kZona; };
    const ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    std::fprintf(stderr, "restauración: %s\n", qPrintable(r.mensaje.texto));
}
