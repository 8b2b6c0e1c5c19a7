// The collection export through its window, on the shared fixture: the staging tables of one library,
// the dump file and its archive, the previous generation's file, failures, and the window's liveness.
#include "collection/ac8.h"
#include "collection/escritura_ac8.h"
#include "collection/exportacion.h"
#include "collection/frmMontarAcervo.h"
#include "collection/sql_asincrono.h"
#include "collection/volcado.h"
#include "core/fallos_ui.h"
#include "core/session.h"
#include "platform/paths.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7;
using namespace v7::test;

namespace {

QString leerTexto(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Rows of a query on an SQLite file through the sqlite3 command, "|"-separated, one per line.
QString sqlite(const QString& archivo, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), QStringLiteral("-noheader"),
                                        QStringLiteral("-separator"), QStringLiteral("|"), archivo, sql});
    p.waitForFinished(30000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class Exportacion : public PruebaConServidor {
protected:
    void SetUp() override {
        PruebaConServidor::SetUp();
        ASSERT_TRUE(m_server->iniciarSesion());
        auto& c = PgCluster::instance();
        sesion().VersionServidor = c.scalar(QStringLiteral("SELECT version()")).left(14);
        ASSERT_TRUE(c.psql(leerTexto(QStringLiteral(V7_SOURCE_DIR "/tests/collection/fixture_acervo.sql"))));
    }

    // The window with a library, the March 2024 window and a destination chosen.
    std::unique_ptr<frmMontarAcervo> ventana(int biblioteca, const QString& destino, bool veliro6 = false) {
        auto w = std::make_unique<frmMontarAcervo>();
        w->show();
        auto* combo = hijo<QComboBox>(*w, "cboBibliotecas");
        combo->setCurrentIndex(combo->findData(biblioteca));
        EXPECT_GE(combo->currentIndex(), 0) << biblioteca;
        hijo<QDateEdit>(*w, "dFecha1")->setDate(QDate(2024, 3, 1));
        hijo<QDateEdit>(*w, "dFecha2")->setDate(QDate(2024, 3, 31));
        hijo<QLineEdit>(*w, "txtRuta")->setText(destino);
        if (veliro6) {
            click(*w, "OptFormato_1");
        }
        return w;
    }

    static QString scalar(const QString& sql) { return PgCluster::instance().scalar(sql); }
    static QString cuenta(const QString& tabla) { return scalar(QStringLiteral("SELECT count(*) FROM ") + tabla); }

    TempDir destinos;
};

// What each library's export stages, counted by hand from the fixture (see fixture_acervo.sql).
TEST_F(Exportacion, StagesExactlyTheRowsOfTheChosenLibrary) {
    struct Caso {
        int biblioteca;
        const char* carpeta; // the destination, under the test's folder
        QStringList cuentas; // per table, in the dump's order
        QString fichas;      // staged idficha values
        QString ejemplares;  // staged item numbers
        QString enlaces;     // staged tag rows that carry a link
    };
    const Caso casos[] = {
        {2,
         "",
         {"1", "7", "1", "1", "2", "5", "2", "13", "1", "2", "4", "3", "2"},
         "4,5,6,7,8,9,13",
         "C2-0001,L2-0004,L2-0007,L2-0042,l2-0042",
         "7:AU1,9:RE2,12:AU3"},
        // An id of four digits is that library, not the one of its first three digits (123); a folder
        // named like the dump keeps its name in the archive's path.
        {1234,
         "envios.backup",
         {"1", "3", "1", "1", "1", "2", "1", "3", "1", "1", "2", "0", "1"},
         "10,12,13",
         "S-0001,S-0002",
         "16:RE5"},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.biblioteca);
        ScriptedDialogs dialogs;
        dialogs.answer(MsgResult::Ok);
        const QString carpeta = destinos.file(QString::fromUtf8(k.carpeta));
        ASSERT_TRUE(QDir().mkpath(carpeta));
        auto w = ventana(k.biblioteca, carpeta);
        Muestreo muestreo(*w);
        click(*w, "cmdCreaTablas");
        muestreo.detener();

        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Exportacion exitosa"));
        EXPECT_TRUE(muestreo.siempreBloqueada());
        const QStringList& tablas = acervo::tablasExportacion();
        for (int i = 0; i < tablas.size(); ++i) {
            EXPECT_EQ(cuenta(tablas[i]), k.cuentas[i]) << tablas[i].toStdString();
        }
        EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(idficha::text, ',' ORDER BY idficha) FROM "
                                        "analisis.zexporta_aafichas")),
                  k.fichas);
        EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(DISTINCT idbiblioteca::text, ',') FROM "
                                        "analisis.zexporta_aafichas")),
                  QString::number(k.biblioteca));
        EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(no_adqui, ',' ORDER BY no_adqui COLLATE \"C\") FROM "
                                        "analisis.zexporta_bejemplares")),
                  k.ejemplares);
        EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(idregistro || ':' || tabla || idlink, ',' ORDER BY "
                                        "idregistro) FROM analisis.zexporta_betiquetasmarc WHERE idlink IS NOT NULL")),
                  k.enlaces);
        // The marker record sits above every live record: no other record's tags come with it.
        EXPECT_EQ(scalar(QStringLiteral("SELECT concat_ws('|', idficha, idbiblioteca, idtipomaterial, tipoficha, "
                                        "estatus, titulo, autor, clasificacion, editorial, registroactivo, "
                                        "idholding, isbn, fechacaptura) FROM analisis.zexporta_aafichas WHERE "
                                        "ficha_no = -1234")),
                  QStringLiteral("13|%1|1|L|CAP|---|---|---|---|t").arg(k.biblioteca));
        EXPECT_EQ(scalar(QStringLiteral("SELECT version FROM analisis.zexporta_aactualizacion")), w->strVersionAct);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{8}_\\d{4}$")).match(w->strVersionAct).hasMatch());

        // The archive: one entry, the dump, which is gone from the folder.
        const QString nombre =
            QStringLiteral("respB%1_%2.backup")
                .arg(QString::number(k.biblioteca).rightJustified(2, QLatin1Char('0')), w->strVersionAct);
        const QString backup = QDir(carpeta).filePath(nombre);
        EXPECT_EQ(w->archivoExportado(), backup.chopped(7) + QStringLiteral(".zip"));
        EXPECT_EQ(entradas(w->archivoExportado()), QStringList{nombre});
        EXPECT_FALSE(QFileInfo::exists(backup));
        EXPECT_TRUE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
        EXPECT_TRUE(hijo<QWidget>(*w, "cmdRegresar")->isEnabled());
        EXPECT_EQ(hijo<QProgressBar>(*w, "PBarGral")->value(), 16);
    }
    // Every tag row of library 2 got its link, staged or not; library 1234's only on its own export.
    EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(idregistro || ':' || tabla || idlink, ',' ORDER BY "
                                    "idregistro) FROM analisis.etiquetasmarc WHERE idlink IS NOT NULL")),
              QStringLiteral("1:AU2,7:AU1,9:RE2,12:AU3,16:RE5"));
}

