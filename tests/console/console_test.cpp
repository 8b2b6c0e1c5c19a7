#include "console/FrmInicio.h"
#include "console/FrmRutaTrabajo.h"
#include "console/FrmUsuariosConectados.h"
#include "console/frmGrabaReporte.h"
#include "console/frmModificaReporte.h"
#include "console/ruta_trabajo.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/traduccion.h"
#include "maintenance/FrmBase.h"
#include "platform/construir_ui.h"
#include "platform/events.h"
#include "platform/service.h"
#include "platform/widgets_ui.h"
#include "tests/support/escuchas.h"
#include "tests/support/esperas.h"
#include "tests/support/instalacion_falsa.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <QApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

class Consola : public PruebaConServidor {
protected:
    // A console whose login logs in without its window, and whose tool windows only count.
    std::unique_ptr<FrmInicio> consola(bool loginOk = true) {
        VentanasConsola v = VentanasConsola::predeterminadas();
        v.login = [this, loginOk](QWidget*) {
            if (!loginOk) {
                return QString();
            }
            return m_server->iniciarSesion() ? QStringLiteral("OK") : QString();
        };
        v.base = [this](QWidget*) { m_abiertas << QStringLiteral("FrmBase"); };
        v.monitoreo = [this](QWidget*) { m_abiertas << QStringLiteral("FrmUsuariosConectados"); };
        v.reportes = [this](QWidget*) { m_abiertas << QStringLiteral("frmGrabaReporte"); };
        v.rutaTrabajo = [this](QWidget*) { m_abiertas << QStringLiteral("FrmRutaTrabajo"); };
        auto w = std::make_unique<FrmInicio>(v);
        return w;
    }

    // One probe, from start to shown (none other under way before or after).
    void sondear(FrmInicio& w) {
        ASSERT_TRUE(esperarHasta([&] { return !w.sondeoEnCurso(); }, 15000));
        w.TmrStatus_Timer();
        ASSERT_TRUE(esperarHasta([&] { return !w.sondeoEnCurso(); }, 15000));
    }

    QLabel* label(FrmInicio& w, const char* name) { return w.findChild<QLabel*>(QString::fromLatin1(name)); }
    MyButton* button(FrmInicio& w, const char* name) { return w.findChild<MyButton*>(QString::fromLatin1(name)); }
    QString status(FrmInicio& w) { return label(w, "EtStatus")->text(); }
    // Which of Iniciar, Detener, Reiniciar are enabled, as "IDR" letters.
    QString enabled(FrmInicio& w) {
        QString s;
        s += button(w, "BtnIniciar")->isEnabled() ? QLatin1Char('I') : QLatin1Char('-');
        s += button(w, "BtnDetener")->isEnabled() ? QLatin1Char('D') : QLatin1Char('-');
        s += button(w, "BtnReiniciar")->isEnabled() ? QLatin1Char('R') : QLatin1Char('-');
        return s;
    }
    void expectOnline(FrmInicio& w) {
        EXPECT_EQ(w.estado(), EstadoConsola::EnLinea);
        EXPECT_EQ(status(w), QStringLiteral("En línea"));
        EXPECT_EQ(label(w, "EtStatus")->property("ForeColor").toInt(), 32768);
        EXPECT_EQ(label(w, "PicSemaforo1")->property("Imagen").toInt(), 1);
        EXPECT_EQ(enabled(w), QStringLiteral("-DR"));
    }
    void expectStopped(FrmInicio& w) {
        // A Spanish sentence on the label; the statement's own text, or the reopening's (which names the
        // connection string, redacted), in its tooltip.
        EXPECT_EQ(w.estado(), EstadoConsola::Detenido);
        const QStringList lineas = status(w).split(QStringLiteral("\r\n"));
        ASSERT_EQ(lineas.size(), 2) << status(w).toStdString();
        EXPECT_EQ(lineas[0], QStringLiteral("Detenido "));
        EXPECT_TRUE(lineas[1] == QStringLiteral("El servidor de base de datos no está en ejecución o no acepta "
                                                "conexiones.") ||
                    lineas[1] == QStringLiteral("El servidor de base de datos no está en ejecución.") ||
                    lineas[1] == QStringLiteral("Se perdió la conexión con el servidor de base de datos."))
            << status(w).toStdString();
        const QString detalle = label(w, "EtStatus")->toolTip();
        EXPECT_TRUE(detalle.startsWith(QStringLiteral("Error: ")) ||
                    detalle.startsWith(QStringLiteral("Ocurrió el error: ")))
            << detalle.toStdString();
        EXPECT_EQ(label(w, "EtStatus")->property("ForeColor").toInt(), 255);
        EXPECT_EQ(label(w, "PicSemaforo1")->property("Imagen").toInt(), 3);
        EXPECT_EQ(enabled(w), QStringLiteral("I--"));
        for (const QString& t : {status(w), detalle}) {
            EXPECT_FALSE(t.contains(kJefe.clave));
            EXPECT_FALSE(t.contains(QStringLiteral("pa'ss")));
        }
    }

