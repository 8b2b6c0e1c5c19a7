// The libraries catalogue editor through its window on the test cluster: the edit rows built from
// the table's columns, the list and its sorting, new, modify and delete checked against the table,
// the refusals and their recovery, the search panel, the keyboard and the lock while the list fills.
#include "catalogues/FrmCatalogos.h"
#include "core/errores.h"
#include "core/session.h"
#include "platform/construir_ui.h"
#include "platform/db.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>

using namespace v7;
using namespace v7::test;
using v7::err::kCrLf;

namespace {

const QString kGuardado = QStringLiteral("El registro ha sido guardado satisfactoriamente!!!");
const QString kModificado = QStringLiteral("El registro se ha modificado satisfactoriamente!!!");
const QString kEliminado = QStringLiteral("El registro fue eliminado correctamente");
const QString kSinHallazgo = QStringLiteral("No se encontró el elemento de búsqueda, por favor intente nuevamente "
                                            "cambiando el parámetro de búsqueda");
const QStringList kAcciones = {QStringLiteral("BtnBiblioNuevo"), QStringLiteral("BtnBiblioModificar"),
                               QStringLiteral("BtnBiblioBorrar"), QStringLiteral("BtnBiblioBuscar"),
                               QStringLiteral("BtnBiblioReporte")};

PgCluster& cluster() {
    return PgCluster::instance();
}

// Typed key by key, accented letters too.
void teclear(QWidget* w, const QString& texto) {
    for (QChar c : texto) {
        QTest::sendKeyEvent(QTest::Click, w,
                            c.unicode() < 128 ? Qt::Key(QTest::asciiToKey(char(c.unicode()))) : Qt::Key_unknown,
                            QString(c), Qt::NoModifier);
    }
}

// The window, shown and active, with its controls by their designed names.
struct Ventana {
    FrmCatalogos w;

    Ventana() {
        w.show();
        w.activateWindow();
        (void)QTest::qWaitForWindowActive(&w);
        // The table is read once the window is on screen.
        EXPECT_TRUE(esperarHasta([this] { return w.aperturas() >= 1; }));
    }
    QLineEdit* caja(int i) { return hijo<QLineEdit>(w, QStringLiteral("TxtCampo(%1)").arg(i)); }
    QDateEdit* fecha(int i) { return hijo<QDateEdit>(w, QStringLiteral("DTPicker1(%1)").arg(i)); }
    QLabel* etiqueta(int i) { return hijo<QLabel>(w, QStringLiteral("EtCampo(%1)").arg(i)); }
    QTreeWidget* lista() { return hijo<QTreeWidget>(w, "LstBibliotecas"); }
    bool habilitado(const QString& nombre) { return hijo<QWidget>(w, nombre)->isEnabled(); }
    int filas() {
        int n = 0;
        while (w.findChild<QLabel*>(QStringLiteral("EtCampo(%1)").arg(n + 1)) != nullptr) {
            ++n;
        }
        return n;
    }

    void escribir(int i, const QString& texto) {
        caja(i)->clear();
        teclear(caja(i), texto);
    }
    QStringList columna(int c) {
        QStringList out;
        for (int i = 0; i < lista()->topLevelItemCount(); ++i) {
            out << lista()->topLevelItem(i)->text(c);
        }
        return out;
    }
    QString seleccionado() {
        const auto sel = lista()->selectedItems();
        return sel.isEmpty() ? QString() : sel.first()->text(0);
    }
    // A click on the list item that shows this name.
    void elegir(const QString& nombre) {
        const auto items = lista()->findItems(nombre, Qt::MatchExactly, 0);
        ASSERT_EQ(items.size(), 1) << nombre.toStdString();
        lista()->scrollToItem(items.first());
        QTest::mouseClick(lista()->viewport(), Qt::LeftButton, {}, lista()->visualItemRect(items.first()).center());
    }
    // Alt and a caption's underlined letter. A button pressed by its shortcut stays down a moment and
    // clicks when it comes up.
    void atajo(Qt::Key k) {
        QTest::keyClick(&w, k, Qt::AltModifier);
        EXPECT_TRUE(esperarHasta([this] {
            const auto botones = w.findChildren<QAbstractButton*>();
            return std::none_of(botones.begin(), botones.end(), [](QAbstractButton* b) { return b->isDown(); });
        }));
    }
    void clickCabecera(int c) {
        QHeaderView* h = lista()->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    }
    // What the edit rows show, as the table query below writes a row.
    QString registro() {
        QStringList out;
        for (int i = 1; i <= filas(); ++i) {
            if (!fecha(i)->isHidden()) {
                const QDate d = fecha(i)->date();
                out << (d == fecha(i)->minimumDate() ? QString() : d.toString(QStringLiteral("yyyy-MM-dd")));
            } else {
                out << caja(i)->text();
            }
        }
        return out.join(QLatin1Char('|'));
    }
    // The list's rows, as the table query below writes them.
    QString renglones() {
        QStringList out;
        for (int i = 0; i < lista()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* it = lista()->topLevelItem(i);
            out << QStringList{it->text(0), it->text(1).trimmed(), it->text(2), it->text(3), it->text(4)}.join(
                QLatin1Char('|'));
        }
        return out.join(QStringLiteral(";"));
    }
};

QString filaTabla(int id) {
    return cluster().scalar(QStringLiteral("SELECT format('%s|%s|%s|%s|%s|%s|%s|%s', idbiblioteca, nombre, "
                                           "nombrecorto, director, telefono, correo, fundacion, acervo) FROM "
                                           "catalogos.bibliotecas WHERE idbiblioteca = ") +
                            QString::number(id));
}

QString renglonesTabla() {
    return cluster().scalar(
        QStringLiteral("SELECT string_agg(format('%s|%s|%s|%s|%s', nombre, idbiblioteca, director, telefono, "
                       "correo), ';' ORDER BY nombre) FROM catalogos.bibliotecas"));
}

QString cuenta() {
    return cluster().scalar(QStringLiteral("SELECT count(*) FROM catalogos.bibliotecas"));
}

// The list's order for a column: by text, letter case aside.
QStringList ordenado(QStringList textos, bool descendente) {
    std::stable_sort(textos.begin(), textos.end(), [](const QString& a, const QString& b) {
        const int r = a.compare(b, Qt::CaseInsensitive);
        return r != 0 ? r < 0 : a < b;
    });
    if (descendente) {
        std::reverse(textos.begin(), textos.end());
    }
    return textos;
}

class Catalogo : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        // A date and an optional number after the library's own columns; one library has schools.
        ASSERT_TRUE(cluster().psql(QStringLiteral(
            "ALTER TABLE catalogos.bibliotecas ADD COLUMN fundacion date, ADD COLUMN acervo integer;\n"
            "INSERT INTO catalogos.bibliotecas VALUES "
            "(1, 'Biblioteca Central', 'Central', 'Ana Pérez', '555-0101', 'central@ejemplo.mx', '1990-05-01', "
            "1500), (2, 'Bibliobús', 'Bus', NULL, NULL, 'bus@ejemplo.mx', NULL, NULL), "
            "(12, 'Casa de la Cultura', 'Casa', 'luis Soto', '555-0112', NULL, '2001-09-30', 800), "
            "(7, 'archivo Municipal', 'Archivo', 'Marta Ruiz', '555-0107', 'Archivo@ejemplo.mx', NULL, 20);\n"
            "INSERT INTO catalogos.escuelas (nombre, idbiblioteca) VALUES ('Secundaria 3', 12);")));
        ASSERT_TRUE(m_server->iniciarSesion());
        FrmCatalogos::ModoModificar = false;
    }
    void TearDown() override { m_server.reset(); }

    std::unique_ptr<ServidorPreparado> m_server;
};

} // namespace