TEST_F(Exportacion, TheDumpRecreatesTheStagingTablesInAnEmptyDatabase) {
    auto& c = PgCluster::instance();
    ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    auto w = ventana(2, destinos.path());
    click(*w, "cmdCreaTablas");
    const QString log = hijo<QPlainTextEdit>(*w, "txtLog")->toPlainText();
    EXPECT_EQ(log.section(QLatin1Char('\n'), 0, 2),
              QStringLiteral("Archivo de exportación 'dump' de respaldo creado exitósamente\nGenerando archivo de "
                             "respaldo 'dump' de respaldo\nRef. autoridades: 2"));
    for (const char* linea :
         {"Fichas: 7", "Ejemplares: 5", "Ref. Etiquetas MARC: 13", "Entradas autoridades: 3",
          "Actualizando estructura tabla etiquetas MARC", "Enlazando etiquetas MARC con autoridades"}) {
        EXPECT_TRUE(log.contains(QString::fromUtf8(linea))) << linea;
    }

    const QString nombre = QFileInfo(w->archivoExportado()).completeBaseName() + QStringLiteral(".backup");
    const QByteArray volcado = miembro(w->archivoExportado(), nombre);
    EXPECT_FALSE(volcado.contains("OWNER TO"));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP DATABASE IF EXISTS carga; CREATE DATABASE carga;"), nullptr,
                       QStringLiteral("postgres")));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA analisis;"), nullptr, QStringLiteral("carga")));
    ASSERT_TRUE(c.psql(QString::fromUtf8(volcado), nullptr, QStringLiteral("carga")));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'analisis'"),
                       QStringLiteral("carga")),
              QStringLiteral("13"));
    for (const QString& tabla : acervo::tablasExportacion()) {
        const QString huella = QStringLiteral("SELECT count(*) || ':' || coalesce(md5(string_agg(t::text, '|' ORDER "
                                              "BY t::text)), '') FROM %1 t")
                                   .arg(tabla);
        EXPECT_EQ(c.scalar(huella, QStringLiteral("carga")), c.scalar(huella)) << tabla.toStdString();
    }
    c.psql(QStringLiteral("DROP DATABASE carga;"), nullptr, QStringLiteral("postgres"));
}

