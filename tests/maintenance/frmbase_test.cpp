#include "core/FrmIniciarSesion.h"
#include "core/session.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/FrmProgTareas.h"
#include "maintenance/FrmResetBD.h"
#include "maintenance/respaldo.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

class Ventana : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        sesion().BaseDatosValida = true;
        ASSERT_TRUE(PgCluster::instance().psql(
            QStringLiteral("INSERT INTO catalogos.usuarios (nombre) VALUES ('a'), ('b'), ('c');"
                           "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 10);")));
    }
    void TearDown() override { m_server.reset(); }

    template <typename T> static T* hijo(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static void click(QWidget& w, const char* name) { QTest::mouseClick(hijo<QWidget>(w, name), Qt::LeftButton); }
    static QString valor(const char* clave) {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT coalesce(max(valor), '<none>') FROM config_veliro.configuracion WHERE "
                           "descripcion = '%1'")
                .arg(QString::fromLatin1(clave)));
    }

    std::unique_ptr<ServidorPreparado> m_server;
    TempDir destinos;
};

TEST_F(Ventana, BackupThroughTheWindowLocksItAndGivesItBack) {
    ScriptedDialogs dialogs;
    FrmBase w;
    w.show();
    hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(1);
    EXPECT_TRUE(hijo<QWidget>(w, "FrameRespaldador")->isVisible());
    EXPECT_TRUE(w.tabResaltada(1));

    const QString destino = destinos.file(QStringLiteral("respaldo semanal.zip"));
    dialogs.answer(destino);
    click(w, "BtnExaminar");
    EXPECT_EQ(hijo<QLineEdit>(w, "txtRuta")->text(), destino);

    // While it runs: every control sampled from the events the waits let run. Escape, the close box, a
    // click on Examinar (its dialog would hold the tables locked) and typing change nothing.
    Muestreo muestreo(w);
    bool barraVista = false;
    muestreo.alMuestrear([&](int n) {
        barraVista = barraVista || hijo<QProgressBar>(w, "ProgBarr")->isVisible();
        if (n == 3) {
            w.reject();
            w.close();
            click(w, "BtnExaminar");
            QTest::keyClicks(hijo<QLineEdit>(w, "txtRuta"), QStringLiteral("x"));
            QTest::keyClick(&w, Qt::Key_Escape);
        }
    });
    dialogs.answer(MsgResult::Ok);
    click(w, "BtnRespaldar");
    muestreo.detener();

    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.shown()[1].text,
              QStringLiteral("El respaldo se ha generado satisfactoriamente en la siguiente\r\nubicación: ") + destino);
    ASSERT_GT(muestreo.muestras().size(), 3u);
    EXPECT_TRUE(muestreo.siempreBloqueada()) << muestreo.habilitadosAlgunaVez().join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(barraVista);
    EXPECT_EQ(hijo<QLineEdit>(w, "txtRuta")->text(), destino);
    EXPECT_TRUE(w.isVisible());
    // Given back.
    EXPECT_TRUE(hijo<QWidget>(w, "BtnRespaldar")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "BtnSalir")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "BtnMontar")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "BtnCompactar")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(hijo<QProgressBar>(w, "ProgBarr")->isVisible());
    EXPECT_FALSE(w.progressTimer()->isActive());
    EXPECT_EQ(w.rutaDestino(), destino);

    // The archive.
    EXPECT_EQ(entradas(destino), (QStringList{"base.backup", "checksum.dat", "rolesv7.sql"}));
    const QString volcado = destinos.file(QStringLiteral("base.backup"));
    escribir(volcado, miembro(destino, QStringLiteral("base.backup")));
    EXPECT_EQ(herramienta(QStringLiteral("pg_restore"), {QStringLiteral("-l"), volcado}), 0);
    const QStringList lineas = lineasDescifradas(miembro(destino, QStringLiteral("checksum.dat")));
    ASSERT_EQ(lineas.size(), 5);
    EXPECT_EQ(lineas.mid(0, 3), (QStringList{"catalogos.usuarios#3", "prestamo.devoluciones#0", "prestamo.multas#1"}));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$")).match(lineas[3]).hasMatch())
        << lineas[3].toStdString();
    EXPECT_EQ(lineas[4], motorEsperado());
    EXPECT_EQ(PgCluster::instance().scalar(
                  QStringLiteral("SELECT string_agg(tabla || '=' || registros, ',' ORDER BY tabla) FROM "
                                 "config_veliro.control")),
              QStringLiteral("catalogos.usuarios=3,prestamo.devoluciones=0,prestamo.multas=1"));
    EXPECT_TRUE(QDir(paths::programFolder()).entryList({QStringLiteral("r2*"), QStringLiteral("v7.*")}).isEmpty());

    // Salir forgets the destination and closes the window.
    click(w, "BtnSalir");
    EXPECT_TRUE(w.rutaDestino().isEmpty());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Ventana, EmptyPathAndCancelledBrowse) {
    ScriptedDialogs dialogs;
    FrmBase w;
    w.show();
    QApplication::setActiveWindow(&w);
    auto* ruta = hijo<QLineEdit>(w, "txtRuta");
    auto* rutaRespaldo = hijo<QLineEdit>(w, "TxtRutaRespaldo");

    dialogs.answer(MsgResult::Ok);
    w.BtnRespaldar_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("Proporcione la ruta del archivo"));
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(w.focusWidget(), ruta);
    EXPECT_TRUE(QDir(paths::programFolder()).entryList({QStringLiteral("r2*")}, QDir::AllEntries).isEmpty());

    // Cancelled: the box keeps its text. A chosen name is the dialog's starting name for both boxes.
    dialogs.clear();
    ruta->setText(QStringLiteral("/respaldos/tecleado.zip"));
    dialogs.answer(QString()).answer(QStringLiteral("/respaldos/elegido.zip")).answer(QString());
    w.BtnExaminar_Click();
    EXPECT_EQ(ruta->text(), QStringLiteral("/respaldos/tecleado.zip"));
    w.BtnExaminar_Click();
    EXPECT_EQ(ruta->text(), QStringLiteral("/respaldos/elegido.zip"));
    w.BtnExaminarRespaldo_Click();
    EXPECT_EQ(rutaRespaldo->text(), QString());
    ASSERT_EQ(dialogs.shown().size(), 3u);
    EXPECT_EQ(dialogs.shown()[0].kind, QStringLiteral("save"));
    EXPECT_EQ(dialogs.shown()[0].text, QString());
    EXPECT_EQ(dialogs.shown()[2].kind, QStringLiteral("save"));
    EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("/respaldos/elegido.zip"));

    // Enter in a path box moves the focus on and presses nothing.
    for (QLineEdit* caja : {ruta, rutaRespaldo}) {
        hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(caja == ruta ? 1 : 2);
        caja->setFocus();
        ASSERT_EQ(w.focusWidget(), caja);
        QTest::keyClick(caja, Qt::Key_Return);
        EXPECT_NE(w.focusWidget(), caja) << caja->objectName().toStdString();
    }
    EXPECT_EQ(dialogs.shown().size(), 3u);
}

