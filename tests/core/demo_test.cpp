// The demo installation, walked as a new administrator walks it: the demo's library data (the script
// scripts/demo loads) on the test cluster, the real login, and every console button opening its window
// without an error box; the collection export finds something to export; the work-files window switches
// the installation to report templates, and the templates window then lists them.
#include "accounts/FrmUsuarios.h"
#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/session.h"
#include "platform/widgets_ui.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace v7;
using namespace v7::test;

namespace {

QString datosDemo() {
    QFile f(QStringLiteral(V7_SOURCE_DIR "/schema/veliro7_demo.sql"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Whether a window is done coming up: the staff window fills its list once it is on screen.
bool arriba(QWidget* v) {
    auto* usuarios = qobject_cast<FrmUsuarios*>(v);
    return usuarios == nullptr || usuarios->activaciones() > 0;
}

class Demo : public PruebaConServidor {
protected:
    // Clicks a console button; once the window it opens has come up, runs f on it and closes it. The
    // name of that window.
    QString abrir(FrmInicio& consola, const char* boton, std::function<void(QWidget*)> f = {}) {
        QString abierta;
        alAbrirModal([&abierta, boton, f](QWidget* v) {
            abierta = v->objectName();
            EXPECT_FALSE(v->windowTitle().isEmpty()) << boton;
            // Acted on from a timer of its own, so the window's own start-up runs meanwhile.
            auto* espera = new QTimer(v);
            auto reloj = std::make_shared<QElapsedTimer>();
            reloj->start();
            espera->setInterval(20);
            QObject::connect(espera, &QTimer::timeout, v, [=] {
                if (!arriba(v) && reloj->elapsed() < 15000) {
                    return;
                }
                espera->stop();
                EXPECT_TRUE(arriba(v)) << boton << ": the window did not come up";
                if (f) {
                    f(v);
                }
                if (v->isVisible()) {
                    v->close();
                }
            });
            espera->start();
        });
        click(consola, boton);
        return abierta;
    }

    std::string cuadros() const { return m_dialogs.texts().join(QStringLiteral(" | ")).toStdString(); }

    ScriptedDialogs m_dialogs;
    TempDir m_destino;
};

TEST_F(Demo, EveryConsoleWindowOpensAndTheTemplatesAfterTheSwitch) {
    auto& pg = PgCluster::instance();
    const QString datos = datosDemo();
    ASSERT_FALSE(datos.isEmpty());
    ASSERT_TRUE(pg.psql(datos));
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas WHERE usuario IN ('direccion', "
                                       "'coordinacion', 'circulacion', 'consulta')")),
              QStringLiteral("4"));

    FrmInicio consola;
    alAbrirModal([](QWidget* m) {
        auto* login = qobject_cast<FrmIniciarSesion*>(m);
        ASSERT_NE(login, nullptr);
        hijo<QLineEdit>(*login, "TxtUsuario")->setText(kJefe.usuario);
        hijo<QLineEdit>(*login, "TxtPassword")->setText(kJefe.clave);
        hijo<QLineEdit>(*login, "TxtIpServidor")->setText(QStringLiteral("127.0.0.1"));
        hijo<QLineEdit>(*login, "TxtPuerto")->setText(QString::number(PgCluster::instance().port()));
        click(*login, "BtnAceptar");
    });
    ASSERT_TRUE(consola.Form_Load()) << cuadros();
    ASSERT_TRUE(m_dialogs.shown().empty()) << cuadros();
    consola.show();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    ASSERT_EQ(consola.estado(), EstadoConsola::EnLinea);
    EXPECT_TRUE(sesion().HayArchivosCompartidos);

    struct Boton {
        const char* boton;
        const char* ventana;
    };
    const Boton botones[] = {
        {"BtnBaseDeDatos", "FrmBase"},
        {"BtnMonitoreo", "FrmUsuariosConectados"},
        {"BtnUsuarios", "FrmUsuarios"},
        {"BtnPermisos", "FrmPermisosAcceso"},
        {"BtnRespaldo", "FrmProgTareas"},
        {"BtnRutaTrabjo", "FrmRutaTrabajo"},
        {"cmdExportarAcervo", "frmActualizarAcervo"},
    };
    for (const Boton& b : botones) {
        SCOPED_TRACE(b.boton);
        m_dialogs.clear();
        EXPECT_EQ(abrir(consola, b.boton), QString::fromLatin1(b.ventana));
        EXPECT_TRUE(m_dialogs.shown().empty()) << cuadros();
    }

    // The staff window lists the demo's accounts, one in each group.
    abrir(consola, "BtnUsuarios", [](QWidget* v) {
        const auto* lista = hijo<QTreeWidget>(*v, "ListUsuarios");
        ASSERT_NE(lista, nullptr);
        QStringList nombres;
        for (int i = 0; i < lista->topLevelItemCount(); ++i) {
            nombres << lista->topLevelItem(i)->text(0);
        }
        for (const char* n : {"direccion", "coordinacion", "circulacion", "consulta"}) {
            EXPECT_TRUE(nombres.contains(QString::fromLatin1(n)))
                << n << ": " << nombres.join(QLatin1Char(',')).toStdString();
        }
    });

    // The collection export of the first library stages this month's items.
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    abrir(consola, "cmdExportarAcervo", [this](QWidget* acervo) {
        alAbrirModal([this](QWidget* exportar) {
            auto* combo = hijo<QComboBox>(*exportar, "cboBibliotecas");
            EXPECT_EQ(combo->count(), 3);
            combo->setCurrentIndex(combo->findData(1));
            hijo<QLineEdit>(*exportar, "txtRuta")->setText(m_destino.path());
            click(*exportar, "cmdCreaTablas");
            exportar->close();
        });
        click(*acervo, "cmdExportar");
    });
    ASSERT_EQ(m_dialogs.shown().size(), 1u) << cuadros();
    EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Exportacion exitosa")) << cuadros();
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT string_agg(no_adqui, ',' ORDER BY no_adqui) FROM "
                                       "analisis.zexporta_bejemplares")),
              QStringLiteral("C-0001,C-0002,C-0004,C-0005"));

    // The switch to report templates, as a superuser makes it; the program ends after it.
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Ok);
    abrir(consola, "BtnRutaTrabjo", [](QWidget* v) {
        click(*v, "ChkEliminaCarpeta");
        ASSERT_TRUE(hijo<QCheckBox>(*v, "ChkEliminaCarpeta")->isChecked());
        click(*v, "BtnGrabar");
    });
    ASSERT_EQ(m_dialogs.shown().size(), 1u) << cuadros();
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(
        QStringLiteral("Se ha deshabilitado correctamente la funcionalidad de la carpeta")))
        << cuadros();
    EXPECT_EQ(m_salidas, std::vector<int>{0});
    EXPECT_FALSE(sesion().HayArchivosCompartidos);

    // The same button now opens the report templates, listed.
    m_dialogs.clear();
    int plantillas = 0;
    EXPECT_EQ(abrir(consola, "BtnRutaTrabjo",
                    [&](QWidget* v) { plantillas = hijo<QTreeWidget>(*v, "LstReporte")->topLevelItemCount(); }),
              QStringLiteral("frmGrabaReporte"));
    EXPECT_TRUE(m_dialogs.shown().empty()) << cuadros();
    EXPECT_EQ(plantillas, 32);
    // And the collection import finds its merge script.
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT count(*) FROM reportes.plantillas WHERE nombre = 'RESTAURA_ACERVO'")),
              QStringLiteral("1"));
}

} // namespace
