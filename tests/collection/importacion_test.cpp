// The collection import on a library's server, end to end through its window: a central database of
// the test cluster, built from the export tests' catalogue, exports library 2 with the export's own
// routines, the library's database imports the file, and what it holds afterwards is read back. Also
// the files it refuses and the merge that fails, each leaving the catalogue as it was.
#include "collection/exportacion.h"
#include "collection/frmRestaurarAcervo.h"
#include "collection/importacion.h"
#include "collection/sql_asincrono.h"
#include "collection/volcado.h"
#include "core/cifrado.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "resources/recursos.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace v7;
using namespace v7::test;

namespace {

// The export reads database veliro7 alone, and so does the import: the central server's database
// waits as kCentral while the library's is veliro7, and the two trade names for an export.
const QString kCentral = QStringLiteral("central_acervo");
const QString kBiblioteca = QStringLiteral("biblioteca_acervo");
const QString kSello = QStringLiteral("20240315_0930");
const QString kSelloNuevo = QStringLiteral("20240402_1745");

PgCluster& cluster() {
    return PgCluster::instance();
}

QString leerTexto(const QString& path) {
    return QString::fromUtf8(leer(path));
}

QString fixture(const char* name) {
    return leerTexto(QStringLiteral(V7_SOURCE_DIR "/tests/collection/") + QString::fromLatin1(name));
}

// Rows of a query, one per line (psql's unaligned output).
QString filas(const QString& sql, const QString& database = QStringLiteral("veliro7")) {
    QString out;
    EXPECT_TRUE(cluster().psql(sql, &out, database)) << sql.toStdString();
    return out.trimmed();
}

// The central server: the two schema files and the catalogue the export tests use.
void crearCentral() {
    ASSERT_TRUE(cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE);\nDROP DATABASE IF EXISTS %2 "
                                              "WITH (FORCE);\nCREATE DATABASE %1;")
                                   .arg(kCentral, kBiblioteca),
                               nullptr, QStringLiteral("postgres")));
    ASSERT_TRUE(cluster().psql(leerTexto(baseSchemaPath()) + QLatin1Char('\n') + leerTexto(librarySchemaPath()) +
                                   QLatin1Char('\n') + fixture("fixture_acervo.sql"),
                               nullptr, kCentral));
}

// While it lives, veliro7 is the central server's database and the library's waits as kBiblioteca.
// Nobody may be connected to a database that is renamed: the session's connection is closed first
// and opened again on the new veliro7.
class CentralComoVeliro7 {
public:
    CentralComoVeliro7() { m_ok = intercambiar(kCentral, kBiblioteca); }
    ~CentralComoVeliro7() {
        if (m_ok) {
            EXPECT_TRUE(intercambiar(kBiblioteca, kCentral));
        }
    }
    bool ok() const { return m_ok; }

private:
    // veliro7 becomes `guardar`, `traer` becomes veliro7.
    static bool intercambiar(const QString& traer, const QString& guardar) {
        conexionPrincipal().close();
        const bool renombradas = cluster().psql(
            QStringLiteral("SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname IN "
                           "('veliro7', '%1') AND pid <> pg_backend_pid();\n"
                           "ALTER DATABASE veliro7 RENAME TO %2;\nALTER DATABASE %1 RENAME TO veliro7;")
                .arg(traer, guardar),
            nullptr, QStringLiteral("postgres"));
        QString error;
        const bool conectada = ConexionServer(sesion().CadenaConexion, error);
        EXPECT_TRUE(conectada) << error.toStdString();
        return renombradas && conectada;
    }
    bool m_ok = false;
};

// Library `biblioteca`'s export file, written by the export on the central server: its own statements,
// in the order its window runs them for this format, stage the library's whole collection under the
// stamp given (not the clock's, so that a test can tell an older file from a newer one); pg_dump
// writes the file and it is packed into its .zip. The dump is then taken out of the archive, as the
// library's staff do, and its path returned; the .zip stays beside it.
QString exportar(const QString& carpeta, const QString& sello, int biblioteca = 2) {
    const QString archivo = acervo::archivoExportacion(carpeta, biblioteca, sello);
    CentralComoVeliro7 central;
    if (!central.ok()) {
        ADD_FAILURE() << "the central database could not become veliro7";
        return archivo;
    }
    const acervo::Seleccion sel =
        acervo::seleccion(biblioteca, QDate(1900, 1, 1), QDate(2100, 12, 31), false, QDate::currentDate());
    auto correr = [](const QString& sql) {
        const ResultadoAsincrono r = ejecutarAsincrono(sesion().CadenaConexion, sql);
        EXPECT_TRUE(r.ok) << sql.toStdString() << "\n" << r.errores.toStdString();
    };
    correr(acervo::sqlEstampa(sello));
    correr(acervo::sqlFichas(sel));
    correr(acervo::sqlAnaliticas(biblioteca));
    int total = 0;
    QString error;
    const RecordsetPtr marcador = ExecuteSQLrs(acervo::sqlIdfichaMarcador(), total, error);
    EXPECT_TRUE(marcador && !marcador->eof() && !marcador->isNull(QStringLiteral("ficha_np"))) << error.toStdString();
    correr(acervo::sqlMarcador(marcador && !marcador->eof() ? marcador->text(QStringLiteral("ficha_np")) : QString(),
                               biblioteca));
    correr(acervo::sqlEjemplares(sel));
    correr(acervo::sqlEjemplaresDpi(biblioteca));
    if (!ExisteColumna(QStringLiteral("analisis"), QStringLiteral("etiquetasmarc"), QStringLiteral("idlink"))) {
        correr(acervo::sqlColumnasEnlace());
    }
    for (const QString& sql : {acervo::sqlEnlazarEtiquetas(biblioteca), acervo::sqlEtiquetas(), acervo::sqlIndizado(),
                               acervo::sqlIndizadoBiblioteca(biblioteca), acervo::sqlEnvios(), acervo::sqlRecepciones(),
                               acervo::sqlAutoridades(), acervo::sqlReferencias(), acervo::sqlHoldings(),
                               acervo::sqlEscuelas(), acervo::sqlBibliotecas()}) {
        correr(sql);
    }

    const SessionState& s = sesion();
    const acervo::ResultadoVolcado volcado = acervo::volcarExportacion(
        {ObtenerRutaBinPostgres(), s.ServidorSesion, s.PuertoSesion, s.UsuarioSesion, s.ClaveSesion, archivo});
    EXPECT_TRUE(volcado.ok()) << volcado.detalle.toStdString();
    const acervo::ResultadoEmpacado zip = acervo::empacarExportacion(archivo);
    EXPECT_TRUE(zip.ok);
    EXPECT_EQ(zip.archivo, acervo::archivoEmpacado(archivo));
    escribir(archivo, miembro(zip.archivo, QFileInfo(archivo).fileName()));
    return archivo;
}

