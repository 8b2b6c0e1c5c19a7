// Pictures of the login, the console and the maintenance window for a reviewer (written to the build's screenshots/
// folder).
#include "console/FrmInicio.h"
#include "console/monitoreo.h"
#include "core/FrmIniciarSesion.h"
#include "core/session.h"
#include "core/traduccion.h"
#include "maintenance/FrmBase.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

// A run of this program started by the test below, with LANG=C: before the application object, as V7Tools
// does it, the locale is prepared.
const bool g_hijoConLangC = [] {
    if (!qEnvironmentVariableIsSet("V7_PRUEBA_LANG_C")) {
        return false;
    }
    prepararLocaleEspanol();
    return true;
}();

// Qt's Spanish texts and the program's locale, installed once for every picture.
bool traducir() {
    static const bool hecho = usarEspanol();
    return hecho;
}

} // namespace

TEST(Screenshots, LoginAndConsole) {
    EXPECT_TRUE(traducir());
    ServidorPreparado server;
    ScriptedDialogs dialogs;
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    {
        FrmIniciarSesion login;
        login.findChild<QLineEdit*>(QStringLiteral("TxtUsuario"))->setText(kJefe.usuario);
        login.findChild<QLineEdit*>(QStringLiteral("TxtPassword"))->setText(kJefe.clave);
        login.show();
        const QPixmap p = login.grab();
        EXPECT_FALSE(p.isNull());
        EXPECT_TRUE(p.save(dir + QStringLiteral("/login.png")));
    }
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [&](QWidget*) { return server.iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    consola.show();
    consola.TmrStatus_Timer();
    EXPECT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }));
    const QPixmap p = consola.grab();
    EXPECT_TRUE(p.save(dir + QStringLiteral("/console.png")));
    FrmBase base(&consola);
    base.show();
    EXPECT_TRUE(base.grab().save(dir + QStringLiteral("/maintenance.png")));
    EXPECT_TRUE(dialogs.shown().empty());
}

// The program's own boxes with Qt's standard buttons: in Spanish, as the rest of the program.
TEST(Screenshots, YesNoQuestionInSpanish) {
    ASSERT_TRUE(traducir()) << "Qt's Spanish translations are missing (qt6-translations-l10n)";
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    QStringList botones;
    alAbrirModal([&](QWidget* m) {
        auto* box = qobject_cast<QMessageBox*>(m);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons()) {
            botones << b->text().remove(QLatin1Char('&'));
        }
        EXPECT_TRUE(box->grab().save(dir + QStringLiteral("/question.png")));
        box->button(QMessageBox::No)->click();
    });
    setDialogs(nullptr); // the real boxes
    const MsgResult r = dialogs().message(nullptr, MsgIcon::Warning,
                                          QStringLiteral("No se encontro la base de VELIRO7\r\nSe recomienda montar el "
                                                         "último respaldo\r\n            ¿ Desea hacerlo ahora ?"),
                                          MsgButtons::YesNo);
    prohibirDialogos();
    EXPECT_EQ(r, MsgResult::No);
    botones.sort();
    EXPECT_EQ(botones, (QStringList{QStringLiteral("No"), QStringLiteral("Sí")}));
}

// On a machine whose locale is C, the program still reads in Spanish: the banner's month, and Qt's own file
// dialog (its captions, its "Folder", its dates). A run of this program of its own, started with LANG=C,
// looks and takes the picture; this test checks that it passed.
TEST(Screenshots, SpanishWithLangC) {
    if (g_hijoConLangC) {
        GTEST_SKIP() << "the child run";
    }
    const QString imagen = QStringLiteral(V7_SCREENSHOT_DIR) + QStringLiteral("/dialogo_archivos_lang_c.png");
    QFile::remove(imagen);
    QProcess hijo;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"LC_ALL", "LC_TIME", "LC_MESSAGES", "LC_NUMERIC", "LANGUAGE"}) {
        entorno.remove(QString::fromLatin1(v));
    }
    entorno.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    entorno.insert(QStringLiteral("V7_PRUEBA_LANG_C"), QStringLiteral("1"));
    entorno.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    hijo.setProcessEnvironment(entorno);
    hijo.setProcessChannelMode(QProcess::MergedChannels);
    hijo.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=ConLangC.*")});
    ASSERT_TRUE(hijo.waitForFinished(120000));
    const QString salida = QString::fromLocal8Bit(hijo.readAll());
    EXPECT_EQ(hijo.exitCode(), 0) << salida.toStdString();
    EXPECT_TRUE(salida.contains(QStringLiteral("[  PASSED  ] 1 test"))) << salida.toStdString();
    EXPECT_TRUE(QFile::exists(imagen));
}