    QStringList m_abiertas;
    ScriptedDialogs m_dialogs;
};

TEST_F(Consola, CancelledLoginEndsWithoutMessageOrProbe) {
    auto w = consola(false);
    EXPECT_FALSE(w->Form_Load());
    EXPECT_FALSE(w->statusTimer()->isActive());
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(Consola, StartUpFillsTheLabelsAndStartsTheProbe) {
    // The program's locale, as V7Tools sets it whatever the machine's is.
    QLocale::setDefault(localeEspanol());
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    QLocale::setDefault(QLocale::c());
    EXPECT_TRUE(w->statusTimer()->isActive());
    EXPECT_EQ(w->statusTimer()->interval(), 2000);
    EXPECT_EQ(status(*w), QStringLiteral("  Espere..."));
    EXPECT_EQ(enabled(*w), QStringLiteral("---"));
    EXPECT_EQ(label(*w, "Label3")->text(), QStringLiteral("R1.01 [20180907]"));
    EXPECT_EQ(label(*w, "EtServerIp")->text(), QStringLiteral("IP Servidor: 127.0.0.1"));
    EXPECT_TRUE(label(*w, "EtServerHost")->text().startsWith(QStringLiteral("Host Cliente: ")));
    EXPECT_TRUE(label(*w, "EtUsuario")
                    ->text()
                    .startsWith(QStringLiteral("El último usuario que inicio sesión fue 'jefe' "
                                               "desde la dirección IP  127.0.0.1")))
        << label(*w, "EtUsuario")->text().toStdString();
    // The day with the month's Spanish name.
    const QString mes = QLocale(QLocale::Spanish).monthName(QDate::currentDate().month());
    EXPECT_TRUE(label(*w, "EtUsuario")->text().contains(QStringLiteral(" el día  ")))
        << label(*w, "EtUsuario")->text().toStdString();
    EXPECT_TRUE(label(*w, "EtUsuario")->text().contains(QStringLiteral(" de ") + mes + QStringLiteral(" de ")))
        << label(*w, "EtUsuario")->text().toStdString();
    EXPECT_EQ(sesion().NombreServicio, QStringLiteral("postgresql-x64-9.0"));
    // No shared work-files row.
    EXPECT_EQ(label(*w, "EtRutaTrabajo")->text(), QStringLiteral(" Pendiente de configurar..."));
    EXPECT_FALSE(label(*w, "EtRutaTrabajo")->isVisibleTo(w.get()));
    EXPECT_EQ(button(*w, "BtnRutaTrabjo")->text(), QStringLiteral("Administración de reportes"));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(Consola, SharedWorkFilesFolderIsShown) {
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('ARCHIVOSCOMPARTIDOS', '/srv/v7');")));
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    EXPECT_EQ(label(*w, "EtRutaTrabajo")->text(), QStringLiteral(" /srv/v7"));
    EXPECT_TRUE(label(*w, "EtRutaTrabajo")->isVisibleTo(w.get()));
    EXPECT_EQ(button(*w, "BtnRutaTrabjo")->text(), QStringLiteral("Archivos de trabajo"));
    QTest::mouseClick(button(*w, "BtnRutaTrabjo"), Qt::LeftButton);
    EXPECT_EQ(m_abiertas, QStringList{QStringLiteral("FrmRutaTrabajo")});
}

TEST_F(Consola, ProbeFollowsTheServerAndServiceButtonsDriveIt) {
    auto& c = PgCluster::instance();
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    expectOnline(*w);

    // Stopped behind the console's back.
    ASSERT_TRUE(c.stop());
    sondear(*w);
    expectStopped(*w);
    // The tool windows wait for the server.
    m_dialogs.answer(MsgResult::Ok);
    QTest::mouseClick(button(*w, "BtnBaseDeDatos"), Qt::LeftButton);
    EXPECT_EQ(m_dialogs.texts(),
              QStringList{QStringLiteral("Espere un momento mientras se verifica el estado del servidor")});
    EXPECT_TRUE(m_abiertas.isEmpty());

    // Iniciar starts it; the next probe reconnects.
    m_dialogs.clear();
    QTest::mouseClick(button(*w, "BtnIniciar"), Qt::LeftButton);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(c.isRunning());
    EXPECT_EQ(label(*w, "PicSemaforo1")->property("Imagen").toInt(), 2);
    EXPECT_TRUE(w->statusTimer()->isActive());
    sondear(*w);
    expectOnline(*w);

    // Detener, answered No: nothing happens; answered Yes: the server stops.
    m_dialogs.answer(MsgResult::No);
    QTest::mouseClick(button(*w, "BtnDetener"), Qt::LeftButton);
    EXPECT_TRUE(c.isRunning());
    m_dialogs.answer(MsgResult::Yes);
    QTest::mouseClick(button(*w, "BtnDetener"), Qt::LeftButton);
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_TRUE(
        m_dialogs.shown()[1].text.endsWith(QString(35, QLatin1Char(' ')) + QStringLiteral("¿ Desea continuar ?")));
    EXPECT_EQ(m_dialogs.shown()[1].buttons, MsgButtons::YesNo);
    EXPECT_FALSE(c.isRunning());
    EXPECT_TRUE(w->statusTimer()->isActive());
    sondear(*w);
    expectStopped(*w);

    // Started again from outside: the probe heals the connection by itself.
    ASSERT_TRUE(c.start());
    sondear(*w);
    expectOnline(*w);
    int total = 0;
    QString err;
    EXPECT_TRUE(ExecuteSQLrs(QStringLiteral("SELECT 1"), total, err)) << err.toStdString();
}

TEST_F(Consola, ReloadShowsOnlineAndLeavesNoFiles) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    QTest::mouseClick(button(*w, "BtnReiniciar"), Qt::LeftButton);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('|')).toStdString();
    expectOnline(*w);
    EXPECT_TRUE(w->statusTimer()->isActive());
    EXPECT_FALSE(QFile::exists(sesion().RutaTemporal + QStringLiteral("v7.reload.bat")));
    EXPECT_FALSE(QFile::exists(sesion().RutaTemporal + QStringLiteral("v7.reload.txt")));

    // An installation pg_ctl cannot be run on: the reason, not "not running".
    const QString instalacion = sesion().RutaPostgres;
    sesion().RutaPostgres = QStringLiteral("/no-existe/");
    m_dialogs.answer(MsgResult::Ok);
    QString motivo;
    EXPECT_FALSE(w->Reiniciar_Server(&motivo));
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(
        QStringLiteral("No se encontró la carpeta de datos del servidor PostgreSQL: /no-existe/data")))
        << m_dialogs.shown()[0].text.toStdString();
    EXPECT_EQ(motivo, m_dialogs.shown()[0].text);
    EXPECT_TRUE(w->statusTimer()->isActive());
    sesion().RutaPostgres = instalacion;
    m_dialogs.clear();

    // Against a stopped server the output is empty: the not-running message.
    ASSERT_TRUE(PgCluster::instance().stop());
    m_dialogs.answer(MsgResult::Ok);
    w->Reiniciar_Server();
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(
        QStringLiteral("El servidor NO se puede reiniciar debido a que NO esta en ejecución.")));
    EXPECT_FALSE(QFile::exists(sesion().RutaTemporal + QStringLiteral("v7.reload.txt")));
}