// A dump that fails is reported as such and leaves no file of the export's name, not even the one an
// earlier export of the same minute wrote.
TEST_F(Exportacion, AFailedDumpIsAFailureAndLeavesNoExportFile) {
    auto& c = PgCluster::instance();
    const QString sinPermiso = geteuid() == 0 ? QStringLiteral("/sys") : destinos.file(QStringLiteral("solo lectura"));
    struct Caso {
        const char* nombre;
        std::function<void(frmMontarAcervo&)> romper;
        QString carpeta;
        const char* detalle; // in pg_dump's error lines
    };
    const Caso casos[] = {
        {"a staging table missing",
         [&](frmMontarAcervo&) { ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE analisis.zexporta_bindizado;"))); },
         destinos.path(), "no matching tables were found"},
        {"folder not writable",
         [&](frmMontarAcervo& w) {
             if (geteuid() != 0) {
                 QDir().mkpath(sinPermiso);
                 QFile::setPermissions(sinPermiso, QFile::ReadOwner | QFile::ExeOwner);
             }
             hijo<QLineEdit>(w, "txtRuta")->setText(sinPermiso);
         },
         sinPermiso, "No se tiene permiso para crear la carpeta "},
        {"server stopped", [&](frmMontarAcervo&) { ASSERT_TRUE(c.stop()); }, destinos.path(), "connection"},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        if (!c.isRunning()) {
            ASSERT_TRUE(c.start());
        }
        ScriptedDialogs dialogs;
        dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
        auto w = ventana(2, destinos.path());
        click(*w, "cmdCreaTablas");
        ASSERT_FALSE(w->archivoExportado().isEmpty());
        const QString backup = acervo::archivoExportacion(k.carpeta, 2, w->strVersionAct);
        k.romper(*w);
        w->creaArchivoDUMP_Click();

        ASSERT_EQ(dialogs.shown().size(), 2u);
        const ShownDialog& d = dialogs.shown()[1];
        EXPECT_EQ(d.icon, MsgIcon::Critical);
        EXPECT_EQ(d.title, QStringLiteral("Error"));
        EXPECT_TRUE(d.text.startsWith(QStringLiteral("Error al generar archivo 'dump' de exportación\r\n")))
            << d.text.toStdString();
        EXPECT_TRUE(d.text.contains(QString::fromUtf8(k.detalle))) << d.text.toStdString();
        EXPECT_TRUE(w->archivoExportado().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(backup));
        EXPECT_FALSE(QFileInfo::exists(acervo::archivoEmpacado(backup)));
        EXPECT_FALSE(hijo<QPlainTextEdit>(*w, "txtLog")->toPlainText().startsWith(QStringLiteral("Archivo de")));
    }
}

// Whoever may write the export folder knows the export file's names to the minute and plants links there to
// a file of root's: the dump and its archive never go through them. The export is put under the next free
// name, which the box names with the reason; the links and the file they point to stay as they were.
TEST_F(Exportacion, LinksPlantedAtTheExportNamesAreLeftAloneAndTheBoxSaysWhereTheFileWent) {
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QString carpeta = destinos.file(QStringLiteral("compartida"));
    ASSERT_TRUE(QDir().mkpath(carpeta));
    ASSERT_EQ(::chmod(QFile::encodeName(carpeta).constData(), 0777), 0);
    TempDir raiz;
    const QString victima = raiz.file(QStringLiteral("victima"));
    escribir(victima, "VICTIMA\n");
    ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    auto w = ventana(2, carpeta);
    click(*w, "cmdCreaTablas");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const QString primera = w->archivoExportado();

    // The next export's names, planted as nobody would.
    w->strVersionAct = QStringLiteral("20240101_0000");
    const QString backup = acervo::archivoExportacion(carpeta, 2, w->strVersionAct);
    const QString zip = acervo::archivoEmpacado(backup);
    for (const QString& nombre : {backup, zip}) {
        ASSERT_TRUE(QFile::link(victima, nombre));
        ASSERT_EQ(::lchown(QFile::encodeName(nombre).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    w->creaArchivoDUMP_Click();

    ASSERT_EQ(dialogs.shown().size(), 2u);
    const QString libre = carpeta + QStringLiteral("/respB02_20240101_0000-2.zip");
    EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("Exportacion exitosa"));
    EXPECT_EQ(dialogs.shown()[1].text,
              QStringLiteral("El archivo de exportacion se ha generado con exito, en\r\n") + libre +
                  QStringLiteral("\r\n\r\nEn ") + zip +
                  QStringLiteral(" ya había un enlace simbólico o un archivo de otro usuario; no se tocó y el archivo "
                                 "de exportación se guardó con el nombre de arriba."));
    EXPECT_EQ(w->archivoExportado(), libre);
    EXPECT_EQ(entradas(libre), QStringList{QStringLiteral("respB02_20240101_0000.backup")});
    EXPECT_TRUE(miembro(libre, QStringLiteral("respB02_20240101_0000.backup")).contains("PostgreSQL database dump"));
    for (const QString& nombre : {backup, zip}) {
        EXPECT_EQ(QFileInfo(nombre).symLinkTarget(), victima);
    }
    EXPECT_EQ(leer(victima), QByteArray("VICTIMA\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(victima).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    QStringList quedan = QDir(carpeta).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    quedan.sort();
    QStringList esperados{QFileInfo(primera).fileName(), QFileInfo(backup).fileName(), QFileInfo(zip).fileName(),
                          QFileInfo(libre).fileName()};
    esperados.sort();
    EXPECT_EQ(quedan, esperados);
}

// The dump swapped just before it is packed: a pg_dump that, as it ends, moves the export's private folder
// away and leaves a link to a root-only folder holding a file of the dump's name in its place. What is packed
// is the dump it wrote, never the root-only file; nothing is written into that folder.
TEST(ExportacionVolcado, TheDumpIsPackedFromTheFileTheExportMadeWhateverIsSwappedInTheFolder) {
    TempDir destino;
    TempDir raiz;
    TempDir bin;
    const QString nombre = QStringLiteral("respB02_20240101_0001.backup");
    const QByteArray secreto = "SECRETO-DE-ROOT\n";
    escribir(raiz.file(nombre), secreto);
    ASSERT_EQ(::chmod(QFile::encodeName(raiz.file(nombre)).constData(), 0600), 0);
    const QString pgDump = bin.file(QStringLiteral("pg_dump"));
    escribir(pgDump, "#!/bin/sh\nfor p in '" + QFile::encodeName(destino.path()) +
                         "'.respB*; do mv \"$p\" \"$p.movida\"; ln -s '" + QFile::encodeName(raiz.path()) +
                         "' \"$p\"; done\nprintf -- '-- volcado de prueba\\n'\n");
    ASSERT_EQ(::chmod(QFile::encodeName(pgDump).constData(), 0700), 0);

    acervo::ParametrosVolcado p;
    p.carpetaBin = bin.path();
    p.servidor = QStringLiteral("127.0.0.1");
    p.puerto = 5432;
    p.usuario = QStringLiteral("postgres");
    p.archivoBackup = destino.file(nombre);
    const acervo::ResultadoVolcado v = acervo::volcarExportacion(p);
    ASSERT_TRUE(v.ok()) << v.detalle.toStdString();
    EXPECT_TRUE(v.empacado);
    EXPECT_EQ(v.archivo, destino.file(QStringLiteral("respB02_20240101_0001.zip")));
    EXPECT_TRUE(v.nombreOcupado.isEmpty());
    EXPECT_EQ(entradas(v.archivo), QStringList{nombre});
    EXPECT_EQ(miembro(v.archivo, nombre), QByteArray("-- volcado de prueba\n"));
    // The private folder was moved indeed, and the root-only folder got nothing.
    EXPECT_EQ(QDir(destino.path()).entryList({QStringLiteral(".respB*.movida")}, QDir::Dirs | QDir::Hidden).size(), 1);
    EXPECT_EQ(QDir(raiz.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{nombre});
    EXPECT_EQ(leer(raiz.file(nombre)), secreto);
}

TEST_F(Exportacion, ChecksRefuseBeforeAnythingIsWritten) {
    struct Caso {
        const char* titulo;
        std::function<void(frmMontarAcervo&)> preparar;
        const char* foco;
    };
    const Caso casos[] = {
        {"Falta la biblioteca", [](frmMontarAcervo& w) { hijo<QComboBox>(w, "cboBibliotecas")->setCurrentIndex(-1); },
         "cboBibliotecas"},
        {"Error en ID de Biblioteca",
         [](frmMontarAcervo& w) {
             auto* combo = hijo<QComboBox>(w, "cboBibliotecas");
             combo->addItem(QStringLiteral("Biblioteca sin número"));
             combo->setCurrentIndex(combo->count() - 1);
         },
         "cboBibliotecas"},
        {"No existe la carpeta destino",
         [](frmMontarAcervo& w) { hijo<QLineEdit>(w, "txtRuta")->setText(QStringLiteral("/no/existe")); }, "txtRuta"},
        {"Error en rango de fechas",
         [](frmMontarAcervo& w) { hijo<QDateEdit>(w, "dFecha2")->setDate(QDate(2024, 2, 29)); }, "dFecha2"},
        // The dates are checked whatever the format (disabled, they cannot take the focus).
        {"Error en rango de fechas",
         [](frmMontarAcervo& w) {
             hijo<QDateEdit>(w, "dFecha2")->setDate(QDate(2024, 2, 29));
             click(w, "OptFormato_1");
         },
         nullptr},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.titulo);
        ScriptedDialogs dialogs;
        dialogs.answer(MsgResult::Ok);
        auto w = ventana(2, destinos.path());
        k.preparar(*w);
        click(*w, "cmdCreaTablas");
        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].title, QString::fromUtf8(k.titulo));
        EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Warning);
        if (k.foco != nullptr) {
            QWidget* foco = hijo<QWidget>(*w, k.foco);
            EXPECT_TRUE(w->focusWidget() == foco || foco->isAncestorOf(w->focusWidget())) << k.foco;
        }
        EXPECT_TRUE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
        EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'zexporta%'")),
                  QStringLiteral("0"));
    }
}

// Nothing of the library in the window: the record step fails, the run reports it at the end and writes no
// file; the export button stays off until the window is opened again.
TEST_F(Exportacion, AnEmptySelectionFailsTheRecordStep) {
    ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    auto w = ventana(123, destinos.path()); // library 2 would still stage its analytic records
    hijo<QDateEdit>(*w, "dFecha1")->setDate(QDate(2021, 1, 1));
    hijo<QDateEdit>(*w, "dFecha2")->setDate(QDate(2021, 1, 31));
    click(*w, "cmdCreaTablas");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Exportar acervo para biblioteca"));
    EXPECT_EQ(dialogs.shown()[0].text,
              QStringLiteral("Ocurrió un error al generar la estructura temporal para la exportación de registros\r\n"
                             "[01]\r\nNo se encontraron fichas de la biblioteca en el periodo indicado\r\n"));
    EXPECT_FALSE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(*w, "cmdRegresar")->isEnabled());
    EXPECT_TRUE(QDir(destinos.path()).isEmpty());
}