TEST_F(Catalogo, OpensWithOneEditRowPerColumnInViewMode) {
    ScriptedDialogs dialogs;
    Ventana v;
    EXPECT_EQ(v.w.windowTitle(), QStringLiteral("VELIRO7 - Catálogos generales"));
    ASSERT_EQ(v.filas(), 8);
    QStringList etiquetas;
    for (int i = 1; i <= 8; ++i) {
        etiquetas << v.etiqueta(i)->text();
    }
    EXPECT_EQ(etiquetas.join(QLatin1Char(',')),
              QStringLiteral("Idbiblioteca,Nombre,Nombrecorto,Director,Telefono,Correo,Fundacion,Acervo"));
    // Required columns: bold dark-blue labels; the others plain black.
    for (int i = 1; i <= 8; ++i) {
        const bool requerido = i <= 2;
        EXPECT_EQ(v.etiqueta(i)->font().bold(), requerido) << i;
        EXPECT_EQ(v.etiqueta(i)->palette().color(QPalette::Active, QPalette::WindowText),
                  requerido ? QColor(0, 0, 128) : QColor(Qt::black))
            << i;
    }
    EXPECT_EQ(v.caja(1)->width(), ui::px(1360));
    EXPECT_EQ(v.caja(2)->width(), ui::px(5260));
    EXPECT_EQ(v.caja(3)->maxLength(), 20);
    EXPECT_EQ(v.caja(8)->maxLength(), 9);
    // The date column has a picker in place of its box; no scroll bar for eight rows.
    EXPECT_TRUE(v.caja(7)->isHidden());
    EXPECT_FALSE(v.fecha(7)->isHidden());
    EXPECT_TRUE(v.fecha(6)->isHidden());
    EXPECT_TRUE(hijo<QScrollBar>(v.w, "VScroll1")->isHidden());
    // View mode: fields disabled, Guardar and Cancelar disabled, the other actions enabled.
    for (int i = 1; i <= 8; ++i) {
        EXPECT_FALSE(v.caja(i)->isEnabled());
    }
    EXPECT_FALSE(v.fecha(7)->isEnabled());
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioCancelar")));
    EXPECT_FALSE(v.habilitado(QStringLiteral("EtCamposReq")));
    for (const QString& b : kAcciones) {
        EXPECT_TRUE(v.habilitado(b)) << b.toStdString();
    }
    // The list stands in name order, the keys right-aligned; its first record is shown.
    EXPECT_EQ(v.renglones(), renglonesTabla());
    EXPECT_EQ(v.columna(1).first().size(), 10);
    EXPECT_EQ(v.seleccionado(), v.columna(0).first());
    EXPECT_EQ(v.registro(), filaTabla(v.columna(1).first().trimmed().toInt()));
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Catalogo, LayoutFollowsTheWindowSizeDownToItsMinimum) {
    ScriptedDialogs dialogs;
    Ventana v;
    const QSize minimo = v.w.size();
    EXPECT_EQ(minimo, QSize(ui::px(11640), ui::px(7515)));
    auto* lista = v.lista();
    auto* acciones = hijo<QWidget>(v.w, "PanelSec");
    auto* cerrar = hijo<QWidget>(v.w, "BtnCerrar");
    auto* central = hijo<QWidget>(v.w, "PanelCentral");
    const QSize listaAntes = lista->size();
    v.w.resize(minimo + QSize(200, 100));
    EXPECT_EQ(lista->size(), listaAntes + QSize(200, 100));
    // The actions stay beside the list and inside the panel; Cerrar below the panel, inside the window.
    EXPECT_GT(acciones->x(), lista->geometry().right());
    EXPECT_LE(acciones->geometry().right(), central->width());
    EXPECT_LE(acciones->geometry().bottom(), central->height());
    EXPECT_GE(cerrar->y(), central->geometry().bottom());
    EXPECT_TRUE(v.w.rect().contains(cerrar->geometry()));
    v.w.resize(100, 100);
    EXPECT_EQ(v.w.size(), minimo);
    EXPECT_EQ(lista->size(), listaAntes);
}