TEST_F(Consola, StartWhileOnlineAndStopWhileStoppedOnlyInform) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    m_dialogs.answer(MsgResult::Ok);
    w->Iniciar_Server();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("El servidor ya está en funcionamiento")});
    ASSERT_TRUE(PgCluster::instance().stop());
    sondear(*w);
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    w->Detener_Server();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Actualmente ya está detenido el Servidor")});
}

TEST_F(Consola, ProbeRunsWhileAServiceWaitIsInProgress) {
    // Events run during waits: a timer set before a stop fires in the middle of it.
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    int fired = 0;
    QTimer t;
    t.setInterval(5);
    QObject::connect(&t, &QTimer::timeout, [&] { ++fired; });
    t.start();
    m_dialogs.answer(MsgResult::Yes);
    QTest::mouseClick(button(*w, "BtnDetener"), Qt::LeftButton);
    t.stop();
    EXPECT_GT(fired, 0);
}

TEST_F(Consola, ServiceActionsLockTheWholeConsole) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    w->show();
    sondear(*w);
    Muestreo muestreo(*w);
    m_dialogs.answer(MsgResult::Yes);
    QTest::mouseClick(button(*w, "BtnDetener"), Qt::LeftButton);
    muestreo.detener();
    // The confirmation itself comes before the lock; from there on nothing can be used.
    EXPECT_TRUE(muestreo.siempreBloqueada()) << muestreo.habilitadosAlgunaVez().join(QLatin1Char(',')).toStdString();
    EXPECT_FALSE(PgCluster::instance().isRunning());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(button(*w, "BtnSalir")->isEnabled());
}

