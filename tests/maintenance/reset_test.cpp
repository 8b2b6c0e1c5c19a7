// The database reset through its window, on a cluster that also serves other logins: what it empties,
// whom it drops, what it leaves alone and how it reports a step it could not take.
#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/consultas.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmResetBD.h"
#include "maintenance/reset_bd.h"
#include "platform/db.h"
#include "platform/events.h"
#include "platform/process.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace v7;
using namespace v7::test;

namespace {

const QString kPregunta = QString(30, QLatin1Char(' ')) +
                          QStringLiteral(" P R E C A U C I O N \r\n\r\nEl proceso que está a punto de realizar es "
                                         "irreversible, ya que se reestablecerán los valores originales de "
                                         "instalación \r\n\r\n¿ Desea reestablecer la base de datos a su estado "
                                         "original ?");

class Reset : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        // Staff logins of every group (one whose name needs quoting), another application's login, a
        // replication role, and rows in every schema the reset empties and in tables it keeps.
        ASSERT_TRUE(cluster().psql(
            QStringLiteral("DROP DATABASE IF EXISTS otra_bd;\n"
                           "DROP ROLE IF EXISTS usr2, super2, \"o'ha\"\"ra\", dueno, otra_app, replicador;\n"
                           "CREATE ROLE usr2 LOGIN PASSWORD 'x' IN ROLE v7_usuario2;\n"
                           "CREATE ROLE super2 LOGIN PASSWORD 'x' IN ROLE v7_super;\n"
                           "CREATE ROLE \"o'ha\"\"ra\" LOGIN PASSWORD 'x' IN ROLE v7_usuario2;\n"
                           "GRANT CONNECT ON DATABASE veliro7 TO \"o'ha\"\"ra\";\n"
                           "CREATE ROLE otra_app LOGIN PASSWORD 'x';\n"
                           "CREATE ROLE replicador LOGIN REPLICATION PASSWORD 'x';\n"
                           "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('usr2', 'u2', 'x'), "
                           "('super2', 's2', 'x'), ('o''ha\"ra', 'oh', 'x');\n"
                           "INSERT INTO catalogos.bibliotecas VALUES (1, 'Central', 'C', NULL, NULL, NULL);\n"
                           "INSERT INTO catalogos.escuelas (nombre, idbiblioteca) VALUES ('Prepa', 1);\n"
                           "INSERT INTO catalogos.usuarios (nombre) VALUES ('a'), ('b');\n"
                           "INSERT INTO adquis.pedidos (titulo) VALUES ('p');\n"
                           "INSERT INTO prestamo.prestamos (no_adqui) VALUES ('1');\n"
                           "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 2);\n"
                           "INSERT INTO consultas_biblioteca.consultas (fecha) VALUES (now());\n"
                           "INSERT INTO analisis.fichas (titulo) VALUES ('t');\n"
                           "INSERT INTO inventarios.inventarios (no_adqui) VALUES ('1');\n"
                           "INSERT INTO retroalimentacion.comentarios (comentario) VALUES ('c');\n"
                           "INSERT INTO servicios.equipos (nombre) VALUES ('e');\n"
                           "INSERT INTO indizados.palabras (palabra) VALUES ('w');\n"
                           "INSERT INTO config_veliro.respaldos (archivo) VALUES ('r.zip'), ('s.zip');\n"
                           "INSERT INTO public.bitacora (descripcion) VALUES ('queda');\n")));
        ASSERT_TRUE(m_server->iniciarSesion());
    }
    void TearDown() override {
        cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS otra_bd;"));
        m_server.reset();
    }

    static PgCluster& cluster() { return PgCluster::instance(); }
    static QString roles() {
        return cluster().scalar(QStringLiteral("SELECT string_agg(rolname, ',' ORDER BY rolname) FROM pg_roles "
                                               "WHERE rolname NOT LIKE 'pg\\_%'"));
    }
    static QString analistas() {
        return cluster().scalar(
            QStringLiteral("SELECT string_agg(usuario, ',' ORDER BY usuario) FROM catalogos.analistas"));
    }
    // Rows left in the tables the reset empties, summed.
    static QString filasEnTablasVaciadas() {
        return cluster().scalar(QStringLiteral(
            "SELECT sum((xpath('/row/c/text()', query_to_xml(format('SELECT count(*) AS c FROM %I.%I', "
            "n.nspname, c.relname), false, true, '')))[1]::text::int) FROM pg_class c JOIN pg_namespace n ON "
            "n.oid = c.relnamespace WHERE c.relkind = 'r' AND (n.nspname IN ('catalogos', 'adquis', 'prestamo', "
            "'consultas_biblioteca', 'analisis', 'inventarios', 'retroalimentacion', 'servicios', 'indizados') "
            "AND c.relname <> 'analistas' OR n.nspname = 'config_veliro' AND c.relname = 'respaldos')"));
    }
    static QString resetbd() {
        return cluster().scalar(QStringLiteral(
            "SELECT count(*) || ':' || coalesce(max(valor), '') FROM config_veliro.configuracion WHERE descripcion = "
            "'RESETBD'"));
    }

    // RESETBD as a reset by the login that ran between desde and hasta writes it: the count of its rows, ":",
    // the login, "_", the date as yyyymmdd, "_", the time as hhmm (every minute of the span is accepted).
    static QStringList resetbdEntre(const QString& login, const QDateTime& desde, const QDateTime& hasta) {
        QStringList valores;
        QDateTime minuto(desde.date(), QTime(desde.time().hour(), desde.time().minute()));
        for (; minuto <= hasta; minuto = minuto.addSecs(60)) {
            valores << QStringLiteral("1:") + login + QLatin1Char('_') + minuto.toString(QStringLiteral("yyyyMMdd")) +
                           QLatin1Char('_') + minuto.toString(QStringLiteral("HHmm"));
        }
        return valores;
    }

    // Password typed, Aceptar, the answers given to the boxes that follow.
    static void aceptar(FrmResetBD& w, const QString& clave) {
        auto* txt = hijo<QLineEdit>(w, "TxtClave");
        txt->clear();
        QTest::keyClicks(txt, clave);
        click(w, "BtnAceptar");
    }

    std::unique_ptr<ServidorPreparado> m_server;
};