TEST_F(Ventana, WithoutCataloguesOnlyTheRestoreTab) {
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('AUTO_UPDATE', '1'), ('BETA_UPDATE', '1');")));
    struct Caso {
        const char* nombre;
        bool catalogos, baseValida;
    };
    for (const Caso& c : {Caso{"no catalogues", false, true}, Caso{"no usable database", true, false}}) {
        SCOPED_TRACE(c.nombre);
        FrmIniciarSesion login;
        login.setTieneCatalogos(c.catalogos);
        sesion().BaseDatosValida = c.baseValida;
        FrmBase w(nullptr, &login);
        w.show();
        auto* tabs = hijo<QTabBar>(w, "TabAdmin");
        EXPECT_FALSE(tabs->isEnabled());
        EXPECT_EQ(tabs->currentIndex(), 2);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(w.tabResaltada(i), i == 2) << i;
        }
        EXPECT_TRUE(hijo<QWidget>(w, "FrameMontar")->isVisible());
        EXPECT_FALSE(hijo<QWidget>(w, "FrameRespaldador")->isVisible());
        EXPECT_FALSE(hijo<QCheckBox>(w, "ChkActOficial")->isChecked());
        EXPECT_FALSE(hijo<QCheckBox>(w, "chkActBeta")->isChecked());
    }
}

TEST_F(Ventana, UpdateOptions) {
    ScriptedDialogs dialogs;
    // BETA_UPDATE has no row: it reads as unchecked and the window still loads.
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('AUTO_UPDATE', '1');")));
    FrmBase w;
    w.show();
    auto* oficial = hijo<QCheckBox>(w, "ChkActOficial");
    auto* beta = hijo<QCheckBox>(w, "chkActBeta");
    EXPECT_TRUE(oficial->isChecked());
    EXPECT_FALSE(beta->isChecked());
    hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(3);
    EXPECT_TRUE(hijo<QWidget>(w, "FrameActualizacion")->isVisible());

    const QString recordatorio =
        QStringLiteral("La configuración se guardo correctamente, sin embargo es necesario\r\nque exista dentro de la "
                       "ruta de instalación de VELIRO7 la aplicación\r\n\"v7updater.exe\" para que el proceso de "
                       "actualización automática\r\nfuncione correctamente");
    struct Caso {
        bool oficial, beta;
        QString mensaje;
        MsgIcon icono;
        const char *auto_, *beta_;
    };
    const Caso casos[] = {
        {false, true,
         QStringLiteral("Es necesario habilitar la descarga de las actualizaciones oficiales para instalar las "
                        "actualizaciones BETA"),
         MsgIcon::Critical, "1", "<none>"},
        {false, false, recordatorio, MsgIcon::Information, "0", "0"},
        {true, true, recordatorio, MsgIcon::Information, "1", "1"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.mensaje.left(20).toStdString());
        dialogs.clear();
        oficial->setChecked(c.oficial);
        beta->setChecked(c.beta);
        dialogs.answer(MsgResult::Ok);
        click(w, "BtnGuardar");
        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].text, c.mensaje);
        EXPECT_EQ(dialogs.shown()[0].icon, c.icono);
        EXPECT_EQ(valor("AUTO_UPDATE"), QString::fromLatin1(c.auto_));
        EXPECT_EQ(valor("BETA_UPDATE"), QString::fromLatin1(c.beta_));
    }

    // Without a connection nothing is stored, and the box still says what and why.
    conexionPrincipal().close();
    dialogs.clear();
    dialogs.answer(MsgResult::Ok);
    click(w, "BtnGuardar");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("No se logró grabar la variable de configuración AUTO_UPDATE\r\n"
                                                      "No existe conexion con el servidor"));
}

