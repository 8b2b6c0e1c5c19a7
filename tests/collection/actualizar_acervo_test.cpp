// The collection transfer's entry window and the import window as the administrator meets them: the
// console's superuser gate, the texts, the two doors, the file choice, and pictures for a reviewer.
#include "collection/frmActualizarAcervo.h"
#include "collection/frmMontarAcervo.h"
#include "collection/frmRestaurarAcervo.h"
#include "console/FrmInicio.h"
#include "core/session.h"
#include "platform/widgets_ui.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

QString texto(const QWidget& w, const char* label) {
    const QLabel* l = hijo<QLabel>(w, label);
    return l != nullptr ? l->text() : QString();
}

class Acervo : public PruebaConServidor {
protected:
    void SetUp() override {
        PruebaConServidor::SetUp();
        ASSERT_TRUE(m_server->iniciarSesion());
    }

    ScriptedDialogs m_dialogs;
};

TEST_F(Acervo, TheConsoleOpensTheEntryWindowOnlyForASuperuser) {
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());

    sesion().RolSesion.clear();
    m_dialogs.answer(MsgResult::Ok);
    consola.cmdExportarAcervo_Click();
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Warning);
    EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Accion denegada"));
    EXPECT_EQ(m_dialogs.shown()[0].text,
              QStringLiteral("Se necesita una cuenta de superusuario, para realizar\r\nesta operación."));
    EXPECT_EQ(consola.findChild<frmActualizarAcervo*>(), nullptr);

    // A superuser gets the entry window, whose export door opens the export window.
    sesion().RolSesion = QStringLiteral("superusuario");
    QStringList abiertas;
    alAbrirModal([&](QWidget* entrada) {
        abiertas << entrada->objectName() + QLatin1Char(':') + entrada->windowTitle();
        alAbrirModal([&](QWidget* exportacion) {
            abiertas << exportacion->objectName();
            exportacion->close();
        });
        click(*entrada, "cmdExportar");
        click(*entrada, "cmdRegresar");
    });
    consola.cmdExportarAcervo_Click();
    EXPECT_EQ(abiertas, (QStringList{QStringLiteral("frmActualizarAcervo:VELIRO7 - Actualizar acervo de Bibliotecas"),
                                     QStringLiteral("frmMontarAcervo")}));
}

TEST_F(Acervo, EntryWindowTextsAndItsTwoDoors) {
    int exportaciones = 0;
    frmActualizarAcervo w([&](QWidget* parent) {
        EXPECT_EQ(parent, &w);
        ++exportaciones;
    });
    EXPECT_EQ(w.windowTitle(), QStringLiteral("VELIRO7 - Actualizar acervo de Bibliotecas"));
    EXPECT_EQ(hijo<MyFrame>(w, "panelMain")->property("Caption").toString(),
              QStringLiteral(" Actualización del acervo de las bibliotecas descentralizadas"));
    EXPECT_EQ(texto(w, "lblExportar"), QStringLiteral("Exportación para actualizar el Acervo de la Biblioteca"));
    EXPECT_EQ(texto(w, "lblImportar"), QStringLiteral("Importación para actualizar el Acervo de la Biblioteca"));
    EXPECT_TRUE(texto(w, "lblExportarDesc").startsWith(QStringLiteral("     Esta opción se debe utilizar")));
    EXPECT_TRUE(texto(w, "lblExportarDesc").endsWith(QStringLiteral("para cada biblioteca. ")));
    EXPECT_TRUE(texto(w, "lblImportarDesc").startsWith(QStringLiteral("     Se debe utilizar esta opción")));
    EXPECT_TRUE(texto(w, "lblImportarDesc").endsWith(QStringLiteral("departamento central de procesamiento.")));
    EXPECT_TRUE(texto(w, "lblActualizar").startsWith(QStringLiteral("Este mecanismo de actualización")));
    EXPECT_TRUE(texto(w, "lblActualizar")
                    .contains(QStringLiteral("base de datos central.\n     Un escenario de trabajo de este tipo")));
    EXPECT_EQ(hijo<QPushButton>(w, "cmdExportar")->text(), QStringLiteral("&Exportar acervo"));
    EXPECT_EQ(hijo<QPushButton>(w, "cmdImportar")->text(), QStringLiteral("&Importar acervo"));
    EXPECT_EQ(hijo<QPushButton>(w, "cmdRegresar")->text(), QStringLiteral("&Regresar"));

    w.show();
    click(w, "cmdExportar");
    EXPECT_EQ(exportaciones, 1);

    // The import window, twice: each time loaded afresh, and the entry window still there after it.
    for (int vez = 0; vez < 2; ++vez) {
        QString visto;
        alAbrirModal([&](QWidget* m) {
            visto = m->objectName() + QLatin1Char('|') + m->windowTitle() + QLatin1Char('|') +
                    texto(*m, "lblServerIP") + QLatin1Char('|') +
                    hijo<MyFrame>(*m, "panelConfig")->property("Caption").toString() + QLatin1Char('|') +
                    QString::number(hijo<QPushButton>(*m, "cmdCargar")->isEnabled()) +
                    QString::number(hijo<QPushButton>(*m, "cmdActualizar")->isEnabled());
            EXPECT_TRUE(texto(*m, "lblAviso")
                            .startsWith(QStringLiteral(
                                "Antes de iniciar este proceso, es importante que revise que tanto el catálogo de "
                                "escuelas como el catálogo de bibliotecas")));
            EXPECT_TRUE(texto(*m, "lblAviso").endsWith(QStringLiteral("'Estandarización de Catálogos' de VELIRO7.")));
            click(*m, "cmdRegresar");
        });
        click(w, "cmdImportar");
        EXPECT_EQ(visto, QStringLiteral("frmRestaurarAcervo|Importar / actualizar Acervo para Biblioteca - ") +
                             kVersionHerramienta +
                             QStringLiteral("|127.0.0.1|   Importación/actualización del "
                                            "Acervo de Bibliotecas|00"));
        EXPECT_TRUE(w.isVisible());
    }
    EXPECT_EQ(sesion().ConexionSecundaria, sesion().ConexionPrincipal);
    click(w, "cmdRegresar");
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(Acervo, ChoosingTheFileEnablesTheImport) {
    frmRestaurarAcervo w;
    auto* cargar = hijo<QPushButton>(w, "cmdCargar");
    m_dialogs.answer(QStringLiteral("/srv/respB02_20240315_0930.backup"));
    click(w, "cmdBrowse");
    EXPECT_TRUE(cargar->isEnabled());
    EXPECT_EQ(hijo<QLineEdit>(w, "txtRuta")->text(), QStringLiteral("/srv/respB02_20240315_0930.backup"));
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].kind, QStringLiteral("open"));
    EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Seleccionar archivo con exportación de datos"));

    m_dialogs.clear();
    m_dialogs.answer(QString()).answer(MsgResult::Ok);
    click(w, "cmdBrowse");
    EXPECT_FALSE(cargar->isEnabled());
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown()[1].icon, MsgIcon::None);
    EXPECT_EQ(m_dialogs.shown()[1].title, kProgramTitle);
    EXPECT_EQ(m_dialogs.shown()[1].text, QStringLiteral("No se escogió un nombre de archivo válido"));
}