TEST_F(Reset, TheStatementHoldsEveryTableOfTheLibrarySchemasButTheStaffTable) {
    QString error;
    const auto t = tablasReset(error);
    ASSERT_TRUE(t.has_value()) << error.toStdString();
    EXPECT_TRUE(t->ajenas.isEmpty());
    EXPECT_EQ(
        t->tablas.join(QLatin1Char(' ')),
        QStringLiteral("\"adquis\".\"pedidos\" \"analisis\".\"ejemplares\" \"analisis\".\"ejemplaresdetallesdpi\" "
                       "\"analisis\".\"enviosdpi\" \"analisis\".\"etiquetasmarc\" \"analisis\".\"fichas\" "
                       "\"analisis\".\"holdings\" \"analisis\".\"productividad\" \"analisis\".\"recepcionesdpi\" "
                       "\"catalogos\".\"autoridades\" \"catalogos\".\"bibliotecas\" \"catalogos\".\"colecciones\" "
                       "\"catalogos\".\"escuelas\" \"catalogos\".\"mat_especial\" \"catalogos\".\"referencias\" "
                       "\"catalogos\".\"usuarios\" \"config_veliro\".\"respaldos\" "
                       "\"consultas_biblioteca\".\"consultas\" \"indizados\".\"palabras\" "
                       "\"inventarios\".\"inventarios\" \"prestamo\".\"devoluciones\" \"prestamo\".\"multas\" "
                       "\"prestamo\".\"prestamos\" \"prestamo\".\"reservaciones\" "
                       "\"retroalimentacion\".\"comentarios\" \"servicios\".\"equipos\""));
    EXPECT_EQ(sentenciaReset({QStringLiteral("\"a\".\"b\""), QStringLiteral("\"c\".\"d\"")}),
              QStringLiteral("TRUNCATE \"a\".\"b\",\r\n\"c\".\"d\" RESTART IDENTITY CASCADE;"));
}