TEST_F(Exportacion, PreviousGenerationFile) {
    ScriptedDialogs dialogs;
    const QString ac8 = destinos.file(QStringLiteral("biblioteca dos"));
    dialogs.answer(ac8).answer(MsgResult::Ok);
    auto w = ventana(2, destinos.path(), true);
    click(*w, "cmdCreaTablas");
    const QString archivo = ac8 + QStringLiteral(".ac8");

    // Records 3 and 4 shared a number: one keeps it, the other is renumbered.
    EXPECT_EQ(
        scalar(QStringLiteral("SELECT count(DISTINCT ficha_no) || '/' || count(*) FROM analisis.zexporta_aafichas "
                              "WHERE idficha IN (3, 4)")),
        QStringLiteral("2/2"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT string_agg(idficha::text, ',' ORDER BY idficha) FROM "
                                    "analisis.zexporta_aafichas")),
              QStringLiteral("3,4,5,6,7,13"));

    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].kind, QStringLiteral("save"));
    EXPECT_EQ(dialogs.shown()[0].title,
              QStringLiteral("Indique la ubicación y nombre del archivo de exportación (ac8)"));
    const ShownDialog& fin = dialogs.shown()[1];
    EXPECT_EQ(fin.title, QStringLiteral("Archivo de exportación generado con detalles!!!"));
    // The repeated item left out; the analyst of one item and the title of one record cut to their fields.
    EXPECT_EQ(fin.text, QStringLiteral("El proceso de Exportación ha terminado,sin embargo se identificaron 1 "
                                       "ejemplar(es) que no se incluirán en este paquete\r\nEn 2 fila(s) se "
                                       "recortaron textos más largos que su campo; el log de errores los detalla."));
    EXPECT_TRUE(hijo<QGroupBox>(*w, "frameLOG")->isVisible());
    const QString errores = hijo<QPlainTextEdit>(*w, "txtERR")->toPlainText();
    const QString hora = QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}");
    const QStringList esperadas = {
        hora + QStringLiteral(" >EE \\d+ <Analista recortado a 10> catalogador_principal"),
        hora + QStringLiteral(" >EE 107 <3022> l2-0042"),
        hora + QStringLiteral(" >EF 105 <Titulo recortado a 50> Cien años de soledad: edición conmemorativa de la "
                              "Real Academia Española"),
    };
    // Items come in the order of their (renumbered) record numbers: look for each line.
    const QStringList lineas = errores.split(QLatin1Char('\n'));
    EXPECT_EQ(lineas.size(), esperadas.size()) << errores.toStdString();
    for (const QString& e : esperadas) {
        const QRegularExpression re(QLatin1Char('^') + e + QLatin1Char('$'));
        EXPECT_TRUE(std::any_of(lineas.begin(), lineas.end(), [&](const QString& l) { return re.match(l).hasMatch(); }))
            << e.toStdString() << "\n"
            << errores.toStdString();
    }
    EXPECT_TRUE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(*w, "cmdRegresar")->isEnabled());

    // The file, as the sqlite3 command sees it.
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")),
              QStringLiteral("EJEMPLARES\nFichas"));
    EXPECT_EQ(
        sqlite(archivo, QStringLiteral("SELECT group_concat(name || ':' || type || ':' || \"notnull\" || ':' || "
                                       "coalesce(dflt_value, ''), ',') FROM pragma_table_info('EJEMPLARES')")),
        QStringLiteral("Ficha_No:INT:1:0,NumAdqui:TEXT:1:,FechaIngreso:TEXT:0:,Biblioteca:INT:1:0,Volumen:INT:0:0,"
                       "Ejemplar:INT:0:0,Tomo:INT:0:0,Accesible:INT:1:0,NoEscuela:INT:0:0,FechaMod:TEXT:0:,"
                       "Analista:TEXT:0:"));
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT group_concat(name || ':' || type || ':' || \"notnull\" || ':' || "
                                             "coalesce(dflt_value, ''), ',') FROM pragma_table_info('Fichas')")),
              QStringLiteral("Ficha_No:INT:1:0,Fecha:TEXT:0:,FechaMod:TEXT:0:,DatosFijos:TEXT:0:,EtiquetasMARC:TEXT:0:,"
                             "TipoMaterial:INT:0:0,ISBN:TEXT:0:,Titulo:TEXT:0:,Autor:TEXT:0:,Clasificacion:TEXT:0:,"
                             "Estatus:TEXT:0:'A',Coleccion_No:INT:0:1"));
    auto indices = [&](const char* tabla) {
        return sqlite(archivo, QStringLiteral("SELECT il.name || ':' || il.\"unique\" || ':' || ii.name FROM "
                                              "pragma_index_list('%1') il, pragma_index_info(il.name) ii ORDER BY "
                                              "il.name")
                                   .arg(QString::fromLatin1(tabla)));
    };
    // The primary keys are the tables' own (sqlite_autoindex_…), on NumAdqui and Ficha_No.
    EXPECT_EQ(indices("EJEMPLARES"),
              QStringLiteral("EJEMPLARES_Accesible:0:Accesible\nEJEMPLARES_Biblioteca:0:Biblioteca\n"
                             "EJEMPLARES_Ficha_No:0:Ficha_No\nEJEMPLARES_NumAdqui:1:NumAdqui\n"
                             "sqlite_autoindex_EJEMPLARES_1:1:NumAdqui"));
    EXPECT_EQ(indices("Fichas"),
              QStringLiteral("Fichas_Autor:0:Autor\nFichas_Clasificacion:0:Clasificacion\nFichas_Ficha_No:1:Ficha_No\n"
                             "Fichas_ISBN:0:ISBN\nFichas_TipoMaterial:0:TipoMaterial\nFichas_Titulo:0:Titulo\n"
                             "sqlite_autoindex_Fichas_1:1:Ficha_No"));
    EXPECT_TRUE(sqlite(archivo, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'EJEMPLARES'"))
                    .contains(QStringLiteral("CONSTRAINT \"PrimaryKey\" PRIMARY KEY (\"NumAdqui\")")));

    // The rows: items under their record's number, the repeated number refused, texts cut and mapped.
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT group_concat(NumAdqui, ',') FROM (SELECT NumAdqui FROM EJEMPLARES "
                                             "ORDER BY NumAdqui)")),
              QStringLiteral("L2-0003,L2-0004,L2-0007,L2-0011,L2-0042,R2-0001"));
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT count(*) FROM EJEMPLARES e JOIN Fichas f ON f.Ficha_No = "
                                             "e.Ficha_No")),
              QStringLiteral("6"));
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT Analista || '|' || Biblioteca || '|' || FechaIngreso || '|' || "
                                             "NoEscuela FROM EJEMPLARES WHERE NumAdqui = 'L2-0004'")),
              QStringLiteral("catalogado|2|2024-03-05 09:00:00|1"));
    EXPECT_EQ(
        sqlite(archivo,
               QStringLiteral("SELECT Titulo || '|' || coalesce(Estatus, '') || '|' || coalesce(Autor, '') FROM Fichas "
                              "ORDER BY Titulo")),
        QStringLiteral("Artículo sobre Rulfo|C|O'Brien, Flann\n"
                       "Cien años de soledad: edición conmemorativa de la|C|García Márquez, Gabriel\n"
                       "Don Quijote de la Mancha|C|Cervantes Saavedra, Miguel de\n"
                       "Novelas ejemplares||Cervantes Saavedra, Miguel de\n"
                       "Revista d'Art \\ Letras|C|"));
    EXPECT_EQ(
        sqlite(archivo, QStringLiteral("SELECT DatosFijos || '|' || EtiquetasMARC || '|' || Clasificacion || '|' || "
                                       "Coleccion_No || '|' || Fecha FROM Fichas WHERE Titulo LIKE 'Don%'")),
        QStringLiteral("080101s1605    sp|\u00a6020978-84-376-0494-7\u00a6100Cervantes Saavedra, Miguel de"
                       "\u00a6245Don Quijote de la Mancha primera parte\u00a6500Incluye notas de Cervantes "
                       "Saavedra, Miguel de\u00cc|863 C419\\q|1|2023-05-10 12:00:00"));
    EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT coalesce(DatosFijos, 'NULL') || '|' || EtiquetasMARC FROM Fichas "
                                             "WHERE Titulo LIKE 'Revista%'")),
              QStringLiteral("NULL|\u00a6245Revista d'Art \\ Letras\u00cc"));
}

