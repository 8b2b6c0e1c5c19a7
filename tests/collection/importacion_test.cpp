// The collection import on a library's server, end to end through its window: a central database of
// the test cluster exports library 2, the library's database imports the file, and what it holds
// afterwards is read back. Also the files it refuses and the merge that fails, each leaving the
// catalogue as it was.
#include "collection/frmRestaurarAcervo.h"
#include "collection/importacion.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "platform/archiver.h"
#include "platform/process.h"
#include "resources/recursos.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

// Failures show texts, not UTF-16 units.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace v7;
using namespace v7::test;

namespace {

const QString kCentral = QStringLiteral("central_acervo");
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

// The central database: the two schema files and its catalogue.
void crearCentral() {
    ASSERT_TRUE(cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS ") + kCentral +
                                   QStringLiteral(" WITH (FORCE);\nCREATE DATABASE ") + kCentral + QLatin1Char(';'),
                               nullptr, QStringLiteral("postgres")));
    ASSERT_TRUE(cluster().psql(leerTexto(baseSchemaPath()) + QLatin1Char('\n') + leerTexto(librarySchemaPath()) +
                                   QLatin1Char('\n') + fixture("importacion_central.sql"),
                               nullptr, kCentral));
}

// Library `biblioteca`'s export file, made on the central database as the export makes it: the
// staging tables built for the whole time window, then dumped as plain SQL. The only step that
// produces a file: it switches to the export routine once that exists.
void producirVolcado(const QString& archivo, const QString& sello, int biblioteca = 2) {
    const QString b = QString::number(biblioteca);
    const QString desde = QStringLiteral("'1900/01/01 00:00:01'::timestamp");
    const QString hasta = QStringLiteral("'2100/12/31 23:59:59'::timestamp");
    const QString sql =
        QStringLiteral(
            "ALTER TABLE analisis.etiquetasmarc ADD COLUMN IF NOT EXISTS idlink integer DEFAULT NULL;\n"
            "ALTER TABLE analisis.etiquetasmarc ADD COLUMN IF NOT EXISTS tabla character(2) DEFAULT NULL;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_aactualizacion;\n"
            "CREATE TABLE analisis.zexporta_aactualizacion (version varchar(13));\n"
            "INSERT INTO analisis.zexporta_aactualizacion (version) VALUES ('%SELLO');\n"
            "DROP TABLE IF EXISTS analisis.zexporta_aafichas;\n"
            "CREATE TABLE analisis.zexporta_aafichas AS SELECT DISTINCT f.* FROM analisis.fichas f INNER JOIN "
            "analisis.ejemplares e ON f.idficha = e.idficha WHERE ((f.estatus <> 'NEW' AND f.estatus <> 'PEN') OR "
            "f.estatus IS NULL) AND ((e.fechaingreso BETWEEN %DESDE AND %HASTA) OR (f.fechacaptura BETWEEN %DESDE "
            "AND %HASTA)) AND e.idbiblioteca = %B;\n"
            "INSERT INTO analisis.zexporta_aafichas SELECT f.* FROM analisis.fichas f WHERE f.tipoficha = 'A' AND "
            "f.idbiblioteca = %B AND f.idficha NOT IN (SELECT idficha FROM analisis.zexporta_aafichas);\n"
            "INSERT INTO analisis.zexporta_aafichas (idficha, ficha_no, idbiblioteca, idtipomaterial, tipoficha, "
            "estatus, titulo, autor, clasificacion, editorial, registroactivo) SELECT GREATEST((SELECT max(idficha) "
            "FROM analisis.zexporta_aafichas), (SELECT max(idficha) FROM analisis.fichas)) + 1, -1234, %B, 1, 'L', "
            "'CAP', '---', '---', '---', '---', TRUE;\n"
            "UPDATE analisis.zexporta_aafichas SET idbiblioteca = %B;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_bejemplares;\n"
            "CREATE TABLE analisis.zexporta_bejemplares AS SELECT e.* FROM analisis.ejemplares e INNER JOIN "
            "analisis.fichas f ON f.idficha = e.idficha WHERE e.accesible < 16 AND e.fechaingreso BETWEEN %DESDE AND "
            "%HASTA AND ((f.estatus <> 'NEW' AND f.estatus <> 'PEN') OR f.estatus IS NULL) AND e.idbiblioteca = %B "
            "ORDER BY e.idficha;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_bejemplaresdpi;\n"
            "CREATE TABLE analisis.zexporta_bejemplaresdpi AS SELECT e.* FROM analisis.ejemplaresdetallesdpi e INNER "
            "JOIN analisis.zexporta_bejemplares ex ON e.numadqui = ex.no_adqui AND e.idbiblioteca = %B ORDER BY "
            "e.idficha;\n"
            "UPDATE analisis.etiquetasmarc m SET tabla = analisis.gettableautoridad(m.contenido), idlink = "
            "analisis.getidautoridad(m.contenido)::integer FROM analisis.etiquetasmarc a INNER JOIN analisis.fichas f "
            "ON f.idficha = a.idficha WHERE m.idregistro = a.idregistro AND f.idbiblioteca = %B AND m.idlink IS NULL "
            "AND (m.numetiqueta < 100 OR (m.numetiqueta > 260 AND m.numetiqueta < 400) OR (m.numetiqueta > 499 AND "
            "m.numetiqueta < 600));\n"
            "DROP TABLE IF EXISTS analisis.zexporta_betiquetasmarc;\n"
            "CREATE TABLE analisis.zexporta_betiquetasmarc AS SELECT e.* FROM analisis.etiquetasmarc e INNER JOIN "
            "analisis.zexporta_aafichas f ON f.idficha = e.idficha ORDER BY e.idficha;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_bindizado;\n"
            "CREATE TABLE analisis.zexporta_bindizado AS SELECT ind.* FROM indizados.palabras ind INNER JOIN "
            "analisis.zexporta_aafichas f ON f.idficha = ind.idficha ORDER BY ind.idficha;\n"
            "UPDATE analisis.zexporta_bindizado SET idbiblioteca = %B;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_cenviosdpi;\n"
            "CREATE TABLE analisis.zexporta_cenviosdpi AS SELECT DISTINCT env.* FROM analisis.enviosdpi env INNER "
            "JOIN analisis.zexporta_bejemplaresdpi z ON env.idenviodpi = z.idenviodpi;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_crecepcionesdpi;\n"
            "CREATE TABLE analisis.zexporta_crecepcionesdpi AS SELECT DISTINCT rec.* FROM analisis.recepcionesdpi rec "
            "INNER JOIN analisis.zexporta_bejemplaresdpi z ON rec.idrecepciondpi = z.idrecepciondpi;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_dautoridades;\n"
            "CREATE TABLE analisis.zexporta_dautoridades AS SELECT DISTINCT a.* FROM catalogos.autoridades a INNER "
            "JOIN analisis.zexporta_betiquetasmarc m ON m.idlink = a.idautoridad ORDER BY a.idautoridad;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_dreferencias;\n"
            "CREATE TABLE analisis.zexporta_dreferencias AS SELECT DISTINCT a.* FROM catalogos.referencias a INNER "
            "JOIN analisis.zexporta_betiquetasmarc m ON m.idlink = a.idreferencia ORDER BY a.idreferencia;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_aaholdings;\n"
            "CREATE TABLE analisis.zexporta_aaholdings AS SELECT h.* FROM analisis.holdings h INNER JOIN "
            "analisis.zexporta_aafichas f ON f.idficha = h.idficha ORDER BY f.idficha;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_aescuelas;\n"
            "CREATE TABLE analisis.zexporta_aescuelas AS SELECT DISTINCT es.* FROM catalogos.escuelas es INNER JOIN "
            "analisis.zexporta_bejemplares e ON e.idescuela = es.idescuela;\n"
            "DROP TABLE IF EXISTS analisis.zexporta_abibliotecas;\n"
            "CREATE TABLE analisis.zexporta_abibliotecas AS SELECT DISTINCT b.* FROM catalogos.bibliotecas b INNER "
            "JOIN (SELECT DISTINCT idbiblioteca FROM analisis.zexporta_aescuelas UNION SELECT DISTINCT idbiblioteca "
            "FROM analisis.zexporta_bejemplares) AS xbib ON b.idbiblioteca = xbib.idbiblioteca;\n")
            .replace(QStringLiteral("%SELLO"), sello)
            .replace(QStringLiteral("%DESDE"), desde)
            .replace(QStringLiteral("%HASTA"), hasta)
            .replace(QStringLiteral("%B"), b);
    ASSERT_TRUE(cluster().psql(sql, nullptr, kCentral));

    process::Command c;
    c.program = cluster().binFolder() + QStringLiteral("/pg_dump");
    c.arguments = {QStringLiteral("-O"),
                   QStringLiteral("-h"),
                   cluster().host(),
                   QStringLiteral("-p"),
                   QString::number(cluster().port()),
                   QStringLiteral("-U"),
                   cluster().superuser(),
                   QStringLiteral("-Fp"),
                   QStringLiteral("--strict-names"),
                   QStringLiteral("-f"),
                   archivo};
    for (const QString& t : acervo::kTablasExportacion) {
        c.arguments << QStringLiteral("-t")
                    << QStringLiteral("\"analisis\".\"") + t.section(QLatin1Char('.'), 1) + QLatin1Char('"');
    }
    c.arguments << kCentral;
    c.environment = {{QStringLiteral("PGPASSWORD"), cluster().password()}};
    c.err = process::Sink::Capture;
    const process::Result r = process::run(c);
    ASSERT_TRUE(r.ok()) << r.errorOutput.toStdString();
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
    "Se detectó que 2 ejemplar(es) (L2-0002, L2-0005) del catálogo de ejemplares no procesados, está(n) incluído(s) en "
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
        m_archivo = m_dir.file(QStringLiteral("respB02_") + kSello + QStringLiteral(".backup"));
        producirVolcado(m_archivo, kSello);
    }
    void TearDown() override {
        cluster().psql(QStringLiteral("DROP DATABASE IF EXISTS ") + kCentral + QStringLiteral(" WITH (FORCE);"),
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
    EXPECT_EQ(m_dialogs.shown()[2].text,
              QStringLiteral("Como resultado de la operación de Actualización del acervo\r\nSe han actualizado y/o "
                             "agregado: \r\nFICHAS\r\nLibros (3). Revistas (1). Analíticas (1).\r\n\r\nEJEMPLARES\r\n"
                             "Libros (5). Revistas (1)."));
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
              filas(fichas + QStringLiteral("WHERE idficha IN (1, 2, 3, 5, 6) ORDER BY idficha"), kCentral));
    EXPECT_EQ(filas(QStringLiteral("SELECT idficha, estatus, titulo FROM analisis.fichas WHERE idficha IN (6, 9) "
                                   "ORDER BY 1")),
              QStringLiteral("6|CAP|Tesis de licenciatura en letras\n9|CAP|---"));
    const QString ejemplares = QStringLiteral("SELECT idejemplar, idficha, ficha_no, no_adqui, idescuela, idcoleccion, "
                                              "fechaingreso, esmatcomp, analista FROM analisis.ejemplares ");
    EXPECT_EQ(filas(ejemplares + QStringLiteral("WHERE ficha_no > 0 ORDER BY idejemplar")),
              filas(ejemplares + QStringLiteral("WHERE idejemplar BETWEEN 31 AND 37 ORDER BY idejemplar"), kCentral));
    const QString etiquetas = QStringLiteral(
        "SELECT idregistro, idficha, numetiqueta, contenido, idlink, tabla FROM analisis.etiquetasmarc ");
    EXPECT_EQ(filas(etiquetas + QStringLiteral("ORDER BY idregistro")),
              filas(etiquetas + QStringLiteral("WHERE idficha IN (1, 2, 3, 5, 6) ORDER BY idregistro"), kCentral));
    EXPECT_EQ(filas(QStringLiteral("SELECT idficha, palabra FROM indizados.palabras ORDER BY 1")),
              QStringLiteral("1|quijote\n5|paramo"));
    EXPECT_EQ(
        filas(QStringLiteral("SELECT * FROM catalogos.autoridades ORDER BY 1; SELECT * FROM "
                             "catalogos.referencias ORDER BY 1;")),
        QStringLiteral("1|Cervantes Saavedra, Miguel de\n2|Rulfo, Juan\n1|Literatura española\n4|Novela mexicana"));
    EXPECT_EQ(Catalogo::leer().bibliotecas,
              QStringLiteral("2|Biblioteca Central Universitaria|BCU\n1|Facultad de Letras|FL|2\n"
                             "2|Facultad de Ciencias|FC|2"));

    // Receptions recorded here come back; what the library has not received waits (accesible + 8),
    // what it received is available; the thesis number is lowered.
    EXPECT_EQ(filas(QStringLiteral("SELECT e.no_adqui, e.accesible, d.idescuela, d.idrecepcionbib, "
                                   "d.fecharecepcionbib FROM analisis.ejemplares e LEFT JOIN "
                                   "analisis.ejemplaresdetallesdpi d ON d.numadqui = e.no_adqui WHERE e.ficha_no > 0 "
                                   "ORDER BY 1")),
              QStringLiteral("L2-0001|1|1|5|2023-05-20 10:00:00\nL2-0002|9|1||\nL2-0003|1|1|6|2023-05-21 10:00:00\n"
                             "L2-0005|9|2||\nL2-0006|1|||\nR2-0001|1|||\nT2-0001|4|||"));

    // Loaned and reserved items that the file dropped, and the item unprocessed since before, hang from
    // the new marker record, each with its own id above every imported one; the dropped item that
    // nobody holds is gone.
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adqui, idficha, idholding IS NULL FROM analisis.ejemplares WHERE "
                                   "ficha_no = -1234 ORDER BY no_adqui")),
              QStringLiteral("L2-0020|9|t\nL2-0021|9|t\nL2-0030|9|t"));
    EXPECT_EQ(filas(QStringLiteral("SELECT count(DISTINCT idejemplar), min(idejemplar) > 37 FROM analisis.ejemplares "
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
              QStringLiteral("L2-0002|Don Quijote|1|ana|2|1|abierta||f\n"
                             "L2-0005|Pedro Páramo|16|veliro7|2|1|") +
                  hoy +
                  QStringLiteral("|actV7|f\n"
                                 "L2-0020|Libro retirado|16|veliro7|2|1|abierta||t\n"
                                 "L2-0021|Libro retirado|16|veliro7|2|1|abierta||t\n"
                                 "L2-0030|Libro anterior|16|veliro7|2|1|abierta||f\n"
                                 "L2-0099|Ejemplar perdido|3|ana|2|1|2022-02-01|ana|f"));
    EXPECT_EQ(filas(QStringLiteral("SELECT no_adq FROM analisis.zmat_esp")), QStringLiteral("L2-0099"));
    // One productivity row per staged record (the marker and the dropped analytic record included) and item.
    EXPECT_EQ(filas(QStringLiteral("SELECT accion, count(*) FROM analisis.productividad GROUP BY 1 ORDER BY 1")),
              QStringLiteral("AEMON|7\nAFMON|7"));

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
            "UPDATE analisis.fichas SET titulo = 'Pedro Páramo (edición crítica)' WHERE idficha = 5;\n"
            "INSERT INTO analisis.ejemplares (idejemplar, idficha, ficha_no, no_adqui, idbiblioteca, "
            "idescuela, idcoleccion, fechaingreso, accesible, analista) VALUES (40, 5, 105, 'L2-0007', 2, 2, "
            "1, '2024-04-01 10:00', 1, 'luis');"),
        nullptr, kCentral));
    const QString nuevo = m_dir.file(QStringLiteral("respB02_") + kSelloNuevo + QStringLiteral(".backup"));
    producirVolcado(nuevo, kSelloNuevo);
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
    esperado.fichas.replace(QStringLiteral("|Pedro Páramo|"), QStringLiteral("|Pedro Páramo (edición crítica)|"));
    esperado.ejemplares.replace(QStringLiteral("36|5|105|L2-0006|2|1|1|t\n"),
                                QStringLiteral("36|5|105|L2-0006|2|1|1|t\n40|5|105|L2-0007|2|1|1|f\n"));
    const Catalogo despues = Catalogo::leer();
    esperarIgual(despues, esperado);
    // The unprocessed items got fresh ids once more, clear of the new item's.
    EXPECT_EQ(filas(QStringLiteral("SELECT count(DISTINCT idejemplar), min(idejemplar) > 40 FROM analisis.ejemplares "
                                   "WHERE ficha_no = -1234")),
              QStringLiteral("3|t"));
}