TEST_F(Reset, EmptiesTheLibraryDropsOnlyStaffLoginsAndReportsAStepItCouldNotTake) {
    // A staff login that owns a database elsewhere cannot be dropped.
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("CREATE ROLE dueno LOGIN PASSWORD 'x' IN ROLE v7_admin;\n"
                       "INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES ('dueno', 'd', 'x');")));
    ASSERT_TRUE(cluster().psql(QStringLiteral("CREATE DATABASE otra_bd OWNER dueno;")));
    const QString conservados = roles();

    ScriptedDialogs dialogs;
    FrmResetBD w;
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Módulo de Administración"));
    QTest::keyClicks(hijo<QLineEdit>(w, "TxtClave"), kJefe.clave);
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    EXPECT_TRUE(w.grab().save(dir + QStringLiteral("/reset.png")));

    Muestreo muestreo(w);
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    QDateTime antes = QDateTime::currentDateTime();
    aceptar(w, kJefe.clave);
    QDateTime despues = QDateTime::currentDateTime();
    muestreo.detener();
    EXPECT_FALSE(muestreo.muestras().empty());
    for (const Muestra& m : muestreo.muestras()) {
        EXPECT_TRUE(m.habilitados.isEmpty()) << m.habilitados.join(QLatin1Char(',')).toStdString();
    }

    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].text, kPregunta);
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("PRECAUCION: Reestablecer base de datos"));
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::YesNo);
    // It cannot be undone: Enter answers No.
    EXPECT_EQ(dialogs.shown()[0].porDefecto, std::optional<MsgResult>(MsgResult::No));
    // The role that could not go is named; the window stays for another try.
    const ShownDialog& parcial = dialogs.shown()[1];
    EXPECT_EQ(parcial.icon, MsgIcon::Warning);
    EXPECT_TRUE(parcial.text.startsWith(QStringLiteral("La base de datos ha sido restaurada parcialmente")));
    EXPECT_TRUE(parcial.text.contains(QStringLiteral("No se eliminó el usuario \"dueno\": ")))
        << parcial.text.toStdString();
    EXPECT_TRUE(parcial.text.contains(QStringLiteral("otra_bd"))) << parcial.text.toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(hijo(w, "BtnAceptar")->isEnabled());
    EXPECT_TRUE(hijo(w, "BtnCancelar")->isEnabled());

    // Staff logins and their rows gone (the one that failed kept whole); the session's login, the group
    // roles, the other application's login and the replication role untouched.
    QStringList esperados = conservados.split(QLatin1Char(','));
    for (const char* ido : {"adm", "usr1", "usr2", "super2", "o'ha\"ra"}) {
        ASSERT_TRUE(esperados.removeOne(QString::fromUtf8(ido))) << ido;
    }
    EXPECT_EQ(roles(), esperados.join(QLatin1Char(',')));
    for (const char* queda : {"jefe", "otra_app", "replicador", "dueno", "postgres", "v7_super", "v7_admin",
                              "v7_usuario1", "v7_usuario2"}) {
        EXPECT_TRUE(esperados.contains(QString::fromLatin1(queda))) << queda;
    }
    EXPECT_EQ(analistas(), QStringLiteral("dueno,jefe"));

    // Every table of the list empty, identities from 1 again; the tables outside it kept.
    EXPECT_EQ(filasEnTablasVaciadas(), QStringLiteral("0"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("INSERT INTO catalogos.usuarios (nombre) VALUES ('n') RETURNING "
                                              "idusuario")),
              QStringLiteral("1"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("INSERT INTO config_veliro.respaldos (archivo) VALUES ('n') "
                                              "RETURNING idrespaldo")),
              QStringLiteral("1"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT count(*) FROM public.bitacora")), QStringLiteral("1"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT count(*) FROM config_veliro.tablaver")), QStringLiteral("1"));
    EXPECT_TRUE(resetbdEntre(kJefe.usuario, antes, despues).contains(resetbd())) << resetbd().toStdString();

    // The session's login still works, on the shared connection and on a new one.
    int filas = 0;
    QString error;
    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("SELECT 1"), filas, error)) << error.toStdString();
    db::Connection nueva;
    nueva.setConnectionString(cadenaConexionPrincipal(cluster().host(), cluster().port(), kJefe.usuario, kJefe.clave));
    db::DbError e;
    EXPECT_TRUE(nueva.open(e)) << e.description.toStdString();

    // Once the obstacle is gone the next pass completes; RESETBD is still one row.
    ASSERT_TRUE(cluster().psql(QStringLiteral("DROP DATABASE otra_bd;")));
    dialogs.clear();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    antes = QDateTime::currentDateTime();
    aceptar(w, kJefe.clave);
    despues = QDateTime::currentDateTime();
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].text, QStringLiteral("La base de datos ha sido restaurado a su estado original"));
    EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("Base restaurada"));
    EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Information);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(analistas(), QStringLiteral("jefe"));
    EXPECT_TRUE(resetbdEntre(kJefe.usuario, antes, despues).contains(resetbd())) << resetbd().toStdString();
}