// Every button of the collection windows has a name that says what it does (a caption-less one also a
// tooltip), and every one-line label shows its whole text, colon included.
TEST_F(Acervo, ButtonsAreNamedAndLabelsShowTheirWholeText) {
    frmActualizarAcervo entrada({});
    frmMontarAcervo exportacion;
    frmRestaurarAcervo importacion;
    const QRegularExpression letra(QStringLiteral("\\p{L}"));
    for (QDialog* w : std::initializer_list<QDialog*>{&entrada, &exportacion, &importacion}) {
        SCOPED_TRACE(w->objectName().toStdString());
        w->show();
        for (const QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
            const QString nombre =
                b->accessibleName().isEmpty() ? QString(b->text()).remove(QLatin1Char('&')) : b->accessibleName();
            EXPECT_TRUE(nombre.contains(letra)) << b->objectName().toStdString();
            if (!b->text().contains(letra)) {
                EXPECT_FALSE(b->toolTip().isEmpty()) << b->objectName().toStdString();
            }
        }
        for (const QLabel* l : w->findChildren<QLabel*>()) {
            if (l->isVisible() && !l->wordWrap() && !l->text().isEmpty() && !l->text().contains(QLatin1Char('\n'))) {
                EXPECT_LE(l->sizeHint().width(), l->width())
                    << l->objectName().toStdString() << ": " << l->text().toStdString();
            }
        }
    }
    EXPECT_EQ(texto(exportacion, "Label5"), QStringLiteral("Exportar a formato de:"));
    EXPECT_EQ(hijo<QPushButton>(importacion, "cmdBrowse")->accessibleName(), QStringLiteral("Examinar"));
}

TEST_F(Acervo, Screenshots) {
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    frmActualizarAcervo entrada({});
    entrada.show();
    EXPECT_TRUE(entrada.grab().save(dir + QStringLiteral("/collection_entry.png")));
    frmRestaurarAcervo importacion(&entrada);
    hijo<QLineEdit>(importacion, "txtRuta")->setText(QStringLiteral("/media/usb/respB02_20240315_0930.backup"));
    hijo<QPlainTextEdit>(importacion, "txtLog")
        ->setPlainText(QStringLiteral("15/03/24 10:02 - Archivo '.backup' cargado en la BD exitósamente\n"
                                      "15/03/24 10:01 - Comenzando a restaurar archivo de respaldo '.backup'"));
    importacion.show();
    EXPECT_TRUE(importacion.grab().save(dir + QStringLiteral("/collection_import.png")));
}

} // namespace
