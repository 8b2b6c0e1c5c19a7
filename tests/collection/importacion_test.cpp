// The collection import on a library's server, end to end through its window: the library's database
// imports library 2's export file, and what it holds afterwards is read back; a repeated file, a newer one,
// a merge that fails and one stopped at its question, each leaving the catalogue as it should.
#include "core/cifrado.h"
#include "tests/collection/importacion_comun.h"

#include <QDir>
#include <QPlainTextEdit>

using namespace v7;
using namespace v7::test;

namespace {

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