// The file's item key is never cut: two item numbers that differ only past the field's 15 characters stay
// out of the file, each logged and counted, instead of becoming one item that no source has. Only a file
// without a row left out or cut says "Exportación exitosa".
TEST_F(Exportacion, PreviousGenerationFileLeavesOutItemNumbersThatDoNotFit) {
    // Item numbers of this generation may be longer than the previous generation's 15 characters.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "ALTER TABLE analisis.ejemplares ALTER COLUMN no_adqui TYPE character varying(25);"
        "INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, idescuela, "
        "idcoleccion, fechaingreso, accesible, analista) VALUES "
        "(17, 3, 104, 'ABCDEFGHIJKLMNO-1', 2, 1, 1, '2024-03-05 10:00', 1, 'ana'), "
        "(18, 3, 104, 'ABCDEFGHIJKLMNO-2', 2, 1, 1, '2024-03-05 10:00', 1, 'ana');")));
    struct Caso {
        int biblioteca;
        QString titulo;
        QString texto;
        QStringList fuera; // item numbers logged as left out
    };
    const Caso casos[] = {
        {1234, QStringLiteral("Archivo de exportación generado!!!"), QStringLiteral("Exportación exitosa"), {}},
        {2,
         QStringLiteral("Archivo de exportación generado con detalles!!!"),
         QStringLiteral("El proceso de Exportación ha terminado,sin embargo se identificaron 3 ejemplar(es) que no se "
                        "incluirán en este paquete\r\nEn 2 fila(s) se recortaron textos más largos que su campo; el "
                        "log de errores los detalla."),
         {QStringLiteral("<3163> ABCDEFGHIJKLMNO-1"), QStringLiteral("<3163> ABCDEFGHIJKLMNO-2"),
          QStringLiteral("<3022> l2-0042")}},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.biblioteca);
        ScriptedDialogs dialogs;
        const QString archivo = destinos.file(QStringLiteral("biblioteca %1.ac8").arg(k.biblioteca));
        dialogs.answer(archivo).answer(MsgResult::Ok);
        auto w = ventana(k.biblioteca, destinos.path(), true);
        click(*w, "cmdCreaTablas");
        ASSERT_EQ(dialogs.shown().size(), 2u);
        EXPECT_EQ(dialogs.shown()[1].title, k.titulo);
        EXPECT_EQ(dialogs.shown()[1].text, k.texto);
        EXPECT_EQ(hijo<QGroupBox>(*w, "frameLOG")->isVisible(), !k.fuera.isEmpty());
        const QString errores = hijo<QPlainTextEdit>(*w, "txtERR")->toPlainText();
        EXPECT_EQ(errores.count(QRegularExpression(QStringLiteral(" >EE -?\\d+ <\\d+> "))), k.fuera.size())
            << errores.toStdString();
        for (const QString& f : k.fuera) {
            EXPECT_TRUE(errores.contains(f)) << f.toStdString() << "\n" << errores.toStdString();
        }
        // No item of the file is a cut number.
        EXPECT_EQ(sqlite(archivo, QStringLiteral("SELECT count(*) FROM EJEMPLARES WHERE NumAdqui LIKE 'ABCDEFGHIJ%'")),
                  QStringLiteral("0"));
    }
}

// What stands at a path, not followed: its kind, owner and inode, and its bytes or a link's target.
struct Huella {
    mode_t modo = 0;
    uid_t dueno = 0;
    ino_t inodo = 0;
    QByteArray contenido;
    bool operator==(const Huella&) const = default;
};

Huella huella(const QString& ruta) {
    Huella h;
    struct stat st {};
    if (::lstat(QFile::encodeName(ruta).constData(), &st) != 0) {
        return h;
    }
    h = {st.st_mode, st.st_uid, st.st_ino, {}};
    if (S_ISLNK(st.st_mode)) {
        h.contenido = QFile::encodeName(QFileInfo(ruta).symLinkTarget());
    } else if (S_ISREG(st.st_mode)) {
        h.contenido = leer(ruta);
    } else if (S_ISDIR(st.st_mode)) {
        h.contenido = QDir(ruta)
                          .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                          .join(QLatin1Char('|'))
                          .toUtf8();
    }
    return h;
}

QStringList entradasDe(const QString& carpeta, const QStringList& filtro = {}) {
    QStringList l =
        QDir(carpeta).entryList(filtro, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    l.sort();
    return l;
}

// The staging of library 2 for the previous generation's file, done once through the window; later files
// are written by the window's writer alone. The closing text of that library's file is kept.
class ExportacionAc8 : public Exportacion {
protected:
    void SetUp() override {
        Exportacion::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const passwd* pw = ::getpwnam("nobody");
        ASSERT_NE(pw, nullptr);
        nobody = *pw;
        ASSERT_TRUE(QDir().mkpath(carpeta));
        ASSERT_EQ(::chmod(QFile::encodeName(carpeta).constData(), 0777), 0);
        escribir(victima, "VICTIMA\n");
        ASSERT_EQ(::chmod(QFile::encodeName(victima).constData(), 0600), 0);
        ScriptedDialogs dialogs;
        dialogs.answer(destinos.file(QStringLiteral("primero.ac8"))).answer(MsgResult::Ok);
        w = ventana(2, destinos.path(), true);
        click(*w, "cmdCreaTablas");
        ASSERT_EQ(dialogs.shown().size(), 2u);
        cierre = dialogs.shown()[1].text;
        ASSERT_TRUE(cierre.startsWith(QStringLiteral("El proceso de Exportación ha terminado,")))
            << cierre.toStdString();
    }

    // Nothing of a run is left in the work folder.
    static QStringList restosEnTrabajo() { return entradasDe(sesion().RutaTemporal, {QStringLiteral("ac8.*")}); }

    passwd nobody{};
    const QString carpeta = destinos.file(QStringLiteral("compartida")); // others may write it
    TempDir raiz;                                                        // root's alone
    const QString victima = raiz.file(QStringLiteral("victima"));
    std::unique_ptr<frmMontarAcervo> w;
    QString cierre;
};

// Whoever may write the chosen folder may plant something at the file's name before the run: nothing is
// removed or written through it. A link or another user's file is left alone and the file goes under the
// next free name, which the closing box names; an earlier file of the kit's own is replaced, as the save
// dialog asked; a folder there makes the dialog ask again.
TEST_F(ExportacionAc8, NothingThatStandsAtTheNameIsRemovedOrWrittenThrough) {
    struct Caso {
        const char* nombre;
        std::function<void(const QString&)> plantar;
        bool reemplazado; // the kit's own earlier file
    };
    const Caso casos[] = {
        {"a link to a file of root's",
         [&](const QString& ruta) {
             ASSERT_TRUE(QFile::link(victima, ruta));
             ASSERT_EQ(::lchown(QFile::encodeName(ruta).constData(), nobody.pw_uid, nobody.pw_gid), 0);
         },
         false},
        {"another user's file",
         [&](const QString& ruta) {
             escribir(ruta, "AJENO\n");
             ASSERT_EQ(::chown(QFile::encodeName(ruta).constData(), nobody.pw_uid, nobody.pw_gid), 0);
         },
         false},
        {"an earlier file of the kit's own", [&](const QString& ruta) { escribir(ruta, "ANTERIOR\n"); }, true},
    };
    QStringList esperadas;
    int n = 0;
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const QString ruta = carpeta + QStringLiteral("/acervo %1.ac8").arg(++n);
        k.plantar(ruta);
        const Huella antes = huella(ruta);
        ScriptedDialogs dialogs;
        dialogs.answer(ruta).answer(MsgResult::Ok);
        w->cmdArchivoDUMP_V6_Click();

        ASSERT_EQ(dialogs.shown().size(), 2u);
        const QString libre = k.reemplazado ? ruta : ruta.chopped(4) + QStringLiteral("-2.ac8");
        EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("Archivo de exportación generado con detalles!!!"));
        EXPECT_EQ(dialogs.shown()[1].text,
                  k.reemplazado
                      ? cierre
                      : cierre + QStringLiteral("\r\n\r\nEn ") + ruta +
                            QStringLiteral(" ya había un enlace simbólico o un archivo de otro usuario; no se tocó y "
                                           "el archivo de exportación se guardó como ") +
                            libre + QLatin1Char('.'));
        EXPECT_EQ(sqlite(libre, QStringLiteral("SELECT (SELECT count(*) FROM Fichas) || '/' || count(*) FROM "
                                               "EJEMPLARES")),
                  QStringLiteral("5/6"));
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(libre).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, ::geteuid());
        if (!k.reemplazado) {
            EXPECT_TRUE(huella(ruta) == antes);
        }
        esperadas << QFileInfo(ruta).fileName();
        if (libre != ruta) {
            esperadas << QFileInfo(libre).fileName();
        }
    }
    EXPECT_EQ(leer(victima), QByteArray("VICTIMA\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(victima).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(entradasDe(raiz.path()), QStringList{QStringLiteral("victima")});

    // A folder at the name: the dialog asks once more, and the folder stays as it was.
    const QString hueco = carpeta + QStringLiteral("/carpeta.ac8");
    ASSERT_TRUE(QDir().mkpath(hueco + QStringLiteral("/dentro")));
    const Huella antes = huella(hueco);
    const QString otra = carpeta + QStringLiteral("/otra.ac8");
    ScriptedDialogs dialogs;
    dialogs.answer(hueco).answer(MsgResult::Ok).answer(otra).answer(MsgResult::Ok);
    w->cmdArchivoDUMP_V6_Click();
    ASSERT_EQ(dialogs.shown().size(), 4u);
    EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("Selección de archivo"));
    EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Critical);
    EXPECT_EQ(dialogs.shown()[2].kind, QStringLiteral("save"));
    EXPECT_EQ(dialogs.shown()[3].text, cierre);
    EXPECT_TRUE(huella(hueco) == antes);
    EXPECT_EQ(sqlite(otra, QStringLiteral("SELECT count(*) FROM Fichas")), QStringLiteral("5"));
    esperadas << QStringLiteral("carpeta.ac8") << QStringLiteral("otra.ac8");

    // No private folder or copy is left behind, here or in the work folder.
    esperadas.sort();
    EXPECT_EQ(entradasDe(carpeta), esperadas);
    EXPECT_EQ(restosEnTrabajo(), QStringList());
}