// A port that takes the connection and never answers: the probe works off the windows' thread, so the
// console's events keep flowing, and the server is shown as not answering.
TEST_F(Consola, ProbeNeverBlocksTheWindowWhenTheServerDoesNotAnswer) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    expectOnline(*w);
    const auto compartida = sesion().ConexionPrincipal;
    EscuchaMuda muda;
    sesion().CadenaConexion =
        cadenaConexionPrincipal(QStringLiteral("127.0.0.1"), muda.puerto(), kJefe.usuario, kJefe.clave);

    Pausas pausas;
    w->TmrStatus_Timer(); // the console's own timer goes on every 2 s
    EXPECT_TRUE(esperarHasta([&] { return w->estado() == EstadoConsola::SinRespuesta; }, 8000));
    w->statusTimer()->stop();
    EXPECT_TRUE(esperarHasta([&] { return !w->sondeoEnCurso(); }, 10000)); // its login time-out ends it
    EXPECT_TRUE(pausas.siempreAtendio()) << pausas.informe();
    EXPECT_TRUE(status(*w).startsWith(QStringLiteral("Sin respuesta del servidor\r\n"))) << status(*w).toStdString();
    // A Spanish sentence on the label, whichever noticed first (the console's clock or the probe's time-out);
    // the driver's words, if any, only in its tooltip.
    const QString frase = status(*w).section(QStringLiteral("\r\n"), 1);
    EXPECT_TRUE(frase.startsWith(QStringLiteral("El servidor no contestó en ")) ||
                frase == QStringLiteral("El servidor de base de datos aceptó la conexión, pero no contestó a tiempo."))
        << frase.toStdString();
    EXPECT_FALSE(label(*w, "EtStatus")->toolTip().isEmpty());
    EXPECT_FALSE(label(*w, "EtStatus")->toolTip().contains(kJefe.clave));
    EXPECT_EQ(w->estado(), EstadoConsola::SinRespuesta);
    EXPECT_EQ(enabled(*w), QStringLiteral("IDR"));
    EXPECT_EQ(sesion().ConexionPrincipal, compartida);
    EXPECT_TRUE(compartida->isOpen());
}

