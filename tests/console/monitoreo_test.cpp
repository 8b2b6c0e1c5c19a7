// Connected sessions (one row per client address, client sessions only) and the server's log of
// the day.
#include "console/FrmInicio.h"
#include "console/FrmUsuariosConectados.h"
#include "console/monitoreo.h"
#include "core/session.h"
#include "platform/db.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTabBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

QStringList textos(const QTreeWidget* lista, int columna = -1) {
    QStringList out;
    for (int i = 0; i < lista->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lista->topLevelItem(i);
        if (columna >= 0) {
            out << item->text(columna);
            continue;
        }
        QStringList fila;
        for (int c = 0; c < item->columnCount(); ++c) {
            fila << item->text(c);
        }
        out << fila.join(QLatin1Char('|'));
    }
    return out;
}

void elegirPestania(const QWidget& w, int indice) {
    auto* tab = hijo<QTabBar>(w, "TabUsuarios");
    QTest::mouseClick(tab, Qt::LeftButton, {}, tab->tabRect(indice).center());
}

class VentanaMonitoreo : public PruebaConServidor {
protected:
    ScriptedDialogs m_dialogs;
};

TEST_F(VentanaMonitoreo, OneRowPerClientAddressAndNoneForTheServersOwnProcesses) {
    auto& c = PgCluster::instance();
    // The server's own processes are there, without a client address.
    ASSERT_NE(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE client_addr IS NULL AND "
                                      "backend_type <> 'client backend'")),
              QStringLiteral("0"));
    ASSERT_TRUE(m_server->iniciarSesion());
    // Two more sessions from the same address, the newest one of another login.
    db::Connection otra, ultima;
    db::DbError e;
    otra.setConnectionString(c.connectionString(kAdmin.usuario, kAdmin.clave));
    ASSERT_TRUE(otra.open(e)) << e.description.toStdString();
    ultima.setConnectionString(c.connectionString(kOperador.usuario, kOperador.clave));
    ASSERT_TRUE(ultima.open(e)) << e.description.toStdString();

    FrmUsuariosConectados w;
    ASSERT_TRUE(w.cargado());
    auto* lista = hijo<QTreeWidget>(w, "ListUsuarios");
    ASSERT_EQ(lista->topLevelItemCount(), 1) << textos(lista).join(QLatin1Char('\n')).toStdString();
    const QTreeWidgetItem* fila = lista->topLevelItem(0);
    EXPECT_EQ(fila->text(0), QStringLiteral("veliro7"));
    EXPECT_EQ(fila->text(1), kOperador.usuario); // the newest session of the address
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(fila->text(2))
                    .hasMatch())
        << fila->text(2).toStdString();
    EXPECT_EQ(fila->text(3), QStringLiteral("127.0.0.1"));
    EXPECT_GT(fila->text(4).toInt(), 0);
    EXPECT_EQ(hijo<QLabel>(w, "EtConectados")->text(), QStringLiteral("Actualmente hay 1 usuario(s) conectado(s)"));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(VentanaMonitoreo, AFailingQueryIsShownAndTheWindowClosesWithoutEndingTheProgram) {
    ASSERT_TRUE(m_server->iniciarSesion());
    sesion().ConexionPrincipal->close();
    m_dialogs.answer(MsgResult::Ok);
    FrmUsuariosConectados w;
    EXPECT_FALSE(w.cargado());
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(m_dialogs.shown()[0].text.endsWith(QStringLiteral("[cadSQL]:") + kConsultaSesiones))
        << m_dialogs.shown()[0].text.toStdString();
    QTimer::singleShot(5000, &w, [&w] {
        ADD_FAILURE() << "the window stayed open";
        w.done(QDialog::Accepted);
    });
    EXPECT_EQ(w.exec(), QDialog::Rejected);
    EXPECT_TRUE(m_salidas.empty());
}