// The run's private folder in the chosen folder swapped while the file is written: moved away, and a link to
// a root-only folder, or another user's folder, put at its name. The file still reaches its name from the
// folder the run made; the root-only folder gets nothing and the other user's folder keeps what it holds.
TEST_F(ExportacionAc8, TheFileReachesItsNameFromTheFolderTheRunMadeWhateverIsSwappedIn) {
    const QByteArray secreto = "SECRETO-DE-ROOT\n";
    const QString nombre = QStringLiteral("acervo.ac8");
    escribir(raiz.file(nombre), secreto);
    ASSERT_EQ(::chmod(QFile::encodeName(raiz.file(nombre)).constData(), 0600), 0);
    const QString ajena = carpeta + QStringLiteral("/ajena");
    ASSERT_TRUE(QDir().mkpath(ajena));
    escribir(ajena + QStringLiteral("/nota"), "NOTA\n");
    for (const QString& r : {ajena, ajena + QStringLiteral("/nota")}) {
        ASSERT_EQ(::chown(QFile::encodeName(r).constData(), nobody.pw_uid, nobody.pw_gid), 0);
    }
    const Huella notaAntes = huella(ajena + QStringLiteral("/nota"));

    for (const bool enlace : {true, false}) {
        SCOPED_TRACE(enlace ? "a link to a root-only folder" : "another user's folder");
        const QString ruta = carpeta + QLatin1Char('/') + nombre;
        QString privada;
        acervo::InterfazExportacion ui;
        ui.estado = [&](const QString& texto) {
            if (texto != QLatin1String("Exportando ejemplares ...")) {
                return;
            }
            const QStringList halladas = entradasDe(carpeta, {QStringLiteral(".acervo.ac8.??????")});
            ASSERT_EQ(halladas.size(), 1) << halladas.join(QLatin1Char(' ')).toStdString();
            privada = carpeta + QLatin1Char('/') + halladas[0];
            ASSERT_TRUE(QDir().rename(privada, privada + QStringLiteral(".movida")));
            if (enlace) {
                ASSERT_TRUE(QFile::link(raiz.path(), privada));
            } else {
                ASSERT_TRUE(QDir().rename(ajena, privada));
            }
        };
        const acervo::ResultadoAc8 r = acervo::escribirAc8(ruta, 2, ui);

        ASSERT_FALSE(privada.isEmpty());
        EXPECT_EQ(r.archivo, ruta);
        EXPECT_TRUE(r.nombreOcupado.isEmpty());
        EXPECT_EQ(r.titulo, QStringLiteral("Archivo de exportación generado con detalles!!!"));
        EXPECT_EQ(r.mensaje.texto, cierre);
        EXPECT_EQ(sqlite(ruta, QStringLiteral("SELECT (SELECT count(*) FROM Fichas) || '/' || count(*) FROM "
                                              "EJEMPLARES")),
                  QStringLiteral("5/6"));
        // What was swapped in is the swapper's, left as it is; the folder moved away is emptied.
        if (enlace) {
            EXPECT_EQ(QFileInfo(privada).symLinkTarget(), QDir::cleanPath(raiz.path()));
        } else {
            EXPECT_EQ(entradasDe(privada), QStringList{QStringLiteral("nota")});
            EXPECT_TRUE(huella(privada + QStringLiteral("/nota")) == notaAntes);
        }
        EXPECT_EQ(entradasDe(privada + QStringLiteral(".movida")), QStringList());
        EXPECT_EQ(entradasDe(raiz.path()), (QStringList{nombre, QStringLiteral("victima")}));
        EXPECT_EQ(leer(raiz.file(nombre)), secreto);
        ASSERT_TRUE(paths::borrarSinSeguirEnlaces(privada + QStringLiteral(".movida")));
        if (!enlace) {
            ASSERT_TRUE(QDir().rename(privada, ajena));
        } else {
            ASSERT_TRUE(QFile::remove(privada));
        }
        ASSERT_TRUE(QFile::remove(ruta));
    }
    EXPECT_EQ(restosEnTrabajo(), QStringList());
}

