// Every statement of the console's windows behind another session's lock: while it waits the windows keep
// running (a 10 ms timer never waits more than 100 ms), the wait runs out within the interactive limit,
// nothing is left half done, and the action ends with its Spanish message.
#include "console/FrmInicio.h"
#include "console/FrmRutaTrabajo.h"
#include "console/FrmUsuariosConectados.h"
#include "console/frmGrabaReporte.h"
#include "console/frmModificaReporte.h"
#include "console/reportes.h"
#include "console/ruta_trabajo.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

using namespace v7;
using namespace v7::test;

namespace {

// What another session's lock leaves the user reading.
const QString kOcupado = QStringLiteral(
    "Otra sesión está usando estos datos y no los liberó a tiempo; inténtelo de nuevo en unos momentos.");

class Bloqueos : public PruebaConServidor {
protected:
    void SetUp() override {
        PruebaConServidor::SetUp();
        ASSERT_TRUE(m_server->iniciarSesion());
    }

    void conPlantillas() {
        const ResultadoDeshabilitar r = DeshabilitarCarpetaCompartida(sesion().UsuarioBD, scriptReportes(), QString());
        ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    }

    // Runs accion while tabla is held by another session; the window's events never pause long, the action
    // ends within the lock limit and shows one message, whose text is returned.
    // respuestas: the boxes the action shows, in order (a question before the statement, its outcome).
    QString bajoBloqueo(const QString& tabla, const std::function<void()>& accion,
                        std::initializer_list<MsgResult> respuestas = {MsgResult::Ok}, int esperas = 1,
                        const QString& modo = QStringLiteral("ACCESS EXCLUSIVE")) {
        TablaOcupada ocupada(tabla, modo);
        m_dialogs.clear();
        for (MsgResult r : respuestas) {
            m_dialogs.answer(r);
        }
        Pausas pausas(true);
        accion();
        const qint64 corto = pausas.reloj().corto();
        const qint64 largo = pausas.reloj().largo();
        EXPECT_TRUE(pausas.siempreAtendio()) << tabla.toStdString() << ": " << pausas.informe();
        EXPECT_GE(largo, esperas * kPlazosInteractivos.bloqueoMs - 100) << tabla.toStdString();
        EXPECT_LT(corto, esperas * kPlazosInteractivos.bloqueoMs + 10000) << tabla.toStdString();
        EXPECT_TRUE(m_dialogs.allAnswered()) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
        return m_dialogs.shown().empty() ? QString() : m_dialogs.shown().back().text;
    }