// A file for another library, a file that is not a dump, a template that is missing: each refused, the
// catalogue and the installed stamp as they were.
TEST_F(Importacion, RefusedFilesLeaveTheCatalogueAlone) {
    ASSERT_EQ(archiver::empacarArchivo(m_archivo, m_dir.file(QStringLiteral("respB02.zip"))), 0);
    struct Caso {
        const char* nombre;
        QString preparar; // SQL on the library's server
        QString archivo;
        QString titulo;
        QString texto; // part of the box's text
    };
    escribir(m_dir.file(QStringLiteral("vacio.backup")), QByteArray());
    const QVector<Caso> casos = {
        {"another library's file",
         QStringLiteral("UPDATE config_veliro.configuracion SET valor = '7' WHERE descripcion = 'BIBLIO_ACTIVA'"),
         m_archivo, QStringLiteral("Actualización del acervo"),
         QStringLiteral("Está intentando agregar 7 ejemplares a su base de datos,\r\nque no corresponden a su "
                        "biblioteca.")},
        {"the zip, not the dump", QString(), m_dir.file(QStringLiteral("respB02.zip")), QStringLiteral("Error"),
         QStringLiteral("Error al cargar archivo de exportación 'backup'\r\n\r\nEl script se detuvo en una sentencia "
                        "con error.\r\npsql:")},
        {"a missing file", QString(), m_dir.file(QStringLiteral("no-existe.backup")), QStringLiteral("Error"),
         QStringLiteral("Error al cargar archivo de exportación 'backup'\r\n\r\npsql no pudo leer el archivo.\r\n"
                        "psql: error:")},
        // psql runs an empty file without complaint; the checks then find no staging tables.
        {"an empty file", QString(), m_dir.file(QStringLiteral("vacio.backup")), QStringLiteral("Error -2147467259"),
         QStringLiteral("zexporta_bejemplares\" does not exist")},
        {"an empty file (the report's place)", QString(), m_dir.file(QStringLiteral("vacio.backup")),
         QStringLiteral("Error -2147467259"), QStringLiteral("\r\nEn la línea 60 del procedimiento cmdCargar_Click")},
        {"no merge script", QStringLiteral("DELETE FROM reportes.plantillas"), m_archivo, QStringLiteral("Error"),
         QStringLiteral("No se encontró el script de actualización del acervo (RESTAURA_ACERVO) en "
                        "reportes.plantillas.")},
    };
    const Catalogo antes = Catalogo::leer();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (!c.preparar.isEmpty()) {
            ASSERT_TRUE(cluster().psql(c.preparar));
        }
        frmRestaurarAcervo w;
        importar(w, c.archivo, {MsgResult::Ok});
        EXPECT_EQ(ultimo().title, c.titulo);
        EXPECT_TRUE(ultimo().text.contains(c.texto)) << ultimo().text.toStdString();
        esperarIgual(Catalogo::leer(), antes);
        EXPECT_EQ(actAcervo(), QStringLiteral("0:"));
        EXPECT_FALSE(hijo<QPushButton>(w, "cmdCargar")->isEnabled());
        // The window is given back.
        EXPECT_TRUE(hijo<QPushButton>(w, "cmdRegresar")->isEnabled());
        ASSERT_TRUE(cluster().psql(
            QStringLiteral("UPDATE config_veliro.configuracion SET valor = '2' WHERE descripcion = 'BIBLIO_ACTIVA';")));
    }
}

// A merge that fails inside its transaction shows psql's error and changes nothing: no stamp, the
// catalogue intact, the staging tables still loaded; once the cause is gone the same file installs.
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
    EXPECT_EQ(tablasExportacion(), QStringLiteral("13"));
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
    producirVolcado(m_archivo, kSello);
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
    EXPECT_TRUE(ultimo().text.endsWith(
        QStringLiteral("agregue las colecciones faltantes.\r\n\r\nCOLECCION: 3\r\nEJEMPLARES: [T2-0001]\r\n\r\n")));
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:2"));

    importar(w, m_archivo, {MsgResult::Yes, MsgResult::No, MsgResult::Ok, MsgResult::Ok});
    EXPECT_EQ(titulos().last(), QStringLiteral("Importación exitosa"));
    EXPECT_FALSE(w.blnPrimeraActAcervo);
    EXPECT_EQ(actAcervo(), QStringLiteral("1:") + kSello);
    EXPECT_EQ(filas(QStringLiteral("SELECT idcoleccion FROM analisis.ejemplares WHERE no_adqui = 'T2-0001'")),
              QStringLiteral("3"));
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