// A file that cannot be made is reported before any row is read, leaves nothing of the run, and leaves no
// earlier file of the kit's own at the name to pass for this run's.
TEST_F(ExportacionAc8, AFileThatCannotBeMadeLeavesNoEarlierFileAtItsName) {
    const QString trabajo = sesion().RutaTemporal;
    struct Caso {
        const char* nombre;
        QString ruta;
        QString trabajo;   // the session's work folder for the run
        const char* razon; // in the box with the file's error
    };
    const QString enlace = carpeta + QStringLiteral("/enlace");
    ASSERT_TRUE(QFile::link(raiz.path(), enlace));
    const Caso casos[] = {
        {"the work folder is gone", carpeta + QStringLiteral("/anterior.ac8"),
         destinos.file(QStringLiteral("no existe/")), "3044\r\n\r\nNo es una ruta válida. (No se encontró la carpeta "},
        {"the chosen folder is a link in a folder others write", enlace + QStringLiteral("/anterior.ac8"), trabajo,
         "3044\r\n\r\nNo es una ruta válida. (La carpeta "},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        escribir(k.ruta, "ANTERIOR\n");
        const Huella raizAntes = huella(raiz.path());
        sesion().RutaTemporal = k.trabajo;
        ScriptedDialogs dialogs;
        dialogs.answer(k.ruta).answer(MsgResult::Ok).answer(MsgResult::Ok);
        w->cmdArchivoDUMP_V6_Click();
        sesion().RutaTemporal = trabajo;

        ASSERT_EQ(dialogs.shown().size(), 3u);
        EXPECT_EQ(dialogs.shown()[1].title, kProgramTitle);
        EXPECT_EQ(dialogs.shown()[1].icon, MsgIcon::Critical);
        EXPECT_TRUE(dialogs.shown()[1].text.startsWith(QString::fromUtf8(k.razon)))
            << dialogs.shown()[1].text.toStdString();
        EXPECT_EQ(dialogs.shown()[2].title, QStringLiteral("Error al exportar acervo"));
        EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("No se pudo crear el archivo con la exportación"));
        if (k.trabajo == trabajo) {
            // Behind the link: the root-only folder is not the kit's to write in, nor to remove from.
            EXPECT_TRUE(huella(raiz.path()) == raizAntes);
            EXPECT_EQ(leer(k.ruta), QByteArray("ANTERIOR\n"));
            ASSERT_TRUE(QFile::remove(k.ruta));
        } else {
            EXPECT_FALSE(QFileInfo::exists(k.ruta));
        }
        EXPECT_EQ(entradasDe(carpeta), QStringList{QStringLiteral("enlace")});
        EXPECT_EQ(restosEnTrabajo(), QStringList());
    }
}

// The file engine reaches the file by its path: a link at the name or on the way is refused, and nothing is
// created or changed through it.
TEST(ArchivoAc8, NoLinkOnThePathIsFollowed) {
    TempDir d;
    TempDir raiz;
    escribir(raiz.file(QStringLiteral("x.ac8")), "NO ES UNA BASE\n");
    ASSERT_TRUE(QFile::link(raiz.path(), d.file(QStringLiteral("enlace"))));
    ASSERT_TRUE(QFile::link(raiz.file(QStringLiteral("x.ac8")), d.file(QStringLiteral("x.ac8"))));
    ASSERT_TRUE(QFile::link(raiz.file(QStringLiteral("nuevo.ac8")), d.file(QStringLiteral("suelto.ac8"))));
    struct Caso {
        const char* nombre;
        bool crear;
        QString ruta;
        int numero;
    };
    const Caso casos[] = {
        {"create, a link at the name", true, d.file(QStringLiteral("x.ac8")), ac8::kBaseYaExiste},
        {"create, a dangling link at the name", true, d.file(QStringLiteral("suelto.ac8")), ac8::kBaseYaExiste},
        {"create, a link on the way", true, d.file(QStringLiteral("enlace/otro.ac8")), ac8::kRutaNoValida},
        {"open, a link at the name", false, d.file(QStringLiteral("x.ac8")), ac8::kRutaNoValida},
        {"open, a link on the way", false, d.file(QStringLiteral("enlace/x.ac8")), ac8::kRutaNoValida},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const std::unique_ptr<ac8::ArchivoAcervo> a = ac8::nuevoArchivoAcervo();
        const ac8::Resultado r = k.crear ? a->crear(k.ruta) : a->abrir(k.ruta);
        EXPECT_EQ(r.numero, k.numero) << r.descripcion.toStdString();
        EXPECT_FALSE(a->abierto());
        EXPECT_EQ(entradasDe(raiz.path()), QStringList{QStringLiteral("x.ac8")});
        EXPECT_EQ(leer(raiz.file(QStringLiteral("x.ac8"))), QByteArray("NO ES UNA BASE\n"));
    }
    // Where nothing stands, the file is made and takes its tables.
    EXPECT_TRUE(acervo::crearArchivoAc8(d.file(QStringLiteral("bueno.ac8"))).ok());
    EXPECT_EQ(sqlite(d.file(QStringLiteral("bueno.ac8")),
                     QStringLiteral("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = "
                                    "'table' ORDER BY name)")),
              QStringLiteral("EJEMPLARES,Fichas"));
}

TEST(TextosAc8, TheClosingMessageCountsRowsLeftOutAndCut) {
    struct Caso {
        int fichas, ejemplares, recortadas;
        QStringList lecturas;
        MsgIcon icono;
        QString titulo, texto;
    };
    const QString conDetalles = QStringLiteral("Archivo de exportación generado con detalles!!!");
    const QString inicio = QStringLiteral("El proceso de Exportación ha terminado,sin embargo se identificaron ");
    const Caso casos[] = {
        {0,
         0,
         0,
         {},
         MsgIcon::Information,
         QStringLiteral("Archivo de exportación generado!!!"),
         QStringLiteral("Exportación exitosa")},
        {0,
         0,
         4,
         {},
         MsgIcon::Information,
         conDetalles,
         QStringLiteral("El proceso de Exportación ha terminado, sin embargo en 4 fila(s) se recortaron textos más "
                        "largos que su campo; el log de errores los detalla.")},
        {2,
         1,
         1,
         {},
         MsgIcon::Information,
         conDetalles,
         inicio + QStringLiteral("2 ficha(s) que aparentemente estan duplicadas y que no se incluirán en este "
                                 "paquete\r\nTampoco se incluirán 1 ejemplar(es).\r\nEn 1 fila(s) se recortaron "
                                 "textos más largos que su campo; el log de errores los detalla.")},
        {0,
         0,
         0,
         {QStringLiteral("No se pudo guardar el archivo: 3000 Error reservado")},
         MsgIcon::Warning,
         conDetalles,
         QStringLiteral("No se pudo guardar el archivo: 3000 Error reservado")},
    };
    for (const Caso& k : casos) {
        acervo::ResultadoAc8 r;
        r.fichasFuera = k.fichas;
        r.ejemplaresFuera = k.ejemplares;
        r.filasRecortadas = k.recortadas;
        r.lecturasFallidas = k.lecturas;
        acervo::textoCierreAc8(r);
        EXPECT_EQ(iconoDe(r.mensaje.gravedad), k.icono) << k.texto.toStdString();
        EXPECT_EQ(r.titulo, k.titulo);
        EXPECT_EQ(r.mensaje.texto, k.texto);
    }
}

