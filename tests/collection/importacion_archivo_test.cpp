// The files the collection import refuses and the ways it tells: a file that is not an export, a link, a
// FIFO, psql instructions in the file, an old psql, the export's own .zip taken as its dump, a merge script
// changed by staff, the Spanish first lines and the merge question's default answer in a real box.
#include "tests/collection/importacion_comun.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>

#include <sys/stat.h>

#include <zip.h>

using namespace v7;
using namespace v7::test;

namespace {

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

} // namespace