TEST_F(Ventana, ResetShortcutAndProgressTimer) {
    FrmBase w;
    int resets = 0;
    w.setMostrarReset([&](QWidget* parent) {
        EXPECT_EQ(parent, &w);
        ++resets;
    });
    w.show();
    auto* ruta = hijo<QLineEdit>(w, "txtRuta");
    QTest::keyRelease(ruta, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&w, Qt::Key_F12, Qt::NoModifier);
    EXPECT_EQ(resets, 0);
    QTest::keyRelease(ruta, Qt::Key_F12, Qt::ControlModifier); // the window sees it before the box
    EXPECT_EQ(resets, 1);
    QTest::keyRelease(&w, Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(resets, 2);

    auto* barra = hijo<QProgressBar>(w, "ProgBarr");
    EXPECT_EQ(w.progressTimer()->interval(), 1000);
    EXPECT_FALSE(w.progressTimer()->isActive());
    barra->setRange(0, 1000);
    barra->setValue(1000);
    w.TmrProgreso_Timer();
    EXPECT_EQ(barra->maximum(), 1200);
    EXPECT_EQ(barra->value(), 1001);
    w.TmrProgreso_Timer();
    EXPECT_EQ(barra->maximum(), 1200);
    EXPECT_EQ(barra->value(), 1002);
}

} // namespace

namespace {

// Every button of the maintenance windows has a name a screen reader can say; one without a caption of
// its own (a "..." or a box whose caption is a label beside it) also has a Spanish tooltip.
TEST_F(Ventana, EveryButtonHasAnAccessibleName) {
    FrmBase base;
    FrmResetBD reset;
    FrmProgTareas tareas;
    FrmConfigRegional zona(base);
    int revisados = 0;
    for (QWidget* w : std::initializer_list<QWidget*>{&base, &reset, &tareas, &zona}) {
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
            if (qobject_cast<QTabBar*>(b->parentWidget()) != nullptr) {
                continue; // the tab strip's own scroll arrows, which it never shows here
            }
            SCOPED_TRACE((w->objectName() + QLatin1Char('.') + b->objectName()).toStdString());
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
            ASSERT_NE(i, nullptr);
            const QString nombre = i->text(QAccessible::Name);
            EXPECT_FALSE(nombre.trimmed().isEmpty());
            EXPECT_NE(nombre, QStringLiteral("..."));
            const QString texto = QString(b->text()).remove(QLatin1Char('&')).trimmed();
            if (texto.isEmpty() || texto == QLatin1String("...")) {
                EXPECT_FALSE(b->toolTip().isEmpty());
            }
            ++revisados;
        }
    }
    EXPECT_GT(revisados, 20); // the walk did reach the windows' buttons
    QAccessibleInterface* examinar = QAccessible::queryAccessibleInterface(tareas.findChild<QWidget*>("BtnExaminar"));
    EXPECT_EQ(examinar->text(QAccessible::Name), QStringLiteral("Examinar"));
    QAccessibleInterface* lunes = QAccessible::queryAccessibleInterface(tareas.findChild<QWidget*>("ChkLunes"));
    EXPECT_EQ(lunes->text(QAccessible::Name), QStringLiteral("Lunes"));
}

// The status texts read the same while the window is locked around the operation they report on, not
// in the disabled grey.
TEST_F(Ventana, StatusTextsReadableWhileLocked) {
    FrmBase w;
    w.show();
    for (const char* nombre : {"EtCompacta", "EtStatusRestaura"}) {
        SCOPED_TRACE(nombre);
        auto* et = hijo<QLabel>(w, nombre);
        et->setText(QStringLiteral("Realizando prueba de conexión..."));
        et->show();
        const QImage libre = et->grab().toImage();
        GuardiaVentana guardia(&w);
        ASSERT_FALSE(et->isEnabled());
        EXPECT_EQ(et->grab().toImage(), libre);
        guardia.liberar();
        et->hide();
    }
}

} // namespace