    ScriptedDialogs m_dialogs;
};

TEST_F(Bloqueos, TheTemplatesWindowListSavesAndDeletes) {
    conPlantillas();
    const QString cuantos = QStringLiteral("SELECT count(*) || ' ' || sum(length(reporte)) FROM reportes.reporte");
    const QString antes = PgCluster::instance().scalar(cuantos);

    // Opening: the list cannot be read.
    const QString lista = bajoBloqueo(QStringLiteral("reportes.reporte"), [] { frmGrabaReporte w; });
    EXPECT_TRUE(lista.startsWith(QStringLiteral("No se pudo leer la lista de reportes.\r\n") + kOcupado))
        << lista.toStdString();

    frmGrabaReporte w;
    w.show();
    auto* lista2 = hijo<QTreeWidget>(w, "LstReporte");
    ASSERT_EQ(lista2->topLevelItemCount(), 32);

    // A change to the selected definition.
    click(w, "BtnModificar");
    hijo<QPlainTextEdit>(w, "txtReporte")->setPlainText(QStringLiteral("<Reporte>cambiado</Reporte>"));
    const QString guardar = bajoBloqueo(QStringLiteral("reportes.reporte"), [&] { click(w, "BtnGuardar"); });
    EXPECT_TRUE(guardar.startsWith(QStringLiteral("Error al guardar el reporte\r\n") + kOcupado))
        << guardar.toStdString();
    EXPECT_FALSE(guardar.contains(QStringLiteral("UPDATE"))) << guardar.toStdString();
    click(w, "BtnCancelar");

    // A new definition, placed: the name is checked (reading is allowed), then the insert waits.
    click(w, "BtnNuevo");
    hijo<QPlainTextEdit>(w, "txtReporte")->setPlainText(QStringLiteral("<Reporte>nuevo</Reporte>"));
    const QString nuevo = bajoBloqueo(
        QStringLiteral("reportes.reporte"),
        [&] {
            alAbrirModal([](QWidget* m) {
                auto* modulos = hijo<QComboBox>(*m, "cmbModulo");
                modulos->setCurrentIndex(modulos->findText(QStringLiteral("Servicios")));
                hijo<QLineEdit>(*m, "TxtNombreReporte")->setText(QStringLiteral("Listado nuevo"));
                click(*m, "BtnAceptar");
            });
            click(w, "BtnGuardar");
        },
        {MsgResult::Ok}, 1, QStringLiteral("SHARE"));
    EXPECT_TRUE(nuevo.startsWith(QStringLiteral("Error al guardar el reporte\r\n") + kOcupado)) << nuevo.toStdString();
    click(w, "BtnCancelar");

    // A deletion, confirmed.
    const QString borrar = bajoBloqueo(QStringLiteral("reportes.reporte"), [&] { click(w, "BtnEliminar"); },
                                       {MsgResult::Yes, MsgResult::Ok});
    EXPECT_TRUE(
        borrar.startsWith(QStringLiteral("No se eliminó el reporte debido a la siguiente situación: \r\n") + kOcupado))
        << borrar.toStdString();
    EXPECT_EQ(lista2->topLevelItemCount(), 32);
    EXPECT_EQ(PgCluster::instance().scalar(cuantos), antes);
}

// The sessions list reads the server's activity view, which reads the database catalogue: held by another
// session, the window says so and closes; the program goes on.
TEST_F(Bloqueos, TheSessionsList) {
    bool cargada = true;
    const QString texto = bajoBloqueo(QStringLiteral("pg_catalog.pg_database"), [&] {
        FrmUsuariosConectados w;
        cargada = w.cargado();
    });
    EXPECT_FALSE(cargada);
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se pudo leer la lista de usuarios conectados.\r\n") + kOcupado))
        << texto.toStdString();
    EXPECT_TRUE(m_salidas.empty());
}

TEST_F(Bloqueos, ThePlacementWindowsListsAndNameCheck) {
    conPlantillas();
    UbicacionReporte u;
    const QString modulos = bajoBloqueo(QStringLiteral("reportes.modulos"), [&] { frmModificaReporte w(u); });
    EXPECT_TRUE(modulos.startsWith(QStringLiteral("No se pudo leer la lista de módulos.\r\n") + kOcupado))
        << modulos.toStdString();

    frmModificaReporte w(u);
    w.show();
    auto* combo = hijo<QComboBox>(w, "cmbModulo");
    const QString secciones = bajoBloqueo(QStringLiteral("reportes.seccion"),
                                          [&] { combo->setCurrentIndex(combo->findText(QStringLiteral("Análisis"))); });
    EXPECT_TRUE(secciones.startsWith(QStringLiteral("No se pudo leer la lista de secciones.\r\n") + kOcupado))
        << secciones.toStdString();

    combo->setCurrentIndex(combo->findText(QStringLiteral("Servicios")));
    hijo<QLineEdit>(w, "TxtNombreReporte")->setText(QStringLiteral("Nuevo listado"));
    const QString nombre = bajoBloqueo(QStringLiteral("reportes.reporte"), [&] { click(w, "BtnAceptar"); });
    EXPECT_TRUE(nombre.startsWith(QStringLiteral("Ocurrió el siguiente error al tratar de recuperar los nombres de los "
                                                 "reportes almacenados en la base de datos\r\n") +
                                  kOcupado))
        << nombre.toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(u.completa());
}

TEST_F(Bloqueos, TheWorkFilesWindowPathAndSwitch) {
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "INSERT INTO config_veliro.configuracion VALUES ('ARCHIVOSCOMPARTIDOS', '\\\\srv\\anterior\\');")));
    sesion().HayArchivosCompartidos = true;
    const QString valor =
        QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'");
    FrmRutaTrabajo w;
    w.show();
    hijo<QLineEdit>(w, "TxtRutaTrabajo")->setText(QStringLiteral("\\\\srv\\nueva\\archivoscompartidos.rt"));
    const QString ruta = bajoBloqueo(QStringLiteral("config_veliro.configuracion"), [&] { click(w, "BtnGrabar"); });
    EXPECT_TRUE(ruta.startsWith(QStringLiteral("Ocurrió un error al intentar guardar la ruta,\r\npor favor, inténtalo "
                                               "nuevamente\r\n") +
                                kOcupado))
        << ruta.toStdString();
    EXPECT_EQ(PgCluster::instance().scalar(valor), QStringLiteral("\\\\srv\\anterior\\"));
    EXPECT_TRUE(w.isVisible());

    // The switch waits for the staff users' table; it stops with nothing changed, and the program goes on.
    hijo<QCheckBox>(w, "ChkEliminaCarpeta")->setChecked(true);
    const QString cambio = bajoBloqueo(QStringLiteral("catalogos.usuarios"), [&] { click(w, "BtnGrabar"); });
    EXPECT_TRUE(cambio.startsWith(QStringLiteral("No se logró deshabilitar la funcionalidad de la carpeta \"Archivo de "
                                                 "Trabajo\" debido a la siguiente razón: \r\n") +
                                  kOcupado))
        << cambio.toStdString();
    EXPECT_TRUE(m_salidas.empty());
    EXPECT_EQ(
        PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'reportes'")),
        QStringLiteral("0"));
    EXPECT_EQ(PgCluster::instance().scalar(valor), QStringLiteral("\\\\srv\\anterior\\"));
    EXPECT_TRUE(sesion().HayArchivosCompartidos);
}

// The console's start behind a client that holds the staff table: the upgrade's ALTER gives up within its
// limit and says so; the console starts.
TEST_F(Bloqueos, TheConsolesStartUp) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("ALTER TABLE catalogos.analistas DROP COLUMN idbiblioteca;"
                                      "UPDATE config_veliro.tablaver SET version = 1 WHERE tabla = 'analistas';")));
    // Logged in already: what is measured is the console's own start.
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [](QWidget*) { return QStringLiteral("OK"); };
    FrmInicio consola(v);
    bool cargada = false;
    // The ALTER and the removal of duplicated rows each wait for the lock.
    const QString texto = bajoBloqueo(
        QStringLiteral("catalogos.analistas"), [&] { cargada = consola.Form_Load(); }, {MsgResult::Ok}, 2);
    EXPECT_TRUE(cargada);
    EXPECT_TRUE(texto.contains(QStringLiteral("ALTER TABLE catalogos.analistas"))) << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("lock timeout")) || texto.contains(QStringLiteral("bloqueo")))
        << texto.toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT version FROM config_veliro.tablaver WHERE tabla='analistas'")),
              QStringLiteral("1"));
    EXPECT_EQ(hijo<QLabel>(consola, "EtStatus")->text(), QStringLiteral("  Espere..."));
}

} // namespace