// What the library's catalogue holds, table by table: the parts a refused or failed import must leave
// alone and a repeated one must change only where the file changed.
struct Catalogo {
    QString bibliotecas, fichas, ejemplares, noProcesados, etiquetas, palabras, detalles, autoridades, prestamos,
        matEspecial;

    static Catalogo leer() {
        Catalogo c;
        c.bibliotecas = filas(
            QStringLiteral("SELECT idbiblioteca, nombre, nombrecorto FROM catalogos.bibliotecas ORDER BY 1;\n"
                           "SELECT idescuela, nombre, nombrecorto, idbiblioteca FROM catalogos.escuelas ORDER BY 1;"));
        c.fichas = filas(QStringLiteral("SELECT idficha, ficha_no, tipoficha, estatus, idholding, titulo, autor FROM "
                                        "analisis.fichas ORDER BY idficha"));
        c.ejemplares = filas(QStringLiteral("SELECT idejemplar, idficha, ficha_no, no_adqui, idescuela, idcoleccion, "
                                            "accesible, esmatcomp FROM analisis.ejemplares WHERE ficha_no <> -1234 "
                                            "ORDER BY no_adqui"));
        c.noProcesados = filas(QStringLiteral(
            "SELECT no_adqui, idficha FROM analisis.ejemplares WHERE ficha_no = -1234 ORDER BY no_adqui"));
        c.etiquetas = filas(QStringLiteral("SELECT idregistro, idficha, numetiqueta, subcampo, jerarquia, posicion, "
                                           "contenido FROM analisis.etiquetasmarc ORDER BY idregistro"));
        c.palabras = filas(QStringLiteral("SELECT * FROM indizados.palabras ORDER BY idpalabra"));
        c.detalles = filas(QStringLiteral("SELECT numadqui, idficha, idescuela, idenviodpi, idrecepciondpi, "
                                          "idrecepcionbib, fecharecepcionbib FROM analisis.ejemplaresdetallesdpi ORDER "
                                          "BY numadqui"));
        c.autoridades = filas(QStringLiteral("SELECT 'AU', * FROM catalogos.autoridades ORDER BY 2;\n"
                                             "SELECT 'RE', * FROM catalogos.referencias ORDER BY 2;"));
        c.prestamos = filas(QStringLiteral("SELECT 'P', * FROM prestamo.prestamos ORDER BY 2;\n"
                                           "SELECT 'R', * FROM prestamo.reservaciones ORDER BY 2;"));
        c.matEspecial =
            filas(QStringLiteral("SELECT no_adq, titulo, estado, f_captura, analista_capturo, f_fin, "
                                 "analista_fin FROM catalogos.mat_especial ORDER BY no_adq, idmatespecial"));
        return c;
    }
};

void esperarIgual(const Catalogo& a, const Catalogo& b) {
    EXPECT_EQ(a.bibliotecas, b.bibliotecas);
    EXPECT_EQ(a.fichas, b.fichas);
    EXPECT_EQ(a.ejemplares, b.ejemplares);
    EXPECT_EQ(a.noProcesados, b.noProcesados);
    EXPECT_EQ(a.etiquetas, b.etiquetas);
    EXPECT_EQ(a.palabras, b.palabras);
    EXPECT_EQ(a.detalles, b.detalles);
    EXPECT_EQ(a.autoridades, b.autoridades);
    EXPECT_EQ(a.prestamos, b.prestamos);
    EXPECT_EQ(a.matEspecial, b.matEspecial);
}

QString actAcervo() {
    return filas(QStringLiteral(
        "SELECT count(*) || ':' || coalesce(max(valor), '') FROM config_veliro.configuracion WHERE descripcion = "
        "'ACT_ACERVO'"));
}

QString tablasExportacion() {
    return filas(QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'analisis' AND tablename LIKE "
                                "'zexporta\\_%'"));
}

const QString kNoProcesados = QStringLiteral(
    "Se detectó que 2 ejemplar(es) (L2-0004, L2-0042) del catálogo de ejemplares no procesados, está(n) incluído(s) en "
    "la actualización.\r\n\r\nDesea eliminarlo(s) automáticamente del catálogo de ejemplares no procesados?");

class Importacion : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(cluster().psql(fixture("importacion_biblioteca.sql") +
                                   QStringLiteral("\nINSERT INTO config_veliro.configuracion VALUES "
                                                  "('BIBLIO_ACTIVA', '2');\n"
                                                  "CREATE SCHEMA reportes;\n"
                                                  "CREATE TABLE reportes.plantillas (idplantilla serial, idmodulo "
                                                  "bigint, nombre character varying(255), plantilla text, version "
                                                  "smallint);\n")));
        ASSERT_TRUE(m_server->iniciarSesion());
        // As the login leaves it: the client tools are chosen by it.
        sesion().VersionServidor = cluster().scalar(QStringLiteral("SELECT version()")).left(14);
        // The merge script as the report templates hold it.
        int n = 0;
        QString error;
        ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO reportes.plantillas (idmodulo, nombre, plantilla, "
                                                    "version) VALUES (7, 'RESTAURA_ACERVO', ") +
                                         citarLiteral(recurso(QStringLiteral("restaura_acervo.sql"))) +
                                         QStringLiteral(", 1)"),
                                     n, error))
            << error.toStdString();
        crearCentral();
        m_archivo = exportar(m_dir.path(), kSello);
    }
    void TearDown() override {
        cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE);\nDROP DATABASE IF EXISTS %2 WITH "
                                      "(FORCE);")
                           .arg(kCentral, kBiblioteca),
                       nullptr, QStringLiteral("postgres"));
        m_server.reset();
    }

    // Chooses the file and presses "Importar acervo"; the boxes take the answers given, in order.
    void importar(frmRestaurarAcervo& w, const QString& archivo, std::initializer_list<MsgResult> respuestas) {
        m_dialogs.clear();
        m_dialogs.answer(archivo);
        for (MsgResult r : respuestas) {
            m_dialogs.answer(r);
        }
        click(w, "cmdBrowse");
        EXPECT_TRUE(hijo<QPushButton>(w, "cmdCargar")->isEnabled());
        click(w, "cmdCargar");
        EXPECT_TRUE(m_dialogs.allAnswered());
    }
    // Titles of the boxes shown after the file dialog.
    QStringList titulos() const {
        QStringList t;
        for (const ShownDialog& d : m_dialogs.shown()) {
            if (d.kind == QLatin1String("message")) {
                t << d.title;
            }
        }
        return t;
    }
    const ShownDialog& ultimo() const { return m_dialogs.shown().back(); }
    // Everything shown, for a failure's message.
    std::string mostrado() const { return m_dialogs.texts().join(QStringLiteral("\n---\n")).toStdString(); }

    std::unique_ptr<ServidorPreparado> m_server;
    ScriptedDialogs m_dialogs;
    TempDir m_dir;
    QString m_archivo;
};

