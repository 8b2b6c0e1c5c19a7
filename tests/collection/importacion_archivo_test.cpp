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
#include <QRegularExpression>
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

// What a collection file from elsewhere might hold to take the server without any psql instruction: a server
// program, a staff login made superuser or put in the superusers' group, the server's settings (its log
// folder, which the log tab reads as root), a live table dropped, a function that runs as its owner, a role
// made in a DO block. The marker goes where the server's own account could write it.
struct Hostil {
    const char* nombre;
    QString sql;
};
QVector<Hostil> hostiles(const QString& marca) {
    return {
        {"a server program", QStringLiteral("COPY (SELECT 1) TO PROGRAM 'touch %1';").arg(marca)},
        {"a staff login made superuser", QStringLiteral("ALTER ROLE usr1 SUPERUSER;")},
        {"the superusers' group granted", QStringLiteral("GRANT v7_super TO usr1;")},
        {"the server's settings",
         QStringLiteral("ALTER SYSTEM SET log_directory = '/tmp/v7-ajeno';\nSELECT pg_reload_conf();")},
        {"a live table dropped", QStringLiteral("DROP TABLE analisis.fichas CASCADE;")},
        {"a function that runs as its owner",
         QStringLiteral("CREATE FUNCTION analisis.v7_puerta() RETURNS void LANGUAGE sql SECURITY DEFINER AS "
                        "'SELECT 1';")},
        {"a role made in a DO block",
         QStringLiteral("DO $$BEGIN CREATE ROLE v7_intruso LOGIN SUPERUSER PASSWORD 'x'; END$$;")},
    };
}

// The roles, grants, settings and functions those statements would change.
QString estadoDelServidor() {
    return filas(QStringLiteral(
        "SELECT r.rolsuper, pg_has_role('usr1', 'v7_super', 'MEMBER'), (SELECT count(*) FROM pg_roles WHERE rolname = "
        "'v7_intruso' OR rolname LIKE 'v7\\_carga\\_%'), to_regprocedure('analisis.v7_puerta()') IS NULL, "
        "current_setting('log_directory'), (SELECT count(*) FROM pg_file_settings WHERE sourcefile LIKE "
        "'%postgresql.auto.conf'), to_regclass('analisis.fichas') IS NOT NULL FROM pg_roles r WHERE r.rolname = "
        "'usr1'"));
}

// A file holding any of them after a whole export is refused before anything runs, naming the statement's line:
// the server, the catalogue and the installed stamp stay as they were.
TEST_F(Importacion, ACollectionFileActsOnlyOnItsStagingTables) {
    const QByteArray volcado = leer(m_archivo);
    ASSERT_TRUE(volcado.endsWith('\n'));
    const int linea = int(volcado.count('\n')) + 1;
    const QString marca = cluster().dataFolder() + QStringLiteral("/v7-marca");
    const QString antesServidor = estadoDelServidor();
    const Catalogo antes = Catalogo::leer();
    for (const Hostil& h : hostiles(marca)) {
        SCOPED_TRACE(h.nombre);
        const QString archivo = m_dir.file(QStringLiteral("hostil.backup"));
        escribir(archivo, volcado + h.sql.toUtf8() + '\n');
        frmRestaurarAcervo w;
        importar(w, archivo, {MsgResult::Ok});
        ASSERT_EQ(titulos(), QStringList{QStringLiteral("Actualización del acervo")}) << mostrado();
        EXPECT_EQ(ultimo().text,
                  QStringLiteral("El archivo contiene una sentencia que no es de una exportación del acervo en la "
                                 "línea ") +
                      QString::number(linea) + QStringLiteral(" (") + h.sql.section(QLatin1Char('\n'), 0, 0).left(60) +
                      QStringLiteral("); por seguridad no se ejecutó nada."));
        EXPECT_FALSE(QFileInfo::exists(marca));
        EXPECT_EQ(estadoDelServidor(), antesServidor);
        EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
    }
    esperarIgual(Catalogo::leer(), antes);
    EXPECT_EQ(actAcervo(), QStringLiteral("0:"));
}