TEST_F(Catalogo, SortsByEachColumnBothWays) {
    ScriptedDialogs dialogs;
    Ventana v;
    // The list counts as sorted by name already: the first click on "Nombre" sorts it descending.
    v.clickCabecera(0);
    EXPECT_EQ(v.columna(0), ordenado(v.columna(0), true));
    v.clickCabecera(0);
    EXPECT_EQ(v.columna(0), ordenado(v.columna(0), false));
    for (int c = 1; c < 5; ++c) {
        v.clickCabecera(c);
        EXPECT_EQ(v.columna(c), ordenado(v.columna(c), false)) << c;
        v.clickCabecera(c);
        EXPECT_EQ(v.columna(c), ordenado(v.columna(c), true)) << c;
    }
    // Back to a column sorted before: the direction it had last. The keys sort as numbers.
    v.clickCabecera(1);
    QStringList claves;
    for (const QString& k : v.columna(1)) {
        claves << k.trimmed();
    }
    EXPECT_EQ(claves.join(QLatin1Char(',')), QStringLiteral("12,7,2,1"));
    // A sorted list still shows the record of a clicked item.
    v.elegir(QStringLiteral("Casa de la Cultura"));
    EXPECT_EQ(v.registro(), filaTabla(12));
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Catalogo, AddsModifiesAndDeletesWhatTheWindowShows) {
    ScriptedDialogs dialogs;
    Ventana v;
    // Show: a click, then the arrow keys.
    v.elegir(QStringLiteral("Bibliobús"));
    EXPECT_EQ(v.registro(), filaTabla(2));
    const int pos = v.lista()->indexOfTopLevelItem(v.lista()->selectedItems().first());
    QTest::keyClick(v.lista(), Qt::Key_Down);
    EXPECT_EQ(v.seleccionado(), v.columna(0).at(pos + 1));
    EXPECT_EQ(v.registro(), filaTabla(v.columna(1).at(pos + 1).trimmed().toInt()));

    // New: a quote, accents, a date, the optional number left empty.
    click(v.w, "BtnBiblioNuevo");
    EXPECT_FALSE(v.lista()->isEnabled());
    EXPECT_FALSE(hijo<QTabBar>(v.w, "TabStrip1")->isEnabled());
    EXPECT_TRUE(v.caja(1)->text().isEmpty());
    EXPECT_EQ(v.fecha(7)->date(), QDate::currentDate());
    v.escribir(1, QStringLiteral("20"));
    v.escribir(2, QStringLiteral("O'Higgins Ñuñoa"));
    v.escribir(3, QStringLiteral("OH"));
    v.escribir(4, QStringLiteral("José Martí"));
    v.escribir(6, QStringLiteral("oh@ejemplo.mx"));
    v.fecha(7)->setDate(QDate(2001, 2, 3));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kGuardado);
    EXPECT_EQ(filaTabla(20), QStringLiteral("20|O'Higgins Ñuñoa|OH|José Martí||oh@ejemplo.mx|2001-02-03|"));
    EXPECT_EQ(cluster().scalar(QStringLiteral(
                  "SELECT acervo IS NULL AND telefono = '' FROM catalogos.bibliotecas WHERE idbiblioteca = 20")),
              QStringLiteral("t"));
    // Back in view mode, the list refilled from the table and its first record shown.
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    EXPECT_TRUE(v.lista()->isEnabled());
    EXPECT_EQ(v.renglones(), renglonesTabla());
    EXPECT_EQ(v.seleccionado(), v.columna(0).first());
    v.elegir(QStringLiteral("O'Higgins Ñuñoa"));
    EXPECT_EQ(v.registro(), filaTabla(20));

    // Modify: the key typed into row 1 is ignored; the selected item's record changes.
    const int antes = v.lista()->indexOfTopLevelItem(v.lista()->selectedItems().first());
    click(v.w, "BtnBiblioModificar");
    EXPECT_EQ(v.caja(2)->text(), QStringLiteral("O'Higgins Ñuñoa"));
    v.escribir(1, QStringLiteral("99"));
    v.escribir(2, QStringLiteral("O'Higgins \\ Ñuñoa"));
    v.escribir(5, QStringLiteral("555-0120"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kModificado);
    EXPECT_EQ(filaTabla(20), QStringLiteral("20|O'Higgins \\ Ñuñoa|OH|José Martí|555-0120|oh@ejemplo.mx|2001-02-03|"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT count(*) FROM catalogos.bibliotecas WHERE idbiblioteca = 99")),
              QStringLiteral("0"));
    EXPECT_EQ(v.renglones(), renglonesTabla());
    // The item at the edited item's former position is selected and shown.
    EXPECT_EQ(v.lista()->indexOfTopLevelItem(v.lista()->selectedItems().first()), antes);
    EXPECT_EQ(v.registro(), filaTabla(v.columna(1).at(antes).trimmed().toInt()));
    EXPECT_FALSE(FrmCatalogos::ModoModificar);

    // Delete.
    v.elegir(QStringLiteral("O'Higgins \\ Ñuñoa"));
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(v.w, "BtnBiblioBorrar");
    ASSERT_EQ(dialogs.shown().size(), 4u);
    EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("Esta a punto de eliminar la Biblioteca \"O'Higgins \\ Ñuñoa\"") +
                                           kCrLf + QString(20, QLatin1Char(' ')) +
                                           QStringLiteral(" ¿ Desea continuar ?"));
    EXPECT_EQ(dialogs.shown()[2].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[3].text, kEliminado);
    EXPECT_EQ(filaTabla(20), QString());
    EXPECT_EQ(v.renglones(), renglonesTabla());
    EXPECT_EQ(v.registro(), filaTabla(v.columna(1).first().trimmed().toInt()));

    // Answered No, a delete deletes nothing.
    dialogs.answer(MsgResult::No);
    click(v.w, "BtnBiblioBorrar");
    EXPECT_EQ(cuenta(), QStringLiteral("4"));
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, DuplicateKeyAndTooLargeKeyKeepTheEditOpen) {
    ScriptedDialogs dialogs;
    Ventana v;
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("100001"));
    v.escribir(2, QStringLiteral("Nueva"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("El id de biblioteca es demasiado grande, cambie el") + kCrLf +
                                          QStringLiteral("número e inténtelo nuevamente"));
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));

    v.escribir(1, QStringLiteral("12"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    const ShownDialog& d = dialogs.shown().back();
    EXPECT_EQ(d.text, QStringLiteral("Al parecer el campo clave \"idbiblioteca\" está duplicado, por favor verifique "
                                     "lo anterior e inténtelo nuevamente"));
    EXPECT_EQ(d.title, QStringLiteral("Error al agregar un nuevo registro"));
    EXPECT_EQ(d.icon, MsgIcon::Critical);
    // Recovery: the key is selected for correction, the edit still open, nothing written.
    EXPECT_TRUE(
        esperarHasta([&] { return v.caja(1)->hasFocus() && v.caja(1)->selectedText() == QStringLiteral("12"); }));
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    EXPECT_TRUE(v.caja(2)->isEnabled());
    EXPECT_EQ(cuenta(), QStringLiteral("4"));
    EXPECT_EQ(filaTabla(12), QStringLiteral("12|Casa de la Cultura|Casa|luis Soto|555-0112||2001-09-30|800"));

    v.escribir(1, QStringLiteral("100000"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kGuardado);
    EXPECT_EQ(filaTabla(100000).section(QLatin1Char('|'), 0, 1), QStringLiteral("100000|Nueva"));
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, DeleteOfALibraryWithSchoolsIsRefusedUntilTheyAreGone) {
    ScriptedDialogs dialogs;
    Ventana v;
    v.elegir(QStringLiteral("Casa de la Cultura"));
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(v.w, "BtnBiblioBorrar");
    const ShownDialog& d = dialogs.shown().back();
    EXPECT_EQ(d.text, QStringLiteral("Este registro no se puede eliminar debido a que tiene otros registros "
                                     "dependientes. Por favor, verifique  que no tenga registros de escuela "
                                     "asociados"));
    EXPECT_EQ(d.icon, MsgIcon::Critical);
    EXPECT_EQ(cuenta(), QStringLiteral("4"));
    EXPECT_EQ(v.seleccionado(), QStringLiteral("Casa de la Cultura"));
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioBorrar")));

    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.escuelas;")));
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(v.w, "BtnBiblioBorrar");
    EXPECT_EQ(dialogs.texts().last(), kEliminado);
    EXPECT_EQ(filaTabla(12), QString());
    EXPECT_EQ(v.renglones(), renglonesTabla());
}

TEST_F(Catalogo, ChangesThatFindNoRowAreReportedAsSuch) {
    ScriptedDialogs dialogs;
    Ventana v;
    v.elegir(QStringLiteral("Bibliobús"));
    click(v.w, "BtnBiblioModificar");
    v.escribir(4, QStringLiteral("Nadie"));
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE idbiblioteca = 2;")));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("No se modificó ningún registro"));
    EXPECT_EQ(dialogs.shown().back().icon, MsgIcon::Critical);
    EXPECT_EQ(v.renglones(), renglonesTabla());
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));

    // A record the list still shows but the table lost: neither shown nor deleted.
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE idbiblioteca = 1;")));
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    v.elegir(QStringLiteral("Biblioteca Central"));
    click(v.w, "BtnBiblioBorrar");
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("No se eliminó ningún registro"));
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, RequiredFieldsAndCancel) {
    ScriptedDialogs dialogs;
    Ventana v;
    const QString primero = v.registro();
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("40"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(),
              QStringLiteral("El campo \"Nombre\" es obligatorio y no contiene un valor apropiado"));
    EXPECT_TRUE(esperarHasta([&] { return v.caja(2)->hasFocus(); }));
    EXPECT_EQ(cuenta(), QStringLiteral("4"));

    // A key was typed: the cancel asks; No keeps the edit and its fields.
    v.escribir(2, QStringLiteral("Sin guardar"));
    dialogs.answer(MsgResult::No);
    click(v.w, "BtnBiblioCancelar");
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("La información aún no es guardada") + kCrLf +
                                          QString(10, QLatin1Char(' ')) + QStringLiteral("¿ Desea cancelar ?"));
    EXPECT_EQ(v.caja(2)->text(), QStringLiteral("Sin guardar"));
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    dialogs.answer(MsgResult::Yes);
    click(v.w, "BtnBiblioCancelar");
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    EXPECT_TRUE(v.lista()->isEnabled());
    EXPECT_EQ(v.registro(), primero);

    // Without a key, no question.
    click(v.w, "BtnBiblioNuevo");
    const size_t vistos = dialogs.shown().size();
    click(v.w, "BtnBiblioCancelar");
    EXPECT_EQ(dialogs.shown().size(), vistos);
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioCancelar")));

    // Modify, cancel, then a new record: a row is added and none changed.
    const QString antes = renglonesTabla();
    click(v.w, "BtnBiblioModificar");
    v.escribir(2, QStringLiteral("Cambiado"));
    dialogs.answer(MsgResult::Yes);
    click(v.w, "BtnBiblioCancelar");
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("41"));
    v.escribir(2, QStringLiteral("Zeta"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kGuardado);
    EXPECT_EQ(cuenta(), QStringLiteral("5"));
    EXPECT_EQ(filaTabla(41),
              QStringLiteral("41|Zeta|||||") + QDate::currentDate().toString(Qt::ISODate) + QStringLiteral("|"));
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.bibliotecas WHERE idbiblioteca = 41;")));
    EXPECT_EQ(renglonesTabla(), antes);
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, KeyFiltersLetTypedDigitsThroughAndPastedTextAsIs) {
    ScriptedDialogs dialogs;
    ASSERT_TRUE(cluster().psql(QStringLiteral("ALTER TABLE catalogos.bibliotecas ADD COLUMN monto numeric(10,2);")));
    Ventana v;
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("-1a 2"));
    EXPECT_EQ(v.caja(1)->text(), QStringLiteral("12"));
    v.escribir(9, QStringLiteral("12.5"));
    EXPECT_EQ(v.caja(9)->text(), QStringLiteral("12.5"));
    v.escribir(9, QStringLiteral("-1.2.3x99"));
    EXPECT_EQ(v.caja(9)->text(), QStringLiteral("1.2.39")); // six characters at most
    v.escribir(4, QStringLiteral("-Ñ 1.a"));
    EXPECT_EQ(v.caja(4)->text(), QStringLiteral("-Ñ 1.a"));
    QTest::keyClick(v.caja(1), Qt::Key_Backspace);
    EXPECT_EQ(v.caja(1)->text(), QStringLiteral("1"));
    QApplication::clipboard()->setText(QStringLiteral("-5x"));
    v.caja(8)->clear();
    QTest::keyClick(v.caja(8), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(v.caja(8)->text(), QStringLiteral("-5x"));
    // Leaving a box trims it.
    v.caja(4)->setFocus();
    v.escribir(4, QStringLiteral("  Ana  "));
    v.caja(5)->setFocus();
    EXPECT_TRUE(esperarHasta([&] { return v.caja(4)->text() == QStringLiteral("Ana"); }));
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Catalogo, ColumnsBeyondTheScreenScrollAndSpecialColumns) {
    ScriptedDialogs dialogs;
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("ALTER TABLE catalogos.bibliotecas ADD COLUMN foto character varying(200), ADD COLUMN analista "
                       "character varying(30), ADD COLUMN notas character varying, ADD COLUMN cierre date, ADD "
                       "COLUMN monto numeric(10,2);")));
    Ventana v;
    ASSERT_EQ(v.filas(), 13);
    auto* scroll = hijo<QScrollBar>(v.w, "VScroll1");
    EXPECT_FALSE(scroll->isHidden());
    EXPECT_EQ(scroll->maximum(), 7);
    // The picture column gets its chooser, the analyst's column no row on screen.
    for (int i = 1; i <= 13; ++i) {
        EXPECT_EQ(!hijo<QWidget>(v.w, QStringLiteral("BtnExaminar(%1)").arg(i))->isHidden(), i == 9) << i;
    }
    EXPECT_TRUE(v.etiqueta(10)->isHidden());
    EXPECT_TRUE(v.caja(10)->isHidden());
    EXPECT_GT(v.caja(11)->maxLength(), 32767); // no declared length, no limit
    EXPECT_FALSE(v.fecha(12)->isHidden());
    // The scroll moves every row by rows of the box's height plus 5 twips.
    scroll->setValue(2);
    EXPECT_EQ(v.caja(3)->y(), ui::px((285 + 5) * (3 - 2) - 5));
    EXPECT_EQ(v.etiqueta(13)->y(), ui::px((285 + 5) * (13 - 2) - 5));
    scroll->setValue(scroll->maximum());
    EXPECT_LE(v.caja(13)->geometry().bottom(), hijo<QWidget>(v.w, "Picture1")->height());

    // New: the first date today, the later ones a year on; the chooser writes the chosen path.
    click(v.w, "BtnBiblioNuevo");
    EXPECT_EQ(v.fecha(7)->date(), QDate::currentDate());
    EXPECT_EQ(v.fecha(12)->date(), QDate::currentDate().addYears(1));
    dialogs.answer(QString()).answer(QStringLiteral("/fotos/central.jpg")).answer(QString());
    for (const char* esperado : {"", "/fotos/central.jpg", "/fotos/central.jpg"}) {
        click(v.w, "BtnExaminar(9)");
        EXPECT_EQ(v.caja(9)->text(), QString::fromLatin1(esperado));
    }
    EXPECT_EQ(dialogs.shown().front().kind, QStringLiteral("save"));
    v.escribir(1, QStringLiteral("30"));
    v.escribir(2, QStringLiteral("Con foto"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kGuardado);
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT format('%s|%s|%s|%s|%s', foto, analista, notas IS NULL, cierre, "
                                              "monto IS NULL) FROM catalogos.bibliotecas WHERE idbiblioteca = 30")),
              QStringLiteral("/fotos/central.jpg||f|") + QDate::currentDate().addYears(1).toString(Qt::ISODate) +
                  QStringLiteral("|t"));
    // In view mode nothing can be chosen.
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnExaminar(9)")));
}