// The probe never runs on the shared connection: not while a window's long operation holds it, and not
// when that connection has died inside a transaction.
TEST_F(Consola, ProbeKeepsOffTheSharedConnection) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    sesion().BaseDatosValida = true;

    // A backup through the maintenance window: the probe stays idle while it runs.
    {
        FrmBase base(w.get());
        base.show();
        TempDir destino;
        base.findChild<QLineEdit*>(QStringLiteral("txtRuta"))->setText(destino.file(QStringLiteral("r.zip")));
        int intentos = 0, sondeos = 0;
        Muestreo muestreo(base);
        muestreo.alMuestrear([&](int) {
            ++intentos;
            w->TmrStatus_Timer();
            sondeos += w->sondeoEnCurso() ? 1 : 0;
        });
        m_dialogs.answer(MsgResult::Ok);
        QTest::mouseClick(base.findChild<QWidget*>(QStringLiteral("BtnRespaldar")), Qt::LeftButton);
        muestreo.detener();
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Information) << m_dialogs.shown()[0].text.toStdString();
        EXPECT_GT(intentos, 3);
        EXPECT_EQ(sondeos, 0);
    }

    // The shared connection's transaction lost with its server process: the probe reports the server,
    // and leaves that connection (and the news of the lost transaction) to its owner.
    const auto compartida = sesion().ConexionPrincipal;
    db::DbError e;
    ASSERT_TRUE(compartida->begin(e)) << e.description.toStdString();
    auto pid = compartida->query(QStringLiteral("SELECT pg_backend_pid()"), e);
    ASSERT_TRUE(pid);
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("SELECT pg_terminate_backend(%1);").arg(pid->text(0))));
    sondear(*w);
    expectOnline(*w);
    EXPECT_EQ(sesion().ConexionPrincipal, compartida);
    EXPECT_TRUE(compartida->inTransaction());
}

TEST_F(Consola, StartWithThePortTakenShowsPgCtlsReason) {
    auto& c = PgCluster::instance();
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    ASSERT_TRUE(c.stop());
    sondear(*w);
    expectStopped(*w);
    EscuchaMuda ocupado(c.port());
    m_dialogs.answer(MsgResult::Ok);
    QTest::mouseClick(button(*w, "BtnIniciar"), Qt::LeftButton);
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se logró iniciar el servidor PostgreSQL.\r\n")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("could not start server"))) << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("Address already in use"))) << texto.toStdString();
    EXPECT_FALSE(c.isRunning());
    EXPECT_TRUE(w->statusTimer()->isActive());
}

// The data folder's owner can make pg_log a link to a root-only folder: a failed start then says why the
// server's log is not shown, and nothing behind the link reaches the box.
TEST_F(Consola, AFailedStartShowsNoLogBehindALinkAndSaysWhy) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, as the start runs";
    }
    InstalacionFalsa inst;
    ASSERT_TRUE(inst.ok());
    ASSERT_TRUE(QFile::link(inst.victima(), inst.datos() + QStringLiteral("/pg_log")));
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sesion().RutaPostgres = inst.carpeta();
    m_dialogs.answer(MsgResult::Ok);
    w->EsperarShell(QStringLiteral("net start postgresql-x64-9.0"));
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    const QString texto = m_dialogs.shown()[0].text;
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se logró iniciar el servidor PostgreSQL.\r\n")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("\r\n\r\nNo se muestra el registro del servidor: La carpeta ") +
                               inst.datos() + QStringLiteral("/pg_log es un enlace simbólico")))
        << texto.toStdString();
    EXPECT_FALSE(texto.contains(QStringLiteral("SECRETO"))) << texto.toStdString();
    EXPECT_EQ(InstalacionFalsa::leer(inst.secreto()), QByteArray("SECRETO-DE-ROOT\n"));
}

TEST_F(Consola, ARefusedPasswordIsNotAStoppedServerAndIsNotRetried) {
    auto& c = PgCluster::instance();
    // Every failed login the server logged so far.
    auto rechazos = [&] {
        int n = 0;
        for (const QFileInfo& f : QDir(c.dataFolder() + QStringLiteral("/pg_log")).entryInfoList(QDir::Files)) {
            QFile log(f.filePath());
            if (log.open(QIODevice::ReadOnly)) {
                n += int(log.readAll().count("password authentication failed for user \"jefe\""));
            }
        }
        return n;
    };
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sondear(*w);
    const int antes = rechazos();
    // Changed elsewhere, and every session of the login ended.
    ASSERT_TRUE(
        c.psql(QStringLiteral("ALTER ROLE jefe PASSWORD 'cambiada';"
                              "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'jefe';")));
    sondear(*w);
    EXPECT_EQ(w->estado(), EstadoConsola::SinAcceso);
    EXPECT_TRUE(status(*w).startsWith(QStringLiteral("Sin acceso: el servidor está en ejecución")))
        << status(*w).toStdString();
    EXPECT_FALSE(status(*w).contains(kJefe.clave));
    EXPECT_EQ(enabled(*w), QStringLiteral("-DR"));
    ASSERT_TRUE(esperarHasta([&] { return rechazos() == antes + 1; }, 3000));
    for (int i = 0; i < 3; ++i) {
        sondear(*w);
        EXPECT_EQ(w->estado(), EstadoConsola::SinAcceso);
    }
    QTest::qWait(300);
    EXPECT_EQ(rechazos(), antes + 1);

    // It can still be stopped; then it is shown as stopped.
    m_dialogs.answer(MsgResult::Yes);
    QTest::mouseClick(button(*w, "BtnDetener"), Qt::LeftButton);
    EXPECT_FALSE(c.isRunning());
    sondear(*w);
    expectStopped(*w);
}