TEST_F(Reset, WrongPasswordNoAndAReferringTableChangeNothing) {
    const QString antes = roles() + QLatin1Char('|') + analistas() + QLatin1Char('|') + filasEnTablasVaciadas();
    ScriptedDialogs dialogs;
    FrmResetBD w;
    w.show();

    // A wrong password never reaches the question; the box is emptied and keeps the focus.
    dialogs.answer(MsgResult::Ok);
    aceptar(w, kJefe.clave.toUpper());
    ASSERT_EQ(dialogs.texts(), QStringList{QStringLiteral(
                                   "No se logró restaurar la base de datos debido a que la clave es incorrecta")});
    EXPECT_TRUE(hijo<QLineEdit>(w, "TxtClave")->text().isEmpty());
    EXPECT_EQ(w.focusWidget(), hijo(w, "TxtClave"));

    // No.
    dialogs.clear();
    dialogs.answer(MsgResult::No);
    aceptar(w, kJefe.clave);
    EXPECT_EQ(dialogs.shown().size(), 1u);

    // A table outside the list that refers to one inside it would be emptied by the cascade: refused,
    // named, nothing changed.
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("CREATE TABLE public.prestamos_externos (id serial, idbiblioteca integer REFERENCES "
                       "catalogos.bibliotecas (idbiblioteca));\n"
                       "INSERT INTO public.prestamos_externos (idbiblioteca) VALUES (1);")));
    dialogs.clear();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    aceptar(w, kJefe.clave);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Critical);
    EXPECT_TRUE(dialogs.shown()[1].text.startsWith(
        QStringLiteral("No se logró restaurar la base de datos debido a la siguiente razón: \r\n")));
    EXPECT_TRUE(dialogs.shown()[1].text.contains(QStringLiteral("public.prestamos_externos")));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(roles() + QLatin1Char('|') + analistas() + QLatin1Char('|') + filasEnTablasVaciadas(), antes);
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT count(*) FROM public.prestamos_externos")), QStringLiteral("1"));
    EXPECT_EQ(resetbd(), QStringLiteral("0:"));

    dialogs.clear();
    click(w, "BtnCancelar");
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(dialogs.shown().empty());
}

} // namespace

namespace {

// The console's windows: the schedule from its "Respaldo" entry, the reset from the maintenance
// window on Ctrl+F12.
TEST_F(Reset, TheConsoleOpensTheScheduleAndTheMaintenanceWindowOpensTheResetOnCtrlF12) {
    ScriptedDialogs dialogs;
    sesion().BaseDatosValida = true;
    const VentanasConsola v = VentanasConsola::predeterminadas();
    QStringList abiertas;
    alAbrirModal([&](QWidget* tareas) {
        abiertas << tareas->objectName() + QLatin1Char(':') + tareas->windowTitle();
        tareas->close();
    });
    v.respaldo(nullptr);

    alAbrirModal([&](QWidget* base) {
        abiertas << base->objectName();
        alAbrirModal([&](QWidget* reset) {
            abiertas << reset->objectName() + QLatin1Char(':') + reset->windowTitle();
            QTest::keyClick(reset, Qt::Key_Escape);
        });
        QTest::keyClick(base, Qt::Key_F12, Qt::ControlModifier);
        base->close();
    });
    v.base(nullptr);
    EXPECT_EQ(abiertas,
              (QStringList{QStringLiteral("FrmProgTareas:Configuración del respaldo"), QStringLiteral("FrmBase"),
                           QStringLiteral("FrmResetBD:Módulo de Administración")}));
    EXPECT_TRUE(dialogs.shown().empty());
}

} // namespace