TEST(ConLangC, TheBannerAndQtsFileDialogAreInSpanish) {
    if (!g_hijoConLangC) {
        GTEST_SKIP() << "only in the run started with LANG=C";
    }
    ASSERT_EQ(qgetenv("LANG"), QByteArray("C"));
    // What the process hands its children stays as it was.
    EXPECT_FALSE(qEnvironmentVariableIsSet("LC_ALL"));
    ASSERT_TRUE(usarEspanol()) << "Qt's Spanish translations are missing (qt6-translations-l10n)";
    const UltimaSesion sesion{true, QStringLiteral("jefe"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("2026-12-10 14:03:04")};
    EXPECT_TRUE(textoUltimaSesion(sesion).endsWith(QStringLiteral(" el día  10 de diciembre de 2026, 14:03:04")))
        << textoUltimaSesion(sesion).toStdString();

    TempDir dir;
    ASSERT_TRUE(QDir().mkdir(dir.file(QStringLiteral("plantillas"))));
    QFile xml(dir.file(QStringLiteral("definicion.xml")));
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<Reporte/>");
    xml.close();
    const QString imagen = QStringLiteral(V7_SCREENSHOT_DIR) + QStringLiteral("/dialogo_archivos_lang_c.png");
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(V7_SCREENSHOT_DIR)));
    QStringList textos;
    QString tipoCarpeta, fecha;
    alAbrirModal([&](QWidget* m) {
        auto* dialogo = qobject_cast<QFileDialog*>(m);
        ASSERT_NE(dialogo, nullptr) << m->metaObject()->className();
        dialogo->setViewMode(QFileDialog::Detail);
        auto* modelo = dialogo->findChild<QFileSystemModel*>();
        ASSERT_NE(modelo, nullptr);
        EXPECT_TRUE(esperarHasta([&] {
            const QModelIndex i = modelo->index(dir.file(QStringLiteral("plantillas")));
            tipoCarpeta = modelo->data(i.siblingAtColumn(2)).toString();
            fecha = modelo->data(i.siblingAtColumn(3)).toString();
            return i.isValid() && !tipoCarpeta.isEmpty() && !fecha.isEmpty();
        }));
        for (QLabel* l : dialogo->findChildren<QLabel*>()) {
            textos << l->text();
        }
        for (QAbstractButton* b : dialogo->findChildren<QAbstractButton*>()) {
            textos << b->text() << b->toolTip();
        }
        QTest::qWait(200);
        EXPECT_TRUE(dialogo->grab().save(imagen));
        dialogo->reject();
    });
    setDialogs(nullptr); // the real dialogs
    const QString elegido = dialogs().openFile(nullptr, QStringLiteral("Seleccione un archivo"), dir.path(),
                                               QStringLiteral("Archivos XML (*.xml)"));
    prohibirDialogos();
    EXPECT_TRUE(elegido.isEmpty());
    EXPECT_EQ(tipoCarpeta, QStringLiteral("Carpeta"));
    // Spanish dates: no English month name.
    for (const char* mes : {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}) {
        EXPECT_FALSE(fecha.contains(QString::fromLatin1(mes))) << fecha.toStdString();
    }
    textos.removeAll(QString());
    for (const QString& esperado : {QStringLiteral("Ver en:"), QStringLiteral("&Abrir"), QStringLiteral("Cancelar")}) {
        EXPECT_TRUE(textos.contains(esperado)) << textos.join(QLatin1Char('|')).toStdString();
    }
    for (const QString& ingles :
         {QStringLiteral("Look in:"), QStringLiteral("&Open"), QStringLiteral("Cancel"), QStringLiteral("Folder")}) {
        EXPECT_FALSE(textos.contains(ingles)) << textos.join(QLatin1Char('|')).toStdString();
    }
}