TEST_F(Consola, StaffTableUpgradeFromVersionOne) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("ALTER TABLE catalogos.analistas DROP COLUMN idbiblioteca;"
                                      "UPDATE config_veliro.tablaver SET version = 1 WHERE tabla = 'analistas';")));
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT version || ' ' || usuario || ' ' || fecha FROM config_veliro.tablaver "
                                      "WHERE esquema='catalogos' AND tabla='analistas'")),
              QStringLiteral("2 jefe 2009-11-29"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE table_name='analistas' "
                                      "AND column_name='idbiblioteca'")),
              QStringLiteral("1"));
    EXPECT_TRUE(m_dialogs.shown().empty());

    // At version 1 with the column already there the ALTER fails: its text is shown, the row stays at 1.
    ASSERT_TRUE(c.psql(QStringLiteral("UPDATE config_veliro.tablaver SET version = 1 WHERE tabla = 'analistas';")));
    m_dialogs.answer(MsgResult::Ok);
    auto again = consola();
    ASSERT_TRUE(again->Form_Load());
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_TRUE(m_dialogs.shown()[0].text.contains(QStringLiteral("[cadSQL]:ALTER TABLE catalogos.analistas")));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT version FROM config_veliro.tablaver WHERE tabla='analistas'")),
              QStringLiteral("1"));
}

TEST_F(Consola, DuplicateStaffRowsOfOneNameKeepTheNewest) {
    auto& c = PgCluster::instance();
    const QString rows = QStringLiteral("SELECT string_agg(usuario || idanalista, ',' ORDER BY idanalista) FROM "
                                        "catalogos.analistas WHERE usuario IN ('ana', 'luis', 'eva')");
    ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (idanalista, usuario) VALUES "
                                      "(104, 'ana'), (107, 'ana'), (109, 'ana'), (110, 'luis');")));
    {
        auto w = consola();
        ASSERT_TRUE(w->Form_Load());
    }
    EXPECT_EQ(c.scalar(rows), QStringLiteral("ana109,luis110"));

    // Two duplicated names: nothing is deleted.
    ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (idanalista, usuario) VALUES "
                                      "(111, 'ana'), (112, 'eva'), (113, 'eva');")));
    {
        auto w = consola();
        ASSERT_TRUE(w->Form_Load());
    }
    EXPECT_EQ(c.scalar(rows), QStringLiteral("ana109,luis110,ana111,eva112,eva113"));
}

TEST_F(Consola, ClosingStopsTheProbeAndClosesTheConnection) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    w->show();
    QAction* salir = w->findChild<QAction*>(QStringLiteral("mnuSalir"));
    ASSERT_NE(salir, nullptr);
    salir->trigger();
    EXPECT_FALSE(w->statusTimer()->isActive());
    EXPECT_FALSE(sesion().ConexionPrincipal);
    EXPECT_TRUE(m_salidas.empty());
}

TEST_F(Consola, SalirEndsAtOnceAndCollectionNeedsASuperuser) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    sesion().RolSesion.clear();
    m_dialogs.answer(MsgResult::Ok);
    QTest::mouseClick(button(*w, "cmdExportarAcervo"), Qt::LeftButton);
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Accion denegada"));
    QTest::mouseClick(button(*w, "BtnSalir"), Qt::LeftButton);
    EXPECT_EQ(m_salidas, std::vector<int>{0});
    EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen()); // no closing step
}