TEST_F(Importacion, FirstImportReplacesTheCatalogueAndKeepsLoansReservationsAndReceptions) {
    const QString prestamosAntes = Catalogo::leer().prestamos;
    frmRestaurarAcervo w;
    w.show();
    // While psql runs, the window is locked: clicks and Escape queued then do nothing.
    Muestreo muestreo(w);
    muestreo.alMuestrear([&w](int n) {
        if (n < 4) {
            click(w, "cmdRegresar");
            QTest::keyClick(&w, Qt::Key_Escape);
        }
    });
    importar(w, m_archivo, {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok});
    muestreo.detener();
    EXPECT_TRUE(muestreo.siempreBloqueada());
    EXPECT_TRUE(w.isVisible());

    ASSERT_EQ(titulos(), (QStringList{QStringLiteral("Ejemplares no procesados"),
                                      QStringLiteral("Resultado de Actualizar el acervo"),
                                      QStringLiteral("Importación exitosa")}));
    EXPECT_EQ(m_dialogs.shown()[1].text, kNoProcesados);
    // Counted from fixture_acervo.sql: of the staged records 3 to 9, books 3, 4, 5 and 9, journal 6 and
    // analytic record 7 (8 is left out, its holding is not in the file; the marker has no number). Of
    // the ten staged items, R2-0001 is a journal's and C2-0002 accompanying material: eight books.
    EXPECT_EQ(m_dialogs.shown()[2].text,
              QStringLiteral("Como resultado de la operación de Actualización del acervo\r\nSe han actualizado y/o "
                             "agregado: \r\nFICHAS\r\nLibros (4). Revistas (1). Analíticas (1).\r\n\r\nEJEMPLARES\r\n"
                             "Libros (8). Revistas (1)."));
    EXPECT_EQ(m_dialogs.shown()[3].text, QStringLiteral("El proceso de importación del acervo de la biblioteca\r\nha "
                                                        "terminado satisfactoriamente.\r\n\r\nIMPORTANTE: No es "
                                                        "necesario INDIZAR."));
    EXPECT_TRUE(w.blnPrimeraActAcervo);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    EXPECT_EQ(filas(QStringLiteral("SELECT to_regclass('analisis.zrecepcionbib') IS NULL")), QStringLiteral("t"));

    // The records, items, tags and index words of library 2 as the central server has them (the analytic
    // record without its holding left out, the status MON closed), and the marker record.
    const QString fichas = QStringLiteral("SELECT idficha, ficha_no, tipoficha, idholding, titulo, autor, "
                                          "clasificacion, isbn, fechacaptura FROM analisis.fichas ");
    EXPECT_EQ(filas(fichas + QStringLiteral("WHERE ficha_no > 0 ORDER BY idficha")),
              filas(fichas + QStringLiteral("WHERE idficha IN (3, 4, 5, 6, 7, 9) ORDER BY idficha"), kCentral));
    EXPECT_EQ(filas(QStringLiteral("SELECT estatus FROM analisis.fichas WHERE idficha = 9"), kCentral),
              QStringLiteral("MON"));
    EXPECT_EQ(filas(QStringLiteral("SELECT idficha, estatus, titulo FROM analisis.fichas WHERE idficha IN (9, 13) "
                                   "ORDER BY 1")),
              QStringLiteral("9|CAP|Grabaciones de poesía\n13|CAP|---"));
    const QString ejemplares = QStringLiteral("SELECT idejemplar, idficha, ficha_no, no_adqui, idescuela, idcoleccion, "
                                              "fechaingreso, esmatcomp, analista FROM analisis.ejemplares ");
    EXPECT_EQ(filas(ejemplares + QStringLiteral("WHERE ficha_no > 0 ORDER BY idejemplar")),
              filas(ejemplares + QStringLiteral("WHERE idejemplar IN (3, 4, 6, 7, 8, 9, 10, 11, 15, 16) ORDER BY "
                                                "idejemplar"),
                    kCentral));
    const QString etiquetas = QStringLiteral(
        "SELECT idregistro, idficha, numetiqueta, contenido, idlink, tabla FROM analisis.etiquetasmarc ");
    EXPECT_EQ(filas(etiquetas + QStringLiteral("ORDER BY idregistro")),
              filas(etiquetas + QStringLiteral("WHERE idficha IN (3, 4, 5, 6, 7, 9) ORDER BY idregistro"), kCentral));
    EXPECT_EQ(filas(QStringLiteral("SELECT idficha, palabra FROM indizados.palabras ORDER BY 1, 2")),
              QStringLiteral("4|quijote\n5|soledad\n7|rulfo"));
    // Linked by the staged tags' ids alone: authority 2 comes with reference 2.
    EXPECT_EQ(filas(QStringLiteral("SELECT * FROM catalogos.autoridades ORDER BY 1; SELECT * FROM "
                                   "catalogos.referencias ORDER BY 1;")),
              QStringLiteral("1|Cervantes Saavedra, Miguel de\n2|García Márquez, Gabriel\n3|Rulfo, Juan\n"
                             "1|Literatura española\n2|Novela latinoamericana"));
    EXPECT_EQ(Catalogo::leer().bibliotecas,
              QStringLiteral("2|Biblioteca Central|Central\n1|Primaria Uno|EP1|2\n2|Secundaria Dos|ES2|2"));

    // Receptions recorded here come back over the central ones (L2-0004, L2-0011); what the library has
    // not received waits (L2-0042: accesible + 8), what it received is available (L2-0011 came at 9);
    // the thesis number is lowered (12 - 8); a distribution row takes its item's school (T2-0001).
    EXPECT_EQ(filas(QStringLiteral("SELECT e.no_adqui, e.accesible, d.idescuela, d.idrecepcionbib, "
                                   "d.fecharecepcionbib FROM analisis.ejemplares e LEFT JOIN "
                                   "analisis.ejemplaresdetallesdpi d ON d.numadqui = e.no_adqui WHERE e.ficha_no > 0 "
                                   "ORDER BY 1")),
              QStringLiteral("C2-0001|1|||\nC2-0002|1|||\nL2-0003|1|||\nL2-0004|1|1|5|2024-03-07 10:00:00\n"
                             "L2-0007|2|||\nL2-0011|1|1|6|2024-03-09 10:00:00\nL2-0042|9|2||\nR2-0001|1|||\n"
                             "T2-0001|4|1||\nl2-0042|1|||"));

    // Loaned and reserved items that the file dropped, and the item unprocessed since before, hang from
    // the new marker record, each with its own id above every imported one; the dropped item that
    // nobody holds is gone.
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adqui, idficha, idholding IS NULL FROM analisis.ejemplares WHERE "
                                   "ficha_no = -1234 ORDER BY no_adqui")),
              QStringLiteral("L2-0020|13|t\nL2-0021|13|t\nL2-0030|13|t"));
    EXPECT_EQ(filas(QStringLiteral("SELECT count(DISTINCT idejemplar), min(idejemplar) > 16 FROM analisis.ejemplares "
                                   "WHERE ficha_no = -1234")),
              QStringLiteral("3|t"));
    EXPECT_EQ(filas(QStringLiteral("SELECT count(*) FROM analisis.ejemplares WHERE no_adqui = 'L2-0022'")),
              QStringLiteral("0"));
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adqui FROM analisis.zejemplareseliminados ORDER BY 1")),
              QStringLiteral("L2-0020\nL2-0021\nL2-0022\nL2-0030"));

    // Loans and reservations untouched, each on an item that exists.
    EXPECT_EQ(Catalogo::leer().prestamos, prestamosAntes);
    EXPECT_EQ(filas(QStringLiteral(
                  "SELECT count(*) FROM (SELECT no_adqui FROM prestamo.prestamos UNION ALL SELECT no_adqui FROM "
                  "prestamo.reservaciones) p WHERE NOT EXISTS (SELECT 1 FROM analisis.ejemplares e WHERE e.no_adqui = "
                  "p.no_adqui)")),
              QStringLiteral("0"));

    // Unprocessed items: new open entries for the dropped loaned and reserved items, none repeated; the
    // entries of items the file brings closed (state 16) or relieved of their 16 (state 17).
    const QString hoy = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adq, titulo, estado, analista_capturo, biblioteca, tipo_material, "
                                   "coalesce(f_fin::text, 'abierta'), analista_fin, f_captura = current_date FROM "
                                   "catalogos.mat_especial ORDER BY no_adq, idmatespecial")),
              QStringLiteral("L2-0004|Don Quijote|1|ana|2|1|abierta||f\n"
                             "L2-0020|Libro retirado|16|veliro7|2|1|abierta||t\n"
                             "L2-0021|Libro retirado|16|veliro7|2|1|abierta||t\n"
                             "L2-0030|Libro anterior|16|veliro7|2|1|abierta||f\n"
                             "L2-0042|Cien años de soledad|16|veliro7|2|1|") +
                  hoy +
                  QStringLiteral("|actV7|f\n"
                                 "L2-0099|Ejemplar perdido|3|ana|2|1|2022-02-01|ana|f"));
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adq FROM analisis.zmat_esp")), QStringLiteral("L2-0099"));
    // One productivity row per staged record (the marker and the dropped analytic record included: 8)
    // and item (10).
    EXPECT_EQ(filas(QStringLiteral("SELECT accion, count(*) FROM analisis.productividad GROUP BY 1 ORDER BY 1")),
              QStringLiteral("AEMON|10\nAFMON|8"));

    EXPECT_TRUE(hijo<QPlainTextEdit>(w, "txtLog")
                    ->toPlainText()
                    .startsWith(QStringLiteral("El Acervo de la Biblioteca se ha actualizado correctamente.\n")));
    EXPECT_FALSE(hijo<QPushButton>(w, "cmdCargar")->isEnabled());
    EXPECT_FALSE(hijo<QPushButton>(w, "cmdActualizar")->isEnabled());
}