// Failures of the previous generation's file are reported, never as a success, and give the window back.
TEST_F(Exportacion, PreviousGenerationFileFailures) {
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        QString ruta;
        QStringList titulos; // of the boxes after the save dialog
        const char* texto;   // the last box's text begins so
        int lineasError;     // in the error log
    };
    const Caso casos[] = {
        {"file cannot be created",
         [] {},
         destinos.file(QStringLiteral("no existe/acervo.ac8")),
         {kProgramTitle, QStringLiteral("Error al exportar acervo")},
         "No se pudo crear el archivo con la exportación",
         0},
        {"tags cannot be read",
         [] {
             ASSERT_TRUE(PgCluster::instance().psql(
                 QStringLiteral("DROP FUNCTION analisis.referenciacatalogos2(text, bigint, text);")));
         },
         destinos.file(QStringLiteral("sin etiquetas.ac8")),
         {QStringLiteral("Archivo de exportación generado con detalles!!!")},
         "El proceso de Exportación ha terminado,sin embargo se identificaron 5 ficha(s) que aparentemente estan "
         "duplicadas y que no se incluirán en este paquete\r\nTampoco se incluirán 1 ejemplar(es).",
         5 + 2},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        k.preparar();
        ScriptedDialogs dialogs;
        dialogs.answer(k.ruta);
        for (int i = 0; i < k.titulos.size(); ++i) {
            dialogs.answer(MsgResult::Ok);
        }
        auto w = ventana(2, destinos.path(), true);
        click(*w, "cmdCreaTablas");
        ASSERT_EQ(dialogs.shown().size(), size_t(k.titulos.size() + 1));
        for (int i = 0; i < k.titulos.size(); ++i) {
            EXPECT_EQ(dialogs.shown()[size_t(i + 1)].title, k.titulos[i]);
        }
        EXPECT_TRUE(dialogs.shown().back().text.startsWith(QString::fromUtf8(k.texto)))
            << dialogs.shown().back().text.toStdString();
        const QString errores = hijo<QPlainTextEdit>(*w, "txtERR")->toPlainText();
        EXPECT_EQ(errores.isEmpty() ? 0 : errores.count(QLatin1Char('\n')) + 1, k.lineasError) << errores.toStdString();
        EXPECT_TRUE(hijo<QWidget>(*w, "cmdRegresar")->isEnabled());
        EXPECT_TRUE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(hijo<QProgressBar>(*w, "PBarGral")->value(), 1);
    }
    const QString archivo = destinos.file(QStringLiteral("sin etiquetas.ac8"));
    EXPECT_EQ(
        sqlite(archivo, QStringLiteral("SELECT (SELECT count(*) FROM Fichas) || '/' || count(*) FROM EJEMPLARES")),
        QStringLiteral("0/6"));

    // Staged rows that cannot be read are reported, not taken for an empty collection.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP TABLE analisis.zexporta_bejemplares;")));
    ScriptedDialogs dialogs;
    dialogs.answer(destinos.file(QStringLiteral("sin lectura.ac8"))).answer(MsgResult::Ok);
    auto w = ventana(2, destinos.path(), true);
    w->nBib = 2;
    w->cmdArchivoDUMP_V6_Click();
    ASSERT_EQ(dialogs.shown().size(), 2u);
    const ShownDialog& fin = dialogs.shown()[1];
    EXPECT_EQ(fin.icon, MsgIcon::Warning);
    EXPECT_EQ(fin.title, QStringLiteral("Archivo de exportación generado con detalles!!!"));
    EXPECT_TRUE(fin.text.startsWith(QStringLiteral("No se pudo leer la información de ejemplares a exportar:\r\n")))
        << fin.text.toStdString();
    EXPECT_TRUE(fin.text.contains(QStringLiteral("\r\nNo se pudo leer la información de fichas a exportar:\r\n")));
    EXPECT_TRUE(hijo<QGroupBox>(*w, "frameLOG")->isVisible());
}

TEST_F(Exportacion, AFailedRenumberingEndsTheRunNotTheProgram) {
    // Two live rows with one idficha make the items' numbering ambiguous.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "INSERT INTO analisis.fichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, estatus, titulo) "
        "VALUES (4, 999, 2, 1, 'L', 'CAP', 'Otra ficha con el mismo id');")));
    ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    auto w = ventana(2, destinos.path(), true);
    click(*w, "cmdCreaTablas");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith(QStringLiteral("Error al actualizar ficha_no\r\n[")))
        << dialogs.shown()[0].text.toStdString();
    EXPECT_TRUE(m_salidas.empty());
    EXPECT_TRUE(hijo<QWidget>(*w, "cmdCreaTablas")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(*w, "OptFormato_0")->isEnabled());
    EXPECT_TRUE(w->isVisible());
}

TEST_F(Exportacion, AStatementRunsWhileTheWindowStaysLive) {
    ScriptedDialogs dialogs;
    auto w = ventana(2, destinos.path());
    auto* barra = hijo<QProgressBar>(*w, "PBar1");
    int disparos = 0;
    QTimer reloj;
    QObject::connect(&reloj, &QTimer::timeout, [&] { ++disparos; });
    reloj.start(50);
    QString error = QStringLiteral("untouched");
    Cronometro t;
    EXPECT_TRUE(w->executeSQLasync(QStringLiteral("SELECT pg_sleep(3)"), barra, 0, error));
    EXPECT_GE(t.largo(), 3000);
    EXPECT_GE(disparos, 30);
    EXPECT_EQ(error, QStringLiteral("untouched"));
    EXPECT_EQ(barra->value(), barra->maximum());

    EXPECT_FALSE(w->executeSQLasync(QStringLiteral("SELECT * FROM analisis.no_existe"), barra, 0, error));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[-2147467259\\] - .*no_existe.*\r\n$"),
                                   QRegularExpression::DotMatchesEverythingOption)
                    .match(error)
                    .hasMatch())
        << error.toStdString();

    // The bar never fills while a statement runs: at its end the maximum doubles.
    int valor = 999;
    int maximo = 1000;
    avanzarActividad(valor, maximo);
    EXPECT_EQ(std::pair(valor, maximo), std::pair(1000, 2000));
    avanzarActividad(valor, maximo);
    EXPECT_EQ(std::pair(valor, maximo), std::pair(1001, 2000));
}

TEST_F(Exportacion, Screenshots) {
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    ScriptedDialogs dialogs;
    dialogs.answer(MsgResult::Ok);
    auto w = ventana(2, destinos.path());
    EXPECT_TRUE(w->grab().save(dir + QStringLiteral("/export_veliro7.png")));
    bool tomada = false;
    Muestreo muestreo(*w);
    muestreo.alMuestrear([&](int) {
        if (!tomada && hijo<QLabel>(*w, "lblEstatus")->text() == QLatin1String("[07]")) {
            tomada = w->grab().save(dir + QStringLiteral("/export_running.png"));
        }
    });
    click(*w, "cmdCreaTablas");
    muestreo.detener();
    EXPECT_TRUE(tomada);
    click(*w, "OptFormato_1");
    EXPECT_FALSE(hijo<QWidget>(*w, "frameFechas")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(*w, "picV7toV6")->isVisible());
    EXPECT_TRUE(w->grab().save(dir + QStringLiteral("/export_veliro6.png")));
    click(*w, "OptFormato_0");
    EXPECT_TRUE(hijo<QWidget>(*w, "frameFechas")->isEnabled());
    EXPECT_EQ(hijo<QDateEdit>(*w, "dFecha1")->date(), QDate(2024, 3, 1));
}

} // namespace