TEST_F(VentanaMonitoreo, TheLogTabShowsTheDaysLastFileAndSaysWhenThereIsNone) {
    // An administrator may not ask the server where it logs: the installation's data/pg_log is read.
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    TempDir instalacion;
    const QString carpeta = instalacion.path() + QStringLiteral("data/pg_log/");
    ASSERT_TRUE(QDir().mkpath(carpeta));
    sesion().RutaPostgres = instalacion.path();
    const QString hoy = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString ayer = QDate::currentDate().addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
    const std::pair<QString, QByteArray> archivos[] = {
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_140200.log"), "\xC3\xBAltimo: se\xC3\xB1"
                                                                              "al recibida\r\nsegunda l\xC3\xADnea\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_000000.log"), "primero\n"},
        {QStringLiteral("postgresql-") + ayer + QStringLiteral("_235959.log"), "ayer\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_091500.log"), "intermedio\n"},
        {QStringLiteral("postgresql-") + hoy + QStringLiteral("_150000.csv"), "otro formato\n"},
    };
    for (const auto& [nombre, contenido] : archivos) {
        QFile f(carpeta + nombre);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenido);
    }
    FrmUsuariosConectados w;
    w.show();
    elegirPestania(w, 1);
    auto* log = hijo<QTreeWidget>(w, "ListLog");
    EXPECT_EQ(textos(log), (QStringList{QStringLiteral("último: señal recibida"), QStringLiteral("segunda línea")}));
    EXPECT_EQ(log->headerItem()->text(0), QStringLiteral("Evento"));
    EXPECT_TRUE(w.tabResaltada(1));
    EXPECT_FALSE(w.tabResaltada(0));
    EXPECT_TRUE(hijo<QWidget>(w, "FrmBitacora")->isVisible());
    EXPECT_FALSE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    EXPECT_TRUE(m_dialogs.shown().empty());

    // A day without a file: the box with the date; the list keeps what it showed; the tabs still work.
    for (const auto& [nombre, contenido] : archivos) {
        QFile::remove(carpeta + nombre);
    }
    elegirPestania(w, 0);
    EXPECT_TRUE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    m_dialogs.answer(MsgResult::Ok);
    elegirPestania(w, 1);
    EXPECT_EQ(
        m_dialogs.texts(),
        QStringList{QStringLiteral("No se encontró el archivo con la bitácora correspondiente a la fecha ") + hoy});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(log->topLevelItemCount(), 2);
    EXPECT_TRUE(hijo<QTabBar>(w, "TabUsuarios")->isEnabled());
    elegirPestania(w, 0);
    EXPECT_TRUE(hijo<QWidget>(w, "FrmUsuarios")->isVisible());
    EXPECT_TRUE(w.tabResaltada(0));
}

TEST_F(VentanaMonitoreo, TheConsoleOpensItTheServersOwnLogIsReadAndScreenshotsAreTaken) {
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }));
    // A superuser's window follows the server to its log folder, not the installation's.
    sesion().RutaPostgres = QStringLiteral("/nonexistent/");
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    bool abierta = false;
    alAbrirModal([&](QWidget* m) {
        abierta = true;
        EXPECT_EQ(m->objectName(), QStringLiteral("FrmUsuariosConectados"));
        EXPECT_EQ(m->windowTitle(), QStringLiteral("VELIRO7 -  Usuarios conectados"));
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/usuarios_conectados.png")));
        elegirPestania(*m, 1);
        const QStringList lineas = textos(hijo<QTreeWidget>(*m, "ListLog"));
        EXPECT_FALSE(lineas.filter(QStringLiteral("database system is ready to accept connections")).isEmpty())
            << lineas.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m->grab().save(dir + QStringLiteral("/bitacora.png")));
        click(*m, "BtnSalir");
    });
    click(consola, "BtnMonitoreo");
    EXPECT_TRUE(abierta);
    EXPECT_TRUE(m_dialogs.shown().empty()) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
}

} // namespace