TEST_F(Importacion, TheSameFileIsRefusedANewerOneChangesOnlyWhatChanged) {
    frmRestaurarAcervo w;
    importar(w, m_archivo, {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    const Catalogo antes = Catalogo::leer();

    // The same file again: equal stamps are not newer.
    importar(w, m_archivo, {MsgResult::Ok});
    ASSERT_EQ(titulos(), QStringList{QStringLiteral("Actualización del acervo")});
    const QString fecha = acervo::textoFecha(QDate(2024, 3, 15)) + QStringLiteral(" 09:30 hrs. ");
    EXPECT_EQ(ultimo().text, QStringLiteral("La actualización que intenta instalar no es de fecha más reciente que la "
                                            "fecha de la última actualización instalada.\r\n\r\n           Fecha de la "
                                            "última actualización: ") +
                                 fecha + QStringLiteral("\r\nFecha de éste archivo de actualización: ") + fecha);
    EXPECT_EQ(ultimo().icon, MsgIcon::Information);
    EXPECT_FALSE(w.blnPrimeraActAcervo);
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);

    // Centrally one title changed and one item was added. This time the script comes from the shared
    // work-files folder, saved on Windows (Windows-1252, CR LF).
    ASSERT_TRUE(cluster().psql(
        QStringLiteral(
            "UPDATE analisis.fichas SET titulo = 'Novelas ejemplares (edición crítica)' WHERE idficha = 3;\n"
            "INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, "
            "idescuela, idcoleccion, fechaingreso, accesible, analista) VALUES (17, 3, 104, 'L2-0008', 2, 1, "
            "1, '2024-04-01 10:00', 1, 'luis');"),
        nullptr, kCentral));
    const QString nuevo = exportar(m_dir.path(), kSelloNuevo);
    const QString carpeta = m_dir.file(QStringLiteral("compartida/"));
    ASSERT_TRUE(QDir().mkpath(carpeta + QStringLiteral("plantillas/config")));
    QByteArray windows;
    const QString guion =
        recurso(QStringLiteral("restaura_acervo.sql")).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    for (const QChar c : guion) {
        windows.append(char(codigoWindows1252(c)));
    }
    ASSERT_TRUE(windows.contains('\xF3')); // "ó" of the comments, as one byte
    const QString plantilla = carpeta + QStringLiteral("plantillas/config/restaura_acervo.sra");
    escribir(plantilla, windows);
    sesion().HayArchivosCompartidos = true;
    sesion().RutaTrabajo = carpeta;

    importar(w, nuevo, {MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(titulos(),
              (QStringList{QStringLiteral("Resultado de Actualizar el acervo"), QStringLiteral("Importación exitosa")}))
        << mostrado();
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSelloNuevo);
    EXPECT_EQ(leer(plantilla), windows); // read, not rewritten

    Catalogo esperado = antes;
    esperado.fichas.replace(QStringLiteral("|Novelas ejemplares|"),
                            QStringLiteral("|Novelas ejemplares (edición crítica)|"));
    esperado.ejemplares.replace(QStringLiteral("7|5|105|L2-0007|2|2|2|f\n"),
                                QStringLiteral("7|5|105|L2-0007|2|2|2|f\n17|3|104|L2-0008|1|1|1|f\n"));
    ASSERT_NE(esperado.fichas, antes.fichas);
    ASSERT_NE(esperado.ejemplares, antes.ejemplares);
    const Catalogo despues = Catalogo::leer();
    esperarIgual(despues, esperado);
    // The unprocessed items got fresh ids once more, clear of the new item's (17 was one of theirs).
    EXPECT_EQ(filas(QStringLiteral("SELECT count(DISTINCT idejemplar), min(idejemplar) > 17 FROM analisis.ejemplares "
                                   "WHERE ficha_no = -1234")),
              QStringLiteral("3|t"));
}

// A file for another library, a file that is not an export, a link, a FIFO, client tools whose psql cannot
// restrict a script: each refused, the catalogue and the installed stamp as they were, no staging table left.
TEST_F(Importacion, RefusedFilesLeaveTheCatalogueAlone) {
    struct Caso {
        const char* nombre;
        QString preparar; // SQL on the library's server
        QString archivo;
        QString titulo;
        QString texto;            // part of the box's text
        bool psqlAntiguo = false; // the client tools' psql cannot restrict a script
    };
    escribir(m_dir.file(QStringLiteral("vacio.backup")), QByteArray());
    // An installation whose psql predates \restrict.
    const QString antigua = m_dir.file(QStringLiteral("pg-antiguo/"));
    ASSERT_TRUE(QDir().mkpath(antigua + QStringLiteral("bin")));
    escribir(antigua + QStringLiteral("bin/psql"), "#!/bin/sh\necho 'psql (PostgreSQL) 15.13'\n");
    ASSERT_TRUE(QFile::setPermissions(antigua + QStringLiteral("bin/psql"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString enlace = m_dir.file(QStringLiteral("enlace.backup"));
    ASSERT_TRUE(QFile::link(m_archivo, enlace));
    const QString tuberia = m_dir.file(QStringLiteral("tuberia.backup"));
    ASSERT_EQ(mkfifo(QFile::encodeName(tuberia).constData(), 0600), 0);
    const QVector<Caso> casos = {
        {"another library's file",
         QStringLiteral("UPDATE config_veliro.configuracion SET valor = '7' WHERE descripcion = 'BIBLIO_ACTIVA'"),
         m_archivo, QStringLiteral("Actualización del acervo"),
         QStringLiteral("Está intentando agregar 10 ejemplares a su base de datos,\r\nque no corresponden a su "
                        "biblioteca.")},
        {"an empty file", QString(), m_dir.file(QStringLiteral("vacio.backup")),
         QStringLiteral("Actualización del acervo"),
         QStringLiteral("vacio.backup no es un archivo de exportación del acervo.\r\nElija el archivo de exportación "
                        "que generó el departamento central")},
        {"a link to the dump", QString(), enlace, QStringLiteral("Actualización del acervo"),
         QStringLiteral("es un enlace simbólico; por seguridad no se sigue.")},
        {"a FIFO", QString(), tuberia, QStringLiteral("Actualización del acervo"), QStringLiteral("tuberia.backup")},
        {"an old psql", QString(), m_archivo, QStringLiteral("Error"),
         QStringLiteral("El psql instalado (psql (PostgreSQL) 15.13) no puede restringir las instrucciones de un "
                        "archivo ajeno; por seguridad no se ejecuta."),
         true},
    };
    const Catalogo antes = Catalogo::leer();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (!c.preparar.isEmpty()) {
            ASSERT_TRUE(cluster().psql(c.preparar));
        }
        SessionState& sesionActual = sesion();
        const auto versiones = sesionActual.VersionesInstaladas;
        const auto rutas = sesionActual.RutasInstaladas;
        if (c.psqlAntiguo) {
            sesionActual.VersionesInstaladas = {sesionActual.VersionServidor};
            sesionActual.RutasInstaladas = {antigua};
        }
        frmRestaurarAcervo w;
        QElapsedTimer reloj;
        reloj.start();
        importar(w, c.archivo, {MsgResult::Ok});
        const qint64 ms = reloj.elapsed();
        sesionActual.VersionesInstaladas = versiones;
        sesionActual.RutasInstaladas = rutas;
        EXPECT_EQ(ultimo().title, c.titulo);
        EXPECT_TRUE(ultimo().text.contains(c.texto)) << ultimo().text.toStdString();
        EXPECT_EQ(actAcervo(), QStringLiteral("0:"));
        EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
        EXPECT_FALSE(hijo<QPushButton>(w, "cmdCargar")->isEnabled());
        // The window is given back.
        EXPECT_TRUE(hijo<QPushButton>(w, "cmdRegresar")->isEnabled());
        if (c.archivo == tuberia) {
            EXPECT_LT(ms, 1000);
        }
        ASSERT_TRUE(cluster().psql(
            QStringLiteral("UPDATE config_veliro.configuracion SET valor = '2' WHERE descripcion = 'BIBLIO_ACTIVA';")));
    }
    esperarIgual(Catalogo::leer(), antes);
}

// psql would run these with the program's rights (root): a file holding any of them is refused, naming its
// line, before anything runs.
TEST_F(Importacion, AFileWithPsqlInstructionsIsRefusedBeforeAnythingRuns) {
    const QByteArray volcado = leer(m_archivo);
    ASSERT_TRUE(volcado.endsWith('\n'));
    const int linea = int(volcado.count('\n')) + 1;
    const QString marcador = m_dir.file(QStringLiteral("marcador"));
    const QString incluido = m_dir.file(QStringLiteral("incluido.sql"));
    escribir(incluido, "CREATE TABLE public.intruso ();\n");
    const QStringList instrucciones = {
        QStringLiteral("\\! touch ") + marcador,
        QStringLiteral("\\o ") + marcador,
        QStringLiteral("\\i ") + incluido,
        QStringLiteral("\\copy (SELECT 1) TO PROGRAM 'touch ") + marcador + QLatin1Char('\''),
    };
    const Catalogo antes = Catalogo::leer();
    for (const QString& instruccion : instrucciones) {
        SCOPED_TRACE(instruccion.toStdString());
        const QString archivo = m_dir.file(QStringLiteral("hostil.backup"));
        escribir(archivo, volcado + instruccion.toUtf8() + "\nSELECT 1;\n");
        frmRestaurarAcervo w;
        importar(w, archivo, {MsgResult::Ok});
        ASSERT_EQ(titulos(), QStringList{QStringLiteral("Actualización del acervo")}) << mostrado();
        EXPECT_EQ(ultimo().text,
                  QStringLiteral("El archivo contiene una instrucción de psql no permitida en la línea ") +
                      QString::number(linea) + QStringLiteral(" (") + instruccion.left(60) +
                      QStringLiteral("); por seguridad no se ejecutó nada."));
        EXPECT_FALSE(QFileInfo::exists(marcador));
        EXPECT_EQ(
            filas(QStringLiteral("SELECT (to_regclass('public.intruso') IS NULL) || '|' || count(*) FROM pg_tables "
                                 "WHERE tablename LIKE 'zexporta\\_%'")),
            QStringLiteral("true|0"));
    }
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("0:"));
}

// The export's own .zip imports as its dump does, from a path typed into the box.
TEST_F(Importacion, TheExportsOwnZipImportsFromATypedPath) {
    const QString zip = acervo::archivoEmpacado(m_archivo);
    ASSERT_EQ(entradas(zip), QStringList{QFileInfo(m_archivo).fileName()});
    frmRestaurarAcervo w;
    w.show();
    auto* cargar = hijo<QPushButton>(w, "cmdCargar");
    auto* ruta = hijo<QLineEdit>(w, "txtRuta");
    QTest::keyClicks(ruta, QStringLiteral("  "));
    EXPECT_FALSE(cargar->isEnabled());
    ruta->clear();
    QTest::keyClicks(ruta, zip);
    ASSERT_TRUE(cargar->isEnabled());
    m_dialogs.clear();
    m_dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok).answer(MsgResult::Ok);
    click(w, "cmdCargar");
    ASSERT_EQ(titulos(),
              (QStringList{QStringLiteral("Ejemplares no procesados"),
                           QStringLiteral("Resultado de Actualizar el acervo"), QStringLiteral("Importación exitosa")}))
        << mostrado();
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    EXPECT_EQ(filas(QStringLiteral("SELECT string_agg(idficha::text, ',' ORDER BY idficha) FROM analisis.fichas WHERE "
                                   "ficha_no > 0")),
              QStringLiteral("3,4,5,6,7,9"));
    EXPECT_EQ(hijo<QLabel>(w, "lblRuta")->text(), QFileInfo(zip).path() + QLatin1Char('/'));
    ruta->selectAll();
    QTest::keyClick(ruta, Qt::Key_Delete);
    EXPECT_FALSE(cargar->isEnabled());
}

// A merge script that a staff login changed in reportes.plantillas (every staff group may), or one that is
// gone, is told in the log and in a box; the program's own script is the one that runs.
TEST_F(Importacion, AMergeScriptChangedByStaffIsToldAndNotRun) {
    ASSERT_TRUE(cluster().psql(QStringLiteral(
        "GRANT USAGE ON SCHEMA reportes TO v7_super, v7_admin, v7_usuario1, v7_usuario2;\n"
        "GRANT SELECT, UPDATE, INSERT, DELETE ON TABLE reportes.plantillas TO v7_admin, v7_usuario1, v7_usuario2;")));
    const QString marcador = m_dir.file(QStringLiteral("marcador"));
    // As the staff login of group v7_usuario1 does it, with its own password.
    QProcess staff;
    staff.setProcessEnvironment([] {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("PGPASSWORD"), kOperador.clave);
        return e;
    }());
    staff.start(cluster().binFolder() + QStringLiteral("/psql"),
                {QStringLiteral("-X"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"),
                 cluster().host(), QStringLiteral("-p"), QString::number(cluster().port()), QStringLiteral("-U"),
                 kOperador.usuario, QStringLiteral("-d"), QStringLiteral("veliro7"), QStringLiteral("-c"),
                 QStringLiteral("UPDATE reportes.plantillas SET plantilla = 'CREATE TABLE public.intruso ();' || "
                                "chr(10) || '\\! touch %1' || chr(10) || plantilla WHERE nombre = 'RESTAURA_ACERVO'")
                     .arg(marcador)});
    ASSERT_TRUE(staff.waitForFinished(30000));
    ASSERT_EQ(staff.exitCode(), 0) << staff.readAllStandardError().toStdString();
    const QString alterado = filas(QStringLiteral("SELECT md5(plantilla) FROM reportes.plantillas"));

    frmRestaurarAcervo w;
    importar(w, m_archivo, {MsgResult::Yes, MsgResult::Ok, MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(titulos(),
              (QStringList{QStringLiteral("Ejemplares no procesados"), QStringLiteral("Actualización del acervo"),
                           QStringLiteral("Resultado de Actualizar el acervo"), QStringLiteral("Importación exitosa")}))
        << mostrado();
    const ShownDialog& aviso = m_dialogs.shown()[2];
    EXPECT_EQ(aviso.icon, MsgIcon::Warning);
    EXPECT_EQ(aviso.text, QStringLiteral("El script de actualización del acervo guardado en reportes.plantillas "
                                         "(RESTAURA_ACERVO) no es el del programa: fue modificado y por seguridad no "
                                         "se ejecuta.\r\nSe ejecuta el script de actualización propio del programa."));
    EXPECT_TRUE(hijo<QPlainTextEdit>(w, "txtLog")
                    ->toPlainText()
                    .contains(QStringLiteral(" - El script de actualización del acervo guardado en reportes.plantillas "
                                             "(RESTAURA_ACERVO) no es el del programa")));
    EXPECT_FALSE(QFileInfo::exists(marcador));
    EXPECT_EQ(filas(QStringLiteral("SELECT to_regclass('public.intruso') IS NULL")), QStringLiteral("t"));
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    // The stored row is the installation's business: left as it is.
    EXPECT_EQ(filas(QStringLiteral("SELECT md5(plantilla) FROM reportes.plantillas")), alterado);

    // The row gone: said, and the next file still installs.
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM reportes.plantillas;")));
    const QString nuevo = exportar(m_dir.path(), kSelloNuevo);
    importar(w, nuevo, {MsgResult::Ok, MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(titulos(),
              (QStringList{QStringLiteral("Actualización del acervo"),
                           QStringLiteral("Resultado de Actualizar el acervo"), QStringLiteral("Importación exitosa")}))
        << mostrado();
    EXPECT_EQ(m_dialogs.shown()[1].text,
              QStringLiteral("No se encontró el script de actualización del acervo (RESTAURA_ACERVO) en "
                             "reportes.plantillas.\r\nSe ejecuta el script de actualización propio del programa."));
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSelloNuevo);
}

// The first line of every failure is a Spanish sentence; psql's and the server's own words come after it.
TEST_F(Importacion, FailuresReadInSpanishFirst) {
    escribir(m_dir.file(QStringLiteral("notas.backup")), "SELECT 'no es una exportación';\n");
    struct Caso {
        const char* nombre;
        QString archivo;
        bool detenerServidor;
        QString primeraLinea;
        QString despues; // further down the text, after "Detalle: "
    };
    const Caso casos[] = {
        {"not an export", m_dir.file(QStringLiteral("notas.backup")), false,
         QStringLiteral("El archivo ") + m_dir.file(QStringLiteral("notas.backup")) +
             QStringLiteral(" no es un archivo de exportación del acervo."),
         QString()},
        {"a missing file", m_dir.file(QStringLiteral("no-existe.backup")), false,
         QStringLiteral("No se encontró el archivo ") + m_dir.file(QStringLiteral("no-existe.backup")) +
             QLatin1Char('.'),
         QString()},
        {"the server stopped", m_archivo, true, QStringLiteral("Error al cargar archivo de exportación 'backup'"),
         QStringLiteral("psql: error:")},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (c.detenerServidor) {
            ASSERT_TRUE(cluster().stop());
        }
        frmRestaurarAcervo w;
        importar(w, c.archivo, {MsgResult::Ok});
        if (c.detenerServidor) {
            ASSERT_TRUE(cluster().start());
        }
        const QString texto = ultimo().text;
        EXPECT_EQ(texto.section(QStringLiteral("\r\n"), 0, 0), c.primeraLinea) << texto.toStdString();
        if (!c.despues.isEmpty()) {
            EXPECT_TRUE(texto.contains(QStringLiteral("\r\npsql no se pudo conectar con el servidor")))
                << texto.toStdString();
            EXPECT_GT(texto.indexOf(c.despues), texto.indexOf(QStringLiteral("\r\nDetalle: "))) << texto.toStdString();
            EXPECT_GT(texto.indexOf(QStringLiteral("\r\nDetalle: ")), 0) << texto.toStdString();
        }
    }
}

// Enter on the real question box of the merge answers No: a first update stops, nothing is merged.
TEST_F(Importacion, TheMergeQuestionAnswersNoToEnter) {
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.colecciones WHERE idcoleccion = 3;")));
    const Catalogo antes = Catalogo::leer();
    frmRestaurarAcervo w;
    w.show();
    QTest::keyClicks(hijo<QLineEdit>(w, "txtRuta"), m_archivo);
    QStringList vistas;
    QTimer enter;
    QObject::connect(&enter, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
            vistas << box->windowTitle() + QLatin1Char('|') +
                          (box->defaultButton() != nullptr ? box->defaultButton()->text() : QString());
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    enter.start(20);
    setDialogs(nullptr); // the real Qt boxes
    click(w, "cmdCargar");
    setDialogs(&m_dialogs);
    enter.stop();
    ASSERT_EQ(vistas.size(), 1) << vistas.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(vistas[0].startsWith(QStringLiteral("Desea continuar con el proceso?|"))) << vistas[0].toStdString();
    EXPECT_EQ(actAcervo(), QStringLiteral("1:2"));
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    esperarIgual(Catalogo::leer(), antes);
}

// A merge that fails inside its transaction shows psql's error and changes nothing: no stamp, the
// catalogue intact, no staging table left; once the cause is gone the same file installs.
TEST_F(Importacion, AFailedMergeIsReportedAndTheSameFileInstallsLater) {
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("ALTER TABLE analisis.fichas ADD CONSTRAINT titulo_breve CHECK (length(titulo) < 25);")));
    const Catalogo antes = Catalogo::leer();
    frmRestaurarAcervo w;
    importar(w, m_archivo, {MsgResult::No, MsgResult::Ok});
    ASSERT_EQ(titulos(), (QStringList{QStringLiteral("Ejemplares no procesados"), QStringLiteral("Error")}));
    EXPECT_EQ(ultimo().icon, MsgIcon::Critical);
    EXPECT_TRUE(ultimo().text.startsWith(QStringLiteral("Error al actualizar registros del acervo de biblioteca")));
    EXPECT_TRUE(ultimo().text.contains(QStringLiteral("titulo_breve"))) << ultimo().text.toStdString();
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("0:"));
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    EXPECT_EQ(filas(QStringLiteral("SELECT to_regclass('prestamo.zprestamos') IS NULL")), QStringLiteral("t"));

    ASSERT_TRUE(cluster().psql(QStringLiteral("ALTER TABLE analisis.fichas DROP CONSTRAINT titulo_breve;")));
    importar(w, m_archivo, {MsgResult::No, MsgResult::Ok, MsgResult::Ok});
    EXPECT_EQ(titulos().last(), QStringLiteral("Importación exitosa"));
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
}

// A statement after the commit that fails: the update is installed, so it is recorded and reported as
// done, with psql's error shown first.
TEST_F(Importacion, AFailureAfterTheCommitStillRecordsTheInstalledUpdate) {
    // The thesis item arrives at 8: lowering it after the commit breaks this server's rule.
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("UPDATE analisis.ejemplares SET accesible = 8 WHERE no_adqui = 'T2-0001';"), nullptr, kCentral));
    m_archivo = exportar(m_dir.path(), kSello);
    ASSERT_TRUE(cluster().psql(
        QStringLiteral("ALTER TABLE analisis.ejemplares ADD CONSTRAINT accesible_positivo CHECK (accesible > 0);")));
    frmRestaurarAcervo w;
    importar(w, m_archivo, {MsgResult::No, MsgResult::Ok, MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(titulos(),
              (QStringList{QStringLiteral("Ejemplares no procesados"), QStringLiteral("Actualización del acervo"),
                           QStringLiteral("Resultado de Actualizar el acervo"), QStringLiteral("Importación exitosa")}))
        << mostrado();
    EXPECT_EQ(m_dialogs.shown()[2].icon, MsgIcon::Warning);
    EXPECT_TRUE(m_dialogs.shown()[2].text.contains(QStringLiteral("accesible_positivo")));
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    EXPECT_EQ(filas(QStringLiteral("SELECT accesible FROM analisis.ejemplares WHERE no_adqui = 'T2-0001'")),
              QStringLiteral("8"));
}

// Items in collections this server lacks: stopping a first update leaves the stamp at "2", so the same
// file is taken again once the collection exists.
TEST_F(Importacion, MissingCollectionsStopAFirstUpdateUntilAnswered) {
    ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM catalogos.colecciones WHERE idcoleccion = 3;")));
    const Catalogo antes = Catalogo::leer();
    frmRestaurarAcervo w;
    importar(w, m_archivo, {MsgResult::No});
    ASSERT_EQ(titulos(), QStringList{QStringLiteral("Desea continuar con el proceso?")});
    EXPECT_EQ(ultimo().icon, MsgIcon::Question);
    EXPECT_EQ(ultimo().buttons, MsgButtons::YesNo);
    EXPECT_EQ(ultimo().porDefecto, MsgResult::No);
    EXPECT_TRUE(ultimo().text.endsWith(
        QStringLiteral("agregue las colecciones faltantes.\r\n\r\nCOLECCION: 3\r\nEJEMPLARES: [T2-0001]\r\n\r\n")));
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:2"));
    EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));

    importar(w, m_archivo, {MsgResult::Yes, MsgResult::No, MsgResult::Ok, MsgResult::Ok});
    EXPECT_EQ(titulos().last(), QStringLiteral("Importación exitosa"));
    EXPECT_FALSE(w.blnPrimeraActAcervo);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    EXPECT_EQ(filas(QStringLiteral("SELECT idcoleccion FROM analisis.ejemplares WHERE no_adqui = 'T2-0001'")),
              QStringLiteral("3"));
}

// A zip archive holding the given members, in memory.
QByteArray zipCon(const QVector<std::pair<QString, QByteArray>>& miembros) {
    TempDir dir;
    const QString ruta = dir.file(QStringLiteral("a.zip"));
    int e = 0;
    zip_t* z = zip_open(QFile::encodeName(ruta).constData(), ZIP_CREATE | ZIP_TRUNCATE, &e);
    EXPECT_NE(z, nullptr);
    std::vector<QByteArray> datos; // alive until the archive is written
    datos.reserve(size_t(miembros.size()));
    for (const auto& [nombre, contenido] : miembros) {
        datos.push_back(contenido);
        zip_source_t* src = zip_source_buffer(z, datos.back().constData(), zip_uint64_t(datos.back().size()), 0);
        EXPECT_GE(zip_file_add(z, nombre.toUtf8().constData(), src, ZIP_FL_OVERWRITE), 0);
    }
    EXPECT_EQ(zip_close(z), 0);
    return leer(ruta);
}

TEST(LecturaImportacion, TheDumpIsTakenFromTheExportsZipAlone) {
    const QByteArray volcado = "SET client_encoding = 'UTF8';\nCREATE TABLE analisis.zexporta_aactualizacion (\n"
                               "    version character varying(13)\n);\n";
    struct Caso {
        const char* nombre;
        QByteArray zip;
        qint64 limite;
        QString motivo; // part of the refusal; empty: the dump comes out
    };
    const Caso casos[] = {
        {"the export's zip", zipCon({{QStringLiteral("respB02_20240315_0930.backup"), volcado}}),
         acervo::kLimiteArchivoImportacion, QString()},
        {"two dumps", zipCon({{QStringLiteral("a.backup"), volcado}, {QStringLiteral("b.BACKUP"), volcado}}),
         acervo::kLimiteArchivoImportacion, QStringLiteral("debe contener un solo archivo .backup")},
        {"no dump", zipCon({{QStringLiteral("leeme.txt"), volcado}}), acervo::kLimiteArchivoImportacion,
         QStringLiteral("debe contener un solo archivo .backup")},
        {"a dump beyond the limit", zipCon({{QStringLiteral("a.backup"), QByteArray(5000, 'x')}}), 1000,
         QStringLiteral("es demasiado grande para importarlo")},
        {"not a zip at all", QByteArray("PK\x03\x04 y nada más"), acervo::kLimiteArchivoImportacion,
         QStringLiteral("no se puede leer como .zip")},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const acervo::ArchivoImportacion a = acervo::dumpDelZip(c.zip, QStringLiteral("/srv/x.zip"), c.limite);
        if (c.motivo.isEmpty()) {
            EXPECT_TRUE(a.ok()) << a.motivo.toStdString();
            EXPECT_EQ(a.datos, volcado);
            EXPECT_TRUE(acervo::esExportacion(a.datos));
        } else {
            EXPECT_TRUE(a.motivo.contains(c.motivo)) << a.motivo.toStdString();
            EXPECT_TRUE(a.datos.isEmpty());
        }
    }
    // The same through the file chosen.
    TempDir dir;
    const QString zip = dir.file(QStringLiteral("respB02.zip"));
    escribir(zip, casos[0].zip);
    EXPECT_EQ(acervo::leerArchivoImportacion(zip).datos, volcado);

    // A dump of older tools names the table without its schema.
    EXPECT_TRUE(
        acervo::esExportacion("SET search_path = analisis, pg_catalog;\nCREATE TABLE zexporta_aactualizacion (\n"));
    EXPECT_FALSE(acervo::esExportacion("SELECT 'CREATE TABLE zexporta_aactualizacion';\n"));
    EXPECT_FALSE(acervo::esExportacion(QByteArray()));
}

TEST(TextosImportacion, UnprocessedItemsListAndStatements) {
    using acervo::NoProcesado;
    const QString pregunta = QStringLiteral(
        " del catálogo de ejemplares no procesados, está(n) incluído(s) en la actualización.\r\n\r\nDesea "
        "eliminarlo(s) automáticamente del catálogo de ejemplares no procesados?");
    EXPECT_EQ(acervo::mensajeNoProcesados({{QStringLiteral("A-1"), QStringLiteral("16")}}),
              QStringLiteral("Se detectó que 1 ejemplar(es) (A-1)") + pregunta);
    // Longer than 40 characters: cut to 40 and closed with "...)".
    EXPECT_EQ(acervo::mensajeNoProcesados({{QStringLiteral("L2-0001"), QString()},
                                           {QStringLiteral("L2-0002"), QString()},
                                           {QStringLiteral("L2-0003"), QString()},
                                           {QStringLiteral("L2-0004"), QString()},
                                           {QStringLiteral("L2-0005"), QString()}}),
              QStringLiteral("Se detectó que 5 ejemplar(es) (L2-0001, L2-0002, L2-0003, L2-0004, L2-...)") + pregunta);
    // Item numbers come from the loaded file: literals, never SQL.
    EXPECT_EQ(acervo::sentenciaQuitarNoProcesado({QStringLiteral("X'; DROP TABLE t; --"), QStringLiteral("16")}),
              QStringLiteral("UPDATE catalogos.mat_especial SET f_fin = current_date, analista_fin = 'actV7' WHERE "
                             "no_adq='X''; DROP TABLE t; --' AND f_fin ISNULL"));
    EXPECT_EQ(acervo::sentenciaQuitarNoProcesado({QStringLiteral("A-1"), QStringLiteral("17")}),
              QStringLiteral("UPDATE catalogos.mat_especial SET estado = (estado::integer - 16)::character varying "
                             "WHERE no_adq='A-1' AND f_fin ISNULL"));
}

TEST(TextosImportacion, TemplatesSavedOnWindowsAreRead) {
    EXPECT_EQ(acervo::decodificarPlantilla(QByteArray("-- acci\xF3n \x93x\x94\r\nSELECT 1;")),
              QStringLiteral("-- acción \u201Cx\u201D\r\nSELECT 1;"));
    EXPECT_EQ(acervo::decodificarPlantilla(QByteArray("\xEF\xBB\xBF-- acci\xC3\xB3n")), QStringLiteral("-- acción"));
    EXPECT_FALSE(acervo::leerSello(QStringLiteral("2024031_0930")).has_value());
    EXPECT_EQ(acervo::leerSello(QStringLiteral("20180907_1530")), QDateTime(QDate(2018, 9, 7), QTime(15, 30)));
}

} // namespace