// The keyboard as a Windows administrator uses it: Enter presses the focused button (Space too), and the
// configuration menu opens with its access key.
TEST_F(Consola, EnterPressesTheFocusedButtonAndTheMenuHasItsAccessKey) {
    auto w = consola();
    ASSERT_TRUE(w->Form_Load());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    MyButton* ruta = button(*w, "BtnRutaTrabjo");
    for (Qt::Key tecla : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        m_abiertas.clear();
        ruta->setFocus();
        QTest::keyClick(ruta, tecla, tecla == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(m_abiertas, QStringList{QStringLiteral("frmGrabaReporte")}) << tecla;
    }
    // A disabled button takes nothing.
    m_abiertas.clear();
    MyButton* iniciar = button(*w, "BtnIniciar");
    ASSERT_FALSE(iniciar->isEnabled());
    QTest::keyClick(iniciar, Qt::Key_Return);
    EXPECT_TRUE(m_dialogs.shown().empty());

    auto* menu = w->findChild<QMenu*>(QStringLiteral("mnuConfig"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("&Configuración"));
    EXPECT_EQ(menu->menuAction()->shortcut(), QKeySequence());
    EXPECT_EQ(QKeySequence::mnemonic(menu->title()), QKeySequence(Qt::ALT | Qt::Key_C));
}

// Every button of the console's windows can be told by name: a screen reader, or a keyboard user hunting by
// name, finds the picture buttons and the check boxes captioned by a separate label too.
TEST_F(Consola, EveryButtonOfTheConsoleWindowsHasANameAndTheUnnamedAreFound) {
    // What the check finds: a picture button, a check box without a caption.
    {
        QWidget w;
        auto* imagen = ui::boton(&w, QStringLiteral("BtnImagen"), QString(), QRect(0, 0, 20, 20));
        auto* casilla = ui::casilla(&w, QStringLiteral("ChkSola"), QString(), QRect(0, 30, 20, 20));
        ui::boton(&w, QStringLiteral("BtnConTexto"), QStringLiteral("&Aceptar"), QRect(0, 60, 80, 20));
        EXPECT_EQ(ui::botonesSinNombre(&w), (QStringList{QStringLiteral("BtnImagen"), QStringLiteral("ChkSola")}));
        ui::nombreAccesible(imagen, QStringLiteral("Primero"));
        ui::nombreAccesible(casilla, QStringLiteral("Deshabilitar"), QStringLiteral("Quita la carpeta"));
        EXPECT_TRUE(ui::botonesSinNombre(&w).isEmpty());
        EXPECT_EQ(imagen->toolTip(), QStringLiteral("Primero"));
        EXPECT_EQ(casilla->toolTip(), QStringLiteral("Quita la carpeta"));
        auto* otra = ui::botonImagen(&w, QStringLiteral("BtnSiguiente"), QStringLiteral("Siguiente"), QIcon(),
                                     QRect(0, 90, 20, 20));
        EXPECT_EQ(otra->accessibleName(), QStringLiteral("Siguiente"));
        EXPECT_TRUE(ui::botonesSinNombre(&w).isEmpty());
    }

    ASSERT_TRUE(m_server->iniciarSesion());
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('ARCHIVOSCOMPARTIDOS', '/srv/v7');")));
    sesion().RutaTrabajo = QStringLiteral(" /srv/v7");
    auto sinNombre = [](QWidget& w) { return ui::botonesSinNombre(&w).join(QLatin1Char(',')).toStdString(); };
    auto w = consola();
    EXPECT_EQ(sinNombre(*w), "");
    FrmRutaTrabajo ruta;
    EXPECT_EQ(sinNombre(ruta), "");
    EXPECT_EQ(hijo(ruta, "ChkEliminaCarpeta")->accessibleName(), QStringLiteral("Deshabilitar carpeta compartida"));
    EXPECT_FALSE(hijo(ruta, "ImgAyuda")->accessibleName().isEmpty());
    FrmUsuariosConectados monitoreo;
    EXPECT_EQ(sinNombre(monitoreo), "");
    ASSERT_TRUE(DeshabilitarCarpetaCompartida(sesion().UsuarioBD, scriptReportes(), QString()).ok);
    frmGrabaReporte reportes;
    EXPECT_EQ(sinNombre(reportes), "");
    UbicacionReporte u;
    frmModificaReporte ubicacion(u);
    EXPECT_EQ(sinNombre(ubicacion), "");
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
}

} // namespace