TEST_F(Catalogo, ATableOfTheSameNameElsewhereChangesNothing) {
    ScriptedDialogs dialogs;
    QString campos, registro, renglones;
    {
        Ventana v;
        for (int i = 1; i <= v.filas(); ++i) {
            campos += v.etiqueta(i)->text() + QLatin1Char(',');
        }
        registro = v.registro();
        renglones = v.renglones();
    }
    ASSERT_TRUE(cluster().psql(QStringLiteral(
        "CREATE SCHEMA otro;\nCREATE TABLE otro.bibliotecas (clave text NOT NULL, idbiblioteca integer, nombre "
        "text, extra date);\nINSERT INTO otro.bibliotecas VALUES ('x', 1, 'Otra', '2000-01-01');\n"
        "CREATE TABLE public.bibliotecas (a integer, b integer);")));
    Ventana v;
    QString despues;
    for (int i = 1; i <= v.filas(); ++i) {
        despues += v.etiqueta(i)->text() + QLatin1Char(',');
    }
    EXPECT_EQ(despues, campos);
    EXPECT_EQ(v.registro(), registro);
    EXPECT_EQ(v.renglones(), renglones);
    // And a new row still lands in its own columns.
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("50"));
    v.escribir(2, QStringLiteral("Quinta"));
    v.escribir(8, QStringLiteral("5"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(filaTabla(50),
              QStringLiteral("50|Quinta|||||") + QDate::currentDate().toString(Qt::ISODate) + QStringLiteral("|5"));
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT count(*) FROM otro.bibliotecas")), QStringLiteral("1"));
}

TEST_F(Catalogo, SearchFindsOneHitAfterAnotherWithoutWrappingAround) {
    ScriptedDialogs dialogs;
    Ventana v;
    click(v.w, "BtnBiblioBuscar");
    auto* panel = hijo<QWidget>(v.w, "PicBusquedas");
    auto* texto = hijo<QLineEdit>(v.w, "TxtExpresion");
    auto* campos = hijo<QComboBox>(v.w, "CmbCampos");
    auto* exacta = hijo<QCheckBox>(v.w, "ChkExacta");
    ASSERT_FALSE(panel->isHidden());
    QStringList entradas;
    for (int i = 0; i < campos->count(); ++i) {
        entradas << campos->itemText(i) + QLatin1Char('=') + campos->itemData(i).toString();
    }
    EXPECT_EQ(entradas.join(QLatin1Char(',')), QStringLiteral("Nombre=1,No. Bib.=2,Director=3,Teléfono=4,Correo=5"));
    for (const QString& b : kAcciones + QStringList{QStringLiteral("BtnBiblioGrabar"), QStringLiteral("TabStrip1")}) {
        EXPECT_FALSE(v.habilitado(b)) << b.toStdString();
    }
    EXPECT_TRUE(v.lista()->isEnabled());
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnCerrar")));

    // An empty text is refused.
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(dialogs.texts().last(), QStringLiteral("Por favor, introduzca información en el campo \"Expresión\""));

    // Contains: every name holding "bib", in list order, from the selected item on; then a miss
    // clears the selection and the next search starts over.
    QStringList conBib;
    for (const QString& n : v.columna(0)) {
        if (n.contains(QStringLiteral("bib"), Qt::CaseInsensitive)) {
            conBib << n;
        }
    }
    ASSERT_EQ(conBib.size(), 2);
    v.lista()->clearSelection();
    teclear(texto, QStringLiteral("bib"));
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(v.seleccionado(), conBib[0]);
    EXPECT_EQ(v.registro(), filaTabla(v.lista()->selectedItems().first()->text(1).trimmed().toInt()));
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(v.seleccionado(), conBib[1]);
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(dialogs.texts().last(), kSinHallazgo);
    EXPECT_TRUE(v.lista()->selectedItems().isEmpty());
    // Enter in the search text searches.
    QTest::keyClick(texto, Qt::Key_Return);
    EXPECT_EQ(v.seleccionado(), conBib[0]);

    // Whole cell, letter case aside, accents counted; the key column as shown.
    exacta->setChecked(true);
    texto->setText(QStringLiteral("BIBLIOBÚS"));
    v.lista()->clearSelection();
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(v.seleccionado(), QStringLiteral("Bibliobús"));
    texto->setText(QStringLiteral("bibliobus"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(dialogs.texts().last(), kSinHallazgo);
    campos->setCurrentIndex(1);
    texto->setText(QStringLiteral("7"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(dialogs.texts().last(), kSinHallazgo);
    exacta->setChecked(false);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(v.seleccionado(), QStringLiteral("archivo Municipal"));

    // No wrap-around: from the last item a hit only earlier in the list is a miss.
    campos->setCurrentIndex(0);
    texto->setText(v.columna(0).first());
    v.lista()->setCurrentItem(v.lista()->topLevelItem(v.lista()->topLevelItemCount() - 1));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBuscarSgte");
    EXPECT_EQ(dialogs.texts().last(), kSinHallazgo);

    // Dragged by its title, inside the window.
    auto* titulo = hijo<QLabel>(v.w, "Label11");
    const QPoint antes = panel->pos();
    QTest::mousePress(titulo, Qt::LeftButton, {}, QPoint(20, 5));
    QTest::mouseMove(titulo, QPoint(60, 25));
    QTest::mouseRelease(titulo, Qt::LeftButton, {}, QPoint(60, 25));
    EXPECT_EQ(panel->pos(), antes + QPoint(40, 20));
    QTest::mousePress(titulo, Qt::LeftButton, {}, QPoint(20, 5));
    QTest::mouseMove(titulo, QPoint(5000, 5000));
    QTest::mouseRelease(titulo, Qt::LeftButton, {}, QPoint(5000, 5000));
    EXPECT_TRUE(v.w.rect().contains(panel->geometry()));

    // A click in the search text selects it whole.
    QTest::mouseClick(texto, Qt::LeftButton);
    EXPECT_TRUE(esperarHasta([&] { return texto->selectedText() == texto->text(); }));

    // Closing the panel, by its three ways, gives view mode's actions back.
    click(v.w, "BtnCancelarSgte");
    for (const char* cierre : {"BtnCancelarSgte", "Label12", "BtnCerrar"}) {
        click(v.w, "BtnBiblioBuscar");
        EXPECT_TRUE(texto->text().isEmpty());
        EXPECT_TRUE(exacta->isChecked() == false);
        click(v.w, cierre);
        EXPECT_TRUE(panel->isHidden()) << cierre;
        for (const QString& b : kAcciones + QStringList{QStringLiteral("TabStrip1")}) {
            EXPECT_TRUE(v.habilitado(b)) << cierre << " " << b.toStdString();
        }
        EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
        EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioCancelar")));
        EXPECT_TRUE(v.w.isVisible());
    }
    // The close box with the panel open closes the panel only; a second one closes the window.
    click(v.w, "BtnBiblioBuscar");
    v.w.close();
    EXPECT_TRUE(v.w.isVisible());
    EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioNuevo")));
    v.w.close();
    EXPECT_FALSE(v.w.isVisible());
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, KeyboardReachesEveryActionByItsCaption) {
    ScriptedDialogs dialogs;
    Ventana v;
    v.atajo(Qt::Key_N);
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    v.atajo(Qt::Key_A); // C&ancelar, nothing typed: no question
    EXPECT_FALSE(v.habilitado(QStringLiteral("BtnBiblioGrabar")));
    v.atajo(Qt::Key_M);
    EXPECT_TRUE(v.caja(2)->isEnabled());
    dialogs.answer(MsgResult::Yes);
    v.atajo(Qt::Key_A);
    EXPECT_FALSE(v.caja(2)->isEnabled());
    // With the panel open, Alt+B searches and Alt+A closes the panel; neither deletes.
    v.atajo(Qt::Key_S);
    auto* panel = hijo<QWidget>(v.w, "PicBusquedas");
    ASSERT_FALSE(panel->isHidden());
    teclear(hijo<QLineEdit>(v.w, "TxtExpresion"), QStringLiteral("casa"));
    v.atajo(Qt::Key_B);
    EXPECT_EQ(v.seleccionado(), QStringLiteral("Casa de la Cultura"));
    v.atajo(Qt::Key_A);
    EXPECT_TRUE(panel->isHidden());
    EXPECT_EQ(cuenta(), QStringLiteral("4"));
    v.atajo(Qt::Key_C);
    EXPECT_FALSE(v.w.isVisible());
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, WindowIsLockedWhileTheListFillsAndRecoversFromAFailedRead) {
    ScriptedDialogs dialogs;
    ASSERT_TRUE(cluster().psql(QStringLiteral("INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre) SELECT g, "
                                              "'Sucursal ' || g FROM generate_series(100, 29099) g;")));
    Ventana v;
    // Clicks and the close box while the list fills (it is hidden meanwhile, and the window's events run while the
    // server reads: enough rows that the read lasts a few samples) are dropped. The samples
    // taken by the last event pass, once the fill is over, are not judged.
    Muestreo muestreo(v.w);
    std::vector<bool> llenando;
    muestreo.alMuestrear([&](int) {
        llenando.push_back(v.lista()->isHidden());
        if (llenando.back()) {
            click(v.w, "BtnBiblioBorrar");
            click(v.w, "BtnCerrar");
            v.w.close();
        }
    });
    QTest::mouseClick(hijo<QTabBar>(v.w, "TabStrip1"), Qt::LeftButton, {},
                      hijo<QTabBar>(v.w, "TabStrip1")->tabRect(0).center());
    muestreo.detener();
    int juzgadas = 0;
    for (size_t i = 0; i < llenando.size(); ++i) {
        if (llenando[i]) {
            ++juzgadas;
            const Muestra& m = muestreo.muestras()[i];
            EXPECT_TRUE(m.habilitados.isEmpty() && m.cursorEspera)
                << m.habilitados.join(QLatin1Char(' ')).toStdString();
        }
    }
    EXPECT_GE(juzgadas, 1);
    EXPECT_TRUE(v.w.isVisible());
    EXPECT_EQ(v.lista()->topLevelItemCount(), 29004);
    EXPECT_EQ(cuenta(), QStringLiteral("29004"));

    // A refill whose read fails reports it and gives the list and the actions back.
    ASSERT_TRUE(cluster().psql(QStringLiteral("ALTER TABLE catalogos.bibliotecas RENAME TO bibliotecas_x;")));
    dialogs.answer(MsgResult::Ok);
    v.w.ActualizarList();
    EXPECT_TRUE(dialogs.texts().last().startsWith(QStringLiteral("Ocurrió el error num. ")));
    EXPECT_TRUE(dialogs.texts().last().endsWith(QStringLiteral("\r\n[Rutina: ActualizarList]")));
    EXPECT_TRUE(v.lista()->isVisible());
    EXPECT_TRUE(v.lista()->isEnabled());
    EXPECT_TRUE(v.habilitado(QStringLiteral("BtnCerrar")));
    EXPECT_TRUE(hijo<QWidget>(v.w, "ProgBar")->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(cluster().psql(QStringLiteral("ALTER TABLE catalogos.bibliotecas_x RENAME TO bibliotecas;")));
    v.w.ActualizarList();
    EXPECT_EQ(v.lista()->topLevelItemCount(), 29004);
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, ModalOpeningAsTheStaffWindowDoes) {
    ScriptedDialogs dialogs;
    FrmCatalogos w;
    alAbrirModal([](QWidget* m) {
        EXPECT_EQ(m->objectName(), QStringLiteral("FrmCatalogos"));
        click(*m, "BtnCerrar");
    });
    w.exec();
    EXPECT_FALSE(w.isVisible());
    // Opened again, it reads the table again.
    ASSERT_TRUE(cluster().psql(QStringLiteral("INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre) VALUES (3, "
                                              "'Nueva');")));
    alAbrirModal([](QWidget* m) {
        EXPECT_EQ(hijo<QTreeWidget>(*m, "LstBibliotecas")->topLevelItemCount(), 5);
        click(*m, "BtnCerrar");
    });
    w.exec();
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Catalogo, TheRecordIsTheRowsOwnAndAModifyWritesOnlyWhatChanged) {
    ScriptedDialogs dialogs;
    // Two keys whose last ten characters are the same.
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("INSERT INTO catalogos.bibliotecas (idbiblioteca, nombre, director) VALUES (-1234567890, "
                       "'Menos', 'Director Menos'), (1234567890, 'Más', 'Director Más');")));
    Ventana v;
    v.elegir(QStringLiteral("Menos"));
    EXPECT_EQ(v.lista()->selectedItems().first()->text(1), QStringLiteral("-1234567890"));
    EXPECT_EQ(v.registro(), filaTabla(-1234567890));
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(v.w, "BtnBiblioBorrar");
    EXPECT_TRUE(dialogs.shown().front().text.startsWith(QStringLiteral("Esta a punto de eliminar la Biblioteca "
                                                                       "\"Menos\"")));
    EXPECT_EQ(dialogs.shown().front().porDefecto, MsgResult::No);
    EXPECT_EQ(dialogs.texts().last(), kEliminado);
    EXPECT_EQ(filaTabla(-1234567890), QString());
    EXPECT_EQ(filaTabla(1234567890).section(QLatin1Char('|'), 0, 1), QStringLiteral("1234567890|Más"));

    // A modify of one field: the others keep what they held, NULL included.
    auto nulos = [](int id) {
        return cluster().scalar(QStringLiteral("SELECT format('%s|%s|%s|%s|%s', nombre, nombrecorto IS NULL, "
                                               "director IS NULL, telefono IS NULL, correo) FROM "
                                               "catalogos.bibliotecas WHERE idbiblioteca = ") +
                                QString::number(id));
    };
    EXPECT_EQ(nulos(2), QStringLiteral("Bibliobús|f|t|t|bus@ejemplo.mx"));
    v.elegir(QStringLiteral("Bibliobús"));
    click(v.w, "BtnBiblioModificar");
    v.escribir(6, QStringLiteral("nuevo@ejemplo.mx"));
    dialogs.answer(MsgResult::Ok);
    click(v.w, "BtnBiblioGrabar");
    EXPECT_EQ(dialogs.texts().last(), kModificado);
    EXPECT_EQ(nulos(2), QStringLiteral("Bibliobús|f|t|t|nuevo@ejemplo.mx"));
    EXPECT_TRUE(dialogs.allAnswered());
}

// Another session holds the libraries against writes: each save ends with its message once the limit has
// passed, nothing written, and the window's thread never stops meanwhile.
TEST_F(Catalogo, SavesOnALockedTableEndWithTheirMessageAndTheWindowKeepsAnswering) {
    ScriptedDialogs dialogs;
    Ventana v;
    TablaOcupada tabla(QStringLiteral("catalogos.bibliotecas"), QStringLiteral("SHARE"));
    const QString ocupada = QStringLiteral("\r\nOtra sesión está usando estos datos");
    const QString antes = renglonesTabla();
    const struct {
        const char* accion;
        std::function<void()> preparar;
        const char* boton;
        const char* mensaje;
    } acciones[] = {
        {"modify",
         [&] {
             v.elegir(QStringLiteral("Bibliobús"));
             click(v.w, "BtnBiblioModificar");
             v.escribir(4, QStringLiteral("Nadie"));
         },
         "BtnBiblioGrabar", "No se modificó ningún registro"},
        {"new",
         [&] {
             click(v.w, "BtnBiblioNuevo");
             v.escribir(1, QStringLiteral("60"));
             v.escribir(2, QStringLiteral("Sexta"));
         },
         "BtnBiblioGrabar", "No se guardó el registro."},
        {"delete",
         [&] {
             dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes); // the new record's cancel, the question
             click(v.w, "BtnBiblioCancelar");
             v.elegir(QStringLiteral("Bibliobús"));
         },
         "BtnBiblioBorrar", "No se eliminó el registro."},
    };
    for (const auto& a : acciones) {
        SCOPED_TRACE(a.accion);
        a.preparar();
        dialogs.answer(MsgResult::Ok);
        Cronometro reloj;
        Pausas latido;
        click(v.w, a.boton);
        EXPECT_TRUE(latido.siempreAtendio()) << latido.informe();
        EXPECT_GE(reloj.largo(), 4500) << dialogs.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(dialogs.texts().last().startsWith(QString::fromUtf8(a.mensaje) + ocupada))
            << dialogs.texts().last().toStdString();
        EXPECT_EQ(renglonesTabla(), antes);
    }
    EXPECT_TRUE(tabla.soltar());
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(Catalogo, EveryButtonHasANameAndEveryLabelShowsItsWholeText) {
    ScriptedDialogs dialogs;
    ASSERT_TRUE(cluster().psql(QStringLiteral("ALTER TABLE catalogos.bibliotecas ADD COLUMN foto character "
                                              "varying(200);")));
    Ventana v;
    click(v.w, "BtnBiblioBuscar");
    for (QAbstractButton* b : v.w.findChildren<QAbstractButton*>()) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(i, nullptr);
        EXPECT_FALSE(i->text(QAccessible::Name).isEmpty()) << b->objectName().toStdString();
    }
    // The picture chooser's caption is only dots: its name and tip say what it does.
    auto* examinar = hijo<QAbstractButton>(v.w, "BtnExaminar(9)");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(examinar)->text(QAccessible::Name), QStringLiteral("Examinar"));
    EXPECT_FALSE(examinar->toolTip().isEmpty());
    for (QLabel* l : v.w.findChildren<QLabel*>()) {
        if (!l->text().isEmpty() && l->isVisibleTo(&v.w)) {
            EXPECT_LE(l->sizeHint().width(), l->width()) << l->text().toStdString();
        }
    }
    click(v.w, "BtnCancelarSgte");
}

TEST_F(Catalogo, Screenshots) {
    ScriptedDialogs dialogs;
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    Ventana v;
    EXPECT_TRUE(v.w.grab().save(dir + QStringLiteral("/catalogos_vista.png")));
    click(v.w, "BtnBiblioNuevo");
    v.escribir(1, QStringLiteral("20"));
    v.escribir(2, QStringLiteral("O'Higgins Ñuñoa"));
    EXPECT_TRUE(v.w.grab().save(dir + QStringLiteral("/catalogos_nuevo.png")));
    dialogs.answer(MsgResult::Yes);
    click(v.w, "BtnBiblioCancelar");
    click(v.w, "BtnBiblioBuscar");
    teclear(hijo<QLineEdit>(v.w, "TxtExpresion"), QStringLiteral("bib"));
    EXPECT_TRUE(v.w.grab().save(dir + QStringLiteral("/catalogos_busqueda.png")));
}
