#include "core/listas.h"
#include "core/listas_ui.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

namespace {

class Listas : public ::testing::Test {
protected:
    void SetUp() override {
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
        lista = new QTreeWidget(&ventana);
        lista->setObjectName(QStringLiteral("ListReportes"));
        lista->setRootIsDecorated(false);
        barra = new QProgressBar(&ventana);
        etiqueta = new QLabel(&ventana);
    }
    void TearDown() override { reiniciarSesion(); }

    RecordsetPtr consulta(const QString& sql) {
        int total = 0;
        QString err;
        auto rs = ExecuteSQLrs(sql, total, err);
        EXPECT_NE(rs, nullptr) << err.toStdString();
        return rs;
    }
    QStringList columna(int c) const {
        QStringList out;
        for (int i = 0; i < lista->topLevelItemCount(); ++i) {
            out << lista->topLevelItem(i)->text(c);
        }
        return out;
    }

    QWidget ventana;
    QTreeWidget* lista = nullptr;
    QProgressBar* barra = nullptr;
    QLabel* etiqueta = nullptr;
};

const char* kFilas = "SELECT * FROM (VALUES "
                     "('  Beta ', 10, 12.5::numeric, '2024-03-05 10:20:30'::timestamp, 'A-12', 'nota b'),"
                     "('Alfa', 9, NULL, '2023-12-31 00:00:00'::timestamp, '15', NULL),"
                     "('Gamma', 100, 3::numeric, NULL, NULL, 'nota g')"
                     ") AS t(nombre, cantidad, precio, fecha, idadq, nota)";

TEST_F(Listas, FillsTextsKeysTooltipAndCurrency) {
    lista->setHeaderLabels({QStringLiteral("Nombre"), QStringLiteral("Cantidad"), QStringLiteral("Precio"),
                            QStringLiteral("Fecha"), QStringLiteral("Adq"), QStringLiteral("Nota")});
    lista->setSortingEnabled(true);
    auto rs = consulta(QString::fromUtf8(kFilas));
    ASSERT_NE(rs, nullptr);
    LlenarListView(&ventana, rs, lista, 5, 2, barra, etiqueta, false, QString());
    EXPECT_EQ(rs, nullptr);
    EXPECT_FALSE(lista->isSortingEnabled());
    ASSERT_EQ(lista->topLevelItemCount(), 3);
    EXPECT_EQ(columna(0), (QStringList{QStringLiteral("Beta"), QStringLiteral("Alfa"), QStringLiteral("Gamma")}));
    EXPECT_EQ(barra->maximum(), 3);
    EXPECT_EQ(barra->value(), 3);

    const QTreeWidgetItem* beta = lista->topLevelItem(0);
    const QTreeWidgetItem* alfa = lista->topLevelItem(1);
    const QTreeWidgetItem* gamma = lista->topLevelItem(2);
    EXPECT_TRUE(beta->data(0, kRolEtiqueta).toString().isEmpty()); // no numeric key asked for column 0
    EXPECT_EQ(beta->text(1), QStringLiteral("10"));
    EXPECT_EQ(beta->data(1, kRolEtiqueta).toString(), QStringLiteral("00000010"));
    EXPECT_EQ(beta->text(2), QLocale().toCurrencyString(12.5));
    EXPECT_EQ(alfa->text(2), QStringLiteral("00.00"));
    EXPECT_EQ(beta->data(3, kRolEtiqueta).toString(), QStringLiteral("20240305 10:20:30"));
    EXPECT_TRUE(gamma->data(3, kRolEtiqueta).toString().isEmpty());
    EXPECT_EQ(beta->data(4, kRolEtiqueta).toString(), QStringLiteral("A-12")); // not a number: unchanged
    EXPECT_EQ(alfa->data(4, kRolEtiqueta).toString(), QStringLiteral("00000015"));
    EXPECT_TRUE(beta->data(5, kRolEtiqueta).toString().isEmpty()); // plain text gets no key
    EXPECT_EQ(beta->toolTip(0), QStringLiteral("nota b"));
    EXPECT_TRUE(alfa->toolTip(0).isEmpty());
    EXPECT_EQ(alfa->text(5), QString());

    // An empty result adds nothing and still gives the result up.
    lista->clear();
    rs = consulta(QString::fromUtf8(kFilas) + QStringLiteral(" WHERE false"));
    LlenarListView(&ventana, rs, lista, 0, 0, nullptr, nullptr, false, kLlaveNumerica);
    EXPECT_EQ(rs, nullptr);
    EXPECT_EQ(lista->topLevelItemCount(), 0);
}

TEST_F(Listas, ColumnClicksSortByKeysAndToggleDirection) {
    lista->setHeaderLabels({QStringLiteral("Nombre"), QStringLiteral("Cantidad")});
    auto rs = consulta(QStringLiteral("SELECT * FROM (VALUES ('b', 10), ('a', 9), ('c', 100)) AS t(nombre, cantidad)"));
    LlenarListView(&ventana, rs, lista, 0, 0, nullptr, nullptr, false, QString());

    const QStringList asc = {QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("100")};
    const QStringList desc = {QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("9")};
    OrdenarListView(lista, 1);
    EXPECT_EQ(columna(1), asc); // by value, not by text
    EXPECT_EQ(lista->topLevelItem(0)->data(1, kRolEtiqueta).toString(), QStringLiteral("00000009"));
    OrdenarListView(lista, 1);
    EXPECT_EQ(columna(1), desc);
    OrdenarListView(lista, 1);
    EXPECT_EQ(columna(1), asc);

    // Another column sorts in the direction its header last had: ascending for one never clicked.
    OrdenarListView(lista, 0);
    EXPECT_EQ(columna(0), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    OrdenarListView(lista, 1);
    EXPECT_EQ(columna(1), asc);
}

TEST_F(Listas, FirstColumnIsTheInitialSortColumn) {
    lista->setHeaderLabels({QStringLiteral("Id"), QStringLiteral("Nombre")});
    auto rs = consulta(QStringLiteral("SELECT * FROM (VALUES (10, 'x'), (9, 'y'), (100, 'z')) AS t(id, nombre)"));
    LlenarListView(&ventana, rs, lista, 0, 0, nullptr, nullptr, false, kLlaveNumerica);
    EXPECT_EQ(lista->topLevelItem(0)->data(0, kRolEtiqueta).toString(), QStringLiteral("00000010"));
    OrdenarListView(lista, 0); // the very first click already reverses it
    EXPECT_EQ(columna(0), (QStringList{QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("9")}));
    OrdenarListView(lista, 0);
    EXPECT_EQ(columna(0), (QStringList{QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("100")}));
}

TEST_F(Listas, ClicksOnTheHeaderItselfToggleOnlyTheColumnAlreadySorted) {
    // The header stays clickable after a fill, and it moves its own indicator before it reports the click:
    // the direction must not follow it.
    lista->setHeaderLabels({QStringLiteral("Nombre"), QStringLiteral("Cantidad")});
    lista->header()->setSectionsClickable(true);
    QObject::connect(lista->header(), &QHeaderView::sectionClicked, [this](int c) { OrdenarListView(lista, c); });
    auto rs = consulta(QStringLiteral("SELECT * FROM (VALUES ('b', 10), ('a', 9), ('c', 100)) AS t(nombre, cantidad)"));
    LlenarListView(&ventana, rs, lista, 0, 0, nullptr, nullptr, false, QString());
    ventana.resize(400, 300);
    lista->resize(400, 300);
    ventana.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ventana));
    auto clicEn = [this](int c) {
        QHeaderView* h = lista->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    };
    clicEn(1);
    EXPECT_EQ(columna(1), (QStringList{QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("100")}));
    clicEn(1);
    EXPECT_EQ(columna(1), (QStringList{QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("9")}));
    clicEn(0);
    EXPECT_EQ(columna(0), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(Listas, LongFillsShowProgressAndRepaintAtTheEnd) {
    lista->setHeaderLabels({QStringLiteral("N")});
    auto rs = consulta(QStringLiteral("SELECT g FROM generate_series(1, 3001) AS g"));
    LlenarListView(&ventana, rs, lista, 0, 0, barra, etiqueta, true, kLlaveNumerica);
    EXPECT_EQ(lista->topLevelItemCount(), 3001);
    EXPECT_EQ(etiqueta->text(), QStringLiteral("Procesando solicitud... 100%   ")); // at row 3000 of 3001
    EXPECT_TRUE(ventana.updatesEnabled());
    EXPECT_EQ(barra->value(), 3001);
}

TEST_F(Listas, SharedFilesRowPresenceDecides) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(
        c.psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'")));
    sesion().HayArchivosCompartidos = true;
    EXPECT_TRUE(VerificarArchivosCompartidos());
    EXPECT_FALSE(sesion().HayArchivosCompartidos);
    ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('ARCHIVOSCOMPARTIDOS', '')")));
    EXPECT_TRUE(VerificarArchivosCompartidos());
    EXPECT_TRUE(sesion().HayArchivosCompartidos);
    ASSERT_TRUE(
        c.psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'")));

    // A query that cannot run leaves the flag alone and says why.
    sesion().ConexionPrincipal->close();
    QString err;
    EXPECT_FALSE(VerificarArchivosCompartidos(&err));
    EXPECT_TRUE(sesion().HayArchivosCompartidos);
    EXPECT_FALSE(err.isEmpty());
}

TEST(ListasArchivos, FileTestAndFolderPicker) {
    v7::test::TempDir dir;
    QFile f(dir.file(QStringLiteral("a.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(ExisteArchivo(dir.file(QStringLiteral("a.txt"))));
    EXPECT_FALSE(ExisteArchivo(dir.path()));
    EXPECT_FALSE(ExisteArchivo(dir.file(QStringLiteral("no.txt"))));
    EXPECT_FALSE(ExisteArchivo(QString()));

    v7::test::ScriptedDialogs dialogs;
    dialogs.answer(QString()).answer(dir.path());
    QWidget owner;
    EXPECT_TRUE(SeleccionarCarpeta(&owner, QStringLiteral("Seleccione la carpeta")).isEmpty()); // cancelled
    EXPECT_EQ(SeleccionarCarpeta(&owner, QStringLiteral("Seleccione la carpeta")), dir.path());
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].kind, QStringLiteral("folder"));
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Seleccione la carpeta"));
}

} // namespace