namespace {

// Another client of the library, named cliente_prestamos, holding what it touched in an open transaction
// far longer than the reset waits; ended when the test is done with it.
class ClienteOcupado {
public:
    explicit ClienteOcupado(const QString& sentencias) {
        PgCluster& pg = PgCluster::instance();
        m_comando =
            pg.comandoPsql(QStringLiteral("BEGIN; ") + sentencias + QStringLiteral("; SELECT pg_sleep(60); COMMIT;"));
        m_comando.environment.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("cliente_prestamos"));
        m_hilo = std::thread([this] { (void)process::run(m_comando); });
    }
    ~ClienteOcupado() {
        PgCluster::instance().psql(QStringLiteral(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'cliente_prestamos'"));
        m_hilo.join();
    }
    // Whether it is inside its transaction now (it has reached its sleep).
    static bool dentro() {
        return PgCluster::instance().scalar(QStringLiteral(
                   "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'cliente_prestamos' AND "
                   "query LIKE '%pg_sleep%' AND wait_event = 'PgSleep'")) == QLatin1String("1");
    }

private:
    process::Command m_comando;
    std::thread m_hilo;
};

// Behind a client's open transaction: the window keeps answering (a 10 ms timer never waits long), the
// reset gives up after its lock wait with a Spanish message naming the client and the table it holds,
// and nothing at all is changed, also when the wait comes after the tables were emptied and logins
// dropped inside the transaction.
TEST_F(Reset, BehindAClientsOpenTransactionItStopsAndChangesNothing) {
    struct Caso {
        const char* nombre;
        QString sentencias; // what the client does before it sleeps
        QString tabla;      // what the message names as busy
    };
    const Caso casos[] = {
        {"a table to empty", QStringLiteral("SELECT count(*) FROM prestamo.multas"), QStringLiteral("prestamo.multas")},
        {"the staff row of a login to drop",
         QStringLiteral("UPDATE catalogos.analistas SET nombre = nombre WHERE usuario = 'usr2'"),
         QStringLiteral("catalogos.analistas")},
    };
    const QString antes = roles() + QLatin1Char('|') + analistas() + QLatin1Char('|') + filasEnTablasVaciadas();
    ASSERT_NE(filasEnTablasVaciadas(), QStringLiteral("0"));
    ScriptedDialogs dialogs;
    FrmResetBD w;
    w.show();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        dialogs.clear();
        ClienteOcupado cliente(c.sentencias);
        ASSERT_TRUE(esperarHasta([] { return ClienteOcupado::dentro(); }));

        // The gaps between ticks while the reset waits on the server (its long operation is counted).
        Pausas pausas(true);
        dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
        aceptar(w, kJefe.clave);
        const qint64 duracion = pausas.reloj().corto();
        EXPECT_TRUE(pausas.siempreAtendio()) << pausas.informe();
        EXPECT_GT(pausas.medido(), 1000); // it did wait, for seconds
        EXPECT_LT(duracion, 20000);       // its own lock wait, not the client's whole transaction

        ASSERT_EQ(dialogs.shown().size(), 2u);
        const ShownDialog& m = dialogs.shown()[1];
        EXPECT_EQ(m.icon, MsgIcon::Critical);
        EXPECT_TRUE(m.text.startsWith(QStringLiteral(
            "No se logró restaurar la base de datos debido a la siguiente razón: \r\nOtra sesión está usando estos "
            "datos y no los liberó a tiempo")))
            << m.text.toStdString();
        EXPECT_TRUE(m.text.contains(QStringLiteral("cliente_prestamos"))) << m.text.toStdString();
        EXPECT_TRUE(m.text.contains(c.tabla)) << m.text.toStdString();
        EXPECT_TRUE(m.text.contains(QStringLiteral("No se cambió nada en la base de datos."))) << m.text.toStdString();
        EXPECT_FALSE(m.text.contains(QStringLiteral("TRUNCATE"))) << m.text.toStdString();
        EXPECT_FALSE(m.text.contains(QStringLiteral("DELETE"))) << m.text.toStdString();

        EXPECT_EQ(roles() + QLatin1Char('|') + analistas() + QLatin1Char('|') + filasEnTablasVaciadas(), antes);
        EXPECT_EQ(resetbd(), QStringLiteral("0:"));
        // The window is given back for another try, the keyboard in it.
        EXPECT_TRUE(w.isVisible());
        EXPECT_TRUE(hijo(w, "BtnAceptar")->isEnabled());
        EXPECT_NE(w.focusWidget(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    // The limits went with the reset.
    const sql::Valor espera = sql::valor(QStringLiteral("SHOW lock_timeout"));
    ASSERT_TRUE(espera.ok()) << espera.error.toStdString();
    EXPECT_EQ(espera.texto(), QStringLiteral("0"));
}

// The maintenance window the login opens to restore has Ctrl+F12 of its own (no caller sets it), and once
// the reset is done the keyboard is back in it.
TEST_F(Reset, TheLoginsMaintenanceWindowOpensTheResetAndGetsTheFocusBack) {
    ScriptedDialogs dialogs;
    FrmIniciarSesion login;
    login.setTieneCatalogos(false);
    FrmBase base(nullptr, &login);
    base.show();
    QApplication::setActiveWindow(&base);
    QString abierta;
    alAbrirModal([&](QWidget* reset) {
        abierta = reset->objectName();
        dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
        QTest::keyClicks(hijo<QLineEdit>(*reset, "TxtClave"), kJefe.clave);
        click(*reset, "BtnAceptar");
    });
    QTest::keyClick(&base, Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(abierta, QStringLiteral("FrmResetBD"));
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].text, QStringLiteral("La base de datos ha sido restaurado a su estado original"));
    EXPECT_EQ(filasEnTablasVaciadas(), QStringLiteral("0"));
    EXPECT_TRUE(base.isVisible());
    EXPECT_TRUE(esperarHasta([&] { return QApplication::activeWindow() == &base; }, 2000));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->window(), &base);
}

} // namespace