// Past that check, the load's own login is what stands: each statement fails for want of rights and psql stops
// there, or what the login made besides plain staging tables (a function, a trigger on a staging table, a table
// of its own) is named and dropped with it. No login is left, and the staging tables of a load go to the
// session's login. A dump in an older pg_dump's layout (a search path in place of schema names, OWNER TO after
// each table) loads the same as the current one.
TEST_F(Importacion, TheLoadsLoginCanOnlyMakeAndFillStagingTables) {
    const QByteArray volcado = leer(m_archivo);
    const QString carpetaBin = ObtenerRutaBinPostgres();
    ASSERT_FALSE(carpetaBin.isEmpty());
    const QString salida = m_dir.file(QStringLiteral("salida.txt"));
    const QString marca = cluster().dataFolder() + QStringLiteral("/v7-marca");
    const QString borrar = acervo::sentenciaBorrarTablas();
    auto cargar = [&](const QByteArray& datos) {
        const ScriptAjeno s = prepararScriptAjeno(datos); // psql's instructions only, as before this check
        EXPECT_TRUE(s.ok()) << s.motivo.toStdString();
        return acervo::cargarConCuentaTemporal(carpetaBin, s.entrada, salida);
    };
    const QString contar = QStringLiteral(
        "SELECT string_agg(c.relname || '=' || (xpath('/row/n/text()', query_to_xml('SELECT count(*) AS n FROM "
        "analisis.' || c.relname, false, true, '')))[1]::text || ':' || pg_get_userbyid(c.relowner), ',' ORDER BY "
        "c.relname) FROM pg_class c WHERE c.relnamespace = 'analisis'::regnamespace AND c.relname LIKE "
        "'zexporta\\_%'");

    // What killed loads left: a login whose day has passed goes with what it owns, a current one stays.
    ASSERT_TRUE(cluster().psql(QStringLiteral(
        "CREATE ROLE v7_carga_vencida LOGIN VALID UNTIL '2001-01-01'; CREATE ROLE v7_carga_vigente LOGIN VALID UNTIL "
        "'infinity'; CREATE TABLE analisis.v7_resto (a integer); ALTER TABLE analisis.v7_resto OWNER TO "
        "v7_carga_vencida;")));
    const acervo::ResultadoCarga actual = cargar(volcado);
    ASSERT_TRUE(actual.ok()) << actual.psql.detalle().toStdString() << actual.error.toStdString();
    EXPECT_TRUE(actual.cuenta.startsWith(acervo::kPrefijoCuentaCarga));
    EXPECT_EQ(filas(QStringLiteral("SELECT string_agg(rolname, ',') FROM pg_roles WHERE rolname LIKE 'v7\\_carga\\_%' "
                                   "UNION ALL SELECT (to_regclass('analisis.v7_resto') IS NULL)::text")),
              QStringLiteral("v7_carga_vigente\ntrue"));
    ASSERT_TRUE(cluster().psql(QStringLiteral("DROP ROLE v7_carga_vigente;")));
    const QString cargadas = filas(contar);
    EXPECT_EQ(cargadas.count(QStringLiteral(":jefe")), 13) << cargadas.toStdString();
    ASSERT_TRUE(cluster().psql(borrar));

    QString viejo = QString::fromUtf8(volcado);
    viejo.replace(QStringLiteral("SELECT pg_catalog.set_config('search_path', '', false);"),
                  QStringLiteral("SET search_path = analisis, pg_catalog;"));
    viejo.replace(QStringLiteral("CREATE TABLE analisis."), QStringLiteral("CREATE TABLE "));
    viejo.replace(QStringLiteral("COPY analisis."), QStringLiteral("COPY "));
    viejo.replace(QRegularExpression(QStringLiteral("(CREATE TABLE (\\w+) \\([^;]*\\);\\n)")),
                  QStringLiteral("\\1ALTER TABLE ONLY \\2 OWNER TO postgres;\n"));
    ASSERT_EQ(viejo.count(QStringLiteral("OWNER TO postgres")), 13);
    const ScriptAjeno anterior = acervo::prepararExportacion(viejo.toUtf8());
    ASSERT_TRUE(anterior.ok()) << anterior.motivo.toStdString();
    EXPECT_FALSE(anterior.entrada.contains("OWNER TO"));
    const acervo::ResultadoCarga deAntes = acervo::cargarConCuentaTemporal(carpetaBin, anterior.entrada, salida);
    ASSERT_TRUE(deAntes.ok()) << deAntes.psql.detalle().toStdString() << deAntes.error.toStdString();
    EXPECT_EQ(filas(contar), cargadas);
    ASSERT_TRUE(cluster().psql(borrar));

    const QString antesServidor = estadoDelServidor();
    const Catalogo antes = Catalogo::leer();
    struct Caso {
        Hostil hostil;
        QStringList ajeno; // what the login made and lost; empty: psql stopped at the statement
    };
    QVector<Caso> casos;
    for (const Hostil& h : hostiles(marca)) {
        casos.push_back({h, QString::fromLatin1(h.nombre).contains(QStringLiteral("function"))
                                ? QStringList{QStringLiteral("function analisis.v7_puerta()")}
                                : QStringList()});
    }
    casos.push_back(
        {{"a trigger on a staging table",
          QStringLiteral("CREATE FUNCTION analisis.v7_disparo() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN "
                         "RETURN NEW; END$$;\nCREATE TRIGGER v7_disparo BEFORE UPDATE ON "
                         "analisis.zexporta_aafichas FOR EACH ROW EXECUTE FUNCTION analisis.v7_disparo();")},
         {QStringLiteral("table analisis.zexporta_aafichas"), QStringLiteral("function analisis.v7_disparo()")}});
    casos.push_back({{"a table of its own", QStringLiteral("CREATE TABLE analisis.zfichaseliminadas (a integer);")},
                     {QStringLiteral("table analisis.zfichaseliminadas")}});
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.hostil.nombre);
        const acervo::ResultadoCarga r = cargar(volcado + c.hostil.sql.toUtf8() + '\n');
        EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        if (c.ajeno.isEmpty()) {
            EXPECT_EQ(r.psql.estado, 3) << r.psql.detalle().toStdString();
            EXPECT_TRUE(r.ajeno.isEmpty()) << r.ajeno.toStdString();
            EXPECT_EQ(filas(contar).count(QStringLiteral(":jefe")), 13);
        } else {
            EXPECT_TRUE(r.psql.ok()) << r.psql.detalle().toStdString();
            for (const QString& objeto : c.ajeno) {
                EXPECT_TRUE(r.ajeno.contains(objeto)) << r.ajeno.toStdString();
            }
            EXPECT_EQ(tablasExportacion(), QStringLiteral("0"));
            EXPECT_EQ(filas(QStringLiteral("SELECT count(*) FROM pg_proc WHERE proname LIKE 'v7\\_%'") +
                            QStringLiteral(" UNION ALL SELECT count(*) FROM pg_class WHERE relname = "
                                           "'zfichaseliminadas'")),
                      QStringLiteral("0\n0"));
        }
        EXPECT_FALSE(QFileInfo::exists(marca));
        EXPECT_EQ(estadoDelServidor(), antesServidor);
        ASSERT_TRUE(cluster().psql(borrar));
    }
    esperarIgual(Catalogo::leer(), antes);
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
// A stopped server fails before the load's login exists; a server whose access rules admit only known logins
// refuses psql the load's login, and the box says which rule the load needs.
TEST_F(Importacion, FailuresReadInSpanishFirst) {
    escribir(m_dir.file(QStringLiteral("notas.backup")), "SELECT 'no es una exportación';\n");
    const QString hba = cluster().dataFolder() + QStringLiteral("/pg_hba.conf");
    const QByteArray reglas = leer(hba);
    struct Caso {
        const char* nombre;
        QString archivo;
        bool detenerServidor;
        bool soloCuentasConocidas;
        QString primeraLinea;
        QStringList despues; // further down the text, in this order
    };
    const QString errorCarga = QStringLiteral("Error al cargar archivo de exportación 'backup'");
    const Caso casos[] = {
        {"not an export",
         m_dir.file(QStringLiteral("notas.backup")),
         false,
         false,
         QStringLiteral("El archivo ") + m_dir.file(QStringLiteral("notas.backup")) +
             QStringLiteral(" no es un archivo de exportación del acervo."),
         {}},
        {"a missing file",
         m_dir.file(QStringLiteral("no-existe.backup")),
         false,
         false,
         QStringLiteral("No se encontró el archivo ") + m_dir.file(QStringLiteral("no-existe.backup")) +
             QLatin1Char('.'),
         {}},
        {"the server stopped",
         m_archivo,
         true,
         false,
         errorCarga,
         {QStringLiteral("\r\nNo se pudo preparar la cuenta temporal con la que se carga el archivo."),
          QStringLiteral("\r\nDetalle del servidor: "), QStringLiteral("Connection refused")}},
        {"only known logins admitted",
         m_archivo,
         false,
         true,
         errorCarga,
         {QStringLiteral("\r\npsql no se pudo conectar con el servidor"), QStringLiteral("\r\nDetalle: "),
          QStringLiteral("psql: error:"), QStringLiteral("\r\nEl archivo se carga con una cuenta temporal (v7_carga_"),
          QStringLiteral("deben admitir con contraseña a cualquier usuario de la base de datos veliro7")}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (c.detenerServidor) {
            ASSERT_TRUE(cluster().stop());
        }
        if (c.soloCuentasConocidas) {
            escribir(hba, "host all postgres,jefe 127.0.0.1/32 scram-sha-256\nhost all all 127.0.0.1/32 reject\n");
            ASSERT_TRUE(cluster().psql(QStringLiteral("SELECT pg_reload_conf();")));
        }
        frmRestaurarAcervo w;
        importar(w, c.archivo, {MsgResult::Ok});
        if (c.detenerServidor) {
            ASSERT_TRUE(cluster().start());
        }
        if (c.soloCuentasConocidas) {
            escribir(hba, reglas);
            ASSERT_TRUE(cluster().psql(QStringLiteral("SELECT pg_reload_conf();")));
        }
        const QString texto = ultimo().text;
        EXPECT_EQ(texto.section(QStringLiteral("\r\n"), 0, 0), c.primeraLinea) << texto.toStdString();
        qsizetype desde = 0;
        for (const QString& parte : c.despues) {
            const qsizetype en = texto.indexOf(parte, desde);
            EXPECT_GE(en, desde) << parte.toStdString() << "\n" << texto.toStdString();
            desde = std::max(en, desde);
        }
        // No load leaves its login behind.
        EXPECT_EQ(filas(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname LIKE 'v7\\_carga\\_%'")),
                  QStringLiteral("0"));
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

// An export file runs the statements pg_dump writes for the staging tables and no others; a refusal names the
// line where the statement stops being one of them.
TEST(LecturaImportacion, OnlyTheStatementsOfAnExportRun) {
    const QByteArray cabeza = "SET statement_timeout = 0;\nSET client_encoding = 'UTF8';\n"
                              "SELECT pg_catalog.set_config('search_path', '', false);\n";
    struct Caso {
        const char* nombre;
        QByteArray script;
        int linea; // 0: it runs
    };
    const Caso casos[] = {
        {"the export's statements",
         cabeza + "CREATE TABLE analisis.zexporta_aactualizacion (\n    version character varying(13) COLLATE "
                  "pg_catalog.\"default\" NOT NULL,\n    n numeric(10,2),\n    t timestamp(0) without time zone,\n"
                  "    l text[],\n    c \"char\"\n);\nALTER TABLE ONLY analisis.zexporta_aactualizacion OWNER TO "
                  "postgres;\nCOPY analisis.zexporta_aactualizacion (version, n, t, l, c) FROM stdin;\n"
                  "20240315_0930\t1\t\\N\t{}\tx\n\\.\n",
         0},
        {"an older dump's search path",
         "SET search_path = analisis, pg_catalog;\nCREATE TABLE \"zexporta_aafichas\" (a integer);\n"
         "COPY zexporta_aafichas (a) FROM stdin;\n\\.\n",
         0},
        {"a name without its schema", cabeza + "CREATE TABLE zexporta_aafichas (a integer);\n", 4},
        {"another schema", cabeza + "CREATE TABLE public.zexporta_aafichas (a integer);\n", 4},
        {"a table not of the export", cabeza + "CREATE TABLE analisis.fichas (a integer);\n", 4},
        {"a column default",
         cabeza + "CREATE TABLE analisis.zexporta_aafichas (\n    a integer,\n    b text DEFAULT "
                  "pg_read_file('/etc/shadow')\n);\n",
         6},
        {"a parent table", cabeza + "CREATE TABLE analisis.zexporta_aafichas (a integer) INHERITS (catalogos.x);\n", 4},
        {"a type of the database's own", cabeza + "CREATE TABLE analisis.zexporta_aafichas (a public.clave);\n", 4},
        {"the session's login", "SET session_authorization = postgres;\n", 1},
        {"a role", "SET ROLE postgres;\n", 1},
        {"a setting's value with escapes", "SET client_min_messages = E'warning';\n", 1},
        {"set_config of another setting", "SELECT pg_catalog.set_config('role', 'postgres', false);\n", 1},
        {"a copy out", cabeza + "COPY analisis.zexporta_aafichas TO STDOUT;\n", 4},
        {"a row inserted", cabeza + "INSERT INTO analisis.zexporta_aafichas VALUES (1);\n", 4},
        {"a psql variable", "SET client_min_messages = :VERSION;\n", 1},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const ScriptAjeno s = acervo::prepararExportacion(c.script);
        EXPECT_EQ(s.linea, c.linea) << s.motivo.toStdString();
        if (c.linea == 0) {
            EXPECT_FALSE(s.entrada.contains("OWNER TO"));
        } else {
            EXPECT_TRUE(s.motivo.startsWith(QStringLiteral(
                "El archivo contiene una sentencia que no es de una exportación del acervo en la línea ")))
                << s.motivo.toStdString();
        }
    }
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
