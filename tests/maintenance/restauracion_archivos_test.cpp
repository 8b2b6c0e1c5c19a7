// Restore tests: archives refused before anything changes, counts that disagree, an old engine's
// archive, a dump of an older server; and the readers of the dump and the roles file.
#include "tests/maintenance/restauracion_comun.h"

using namespace v7;
using namespace v7::test;

namespace {

// Each broken archive is refused before anything changes: the database, its roles and the session stay
// as they were, and the message says why.
TEST_F(Restauracion, BrokenArchivesAreRefusedBeforeAnythingChanges) {
    auto& c = PgCluster::instance();
    const QString bueno = respaldar(QStringLiteral("bueno.zip"));
    const Miembros m = miembros(bueno);
    ASSERT_EQ(m.size(), 3);
    const QByteArray volcado = miembro(bueno, QStringLiteral("base.backup"));
    // The dump's header holds the archive format version right after "PGDMP": 1.16 is newer than 15 reads.
    QByteArray posterior = volcado;
    posterior[6] = char(16);
    QByteArray dañado = leer(bueno);
    {
        // A byte changed inside base.backup's compressed data: the zip's CRC no longer matches.
        const qsizetype i = dañado.indexOf("base.backup") + 400;
        dañado[i] = char(dañado[i] ^ 0x5A);
    }
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA extra; CREATE TABLE extra.marca (t text); INSERT INTO "
                                      "extra.marca VALUES ('intacta');")));
    const QString rolesAntes = roles();

    // The dump's own structure, read without decompressing: whole, cut short, with a byte added, without its
    // header, cut in its table of contents.
    {
        struct Estructura {
            const char* nombre;
            QByteArray datos;
            bool reconocida, conDesplazamientos, completa;
        };
        const Estructura estructuras[] = {
            {"whole", volcado, true, true, true},
            {"one byte short", volcado.chopped(1), true, true, false},
            {"last 100 bytes missing", volcado.chopped(100), true, true, false},
            {"one byte more", volcado + '\0', true, true, false},
            {"without its magic", volcado.mid(5), false, false, false},
            {"cut in its table of contents", volcado.left(200), false, false, false},
        };
        for (const Estructura& k : estructuras) {
            SCOPED_TRACE(k.nombre);
            const QString ruta = m_dir.file(QStringLiteral("volcado"));
            escribir(ruta, k.datos);
            const EstructuraVolcado e = examinarVolcado(ruta);
            EXPECT_EQ(e.reconocida, k.reconocida) << e.motivo.toStdString();
            EXPECT_EQ(e.conDesplazamientos, k.conDesplazamientos) << e.motivo.toStdString();
            EXPECT_EQ(e.completa, k.completa) << e.motivo.toStdString();
            EXPECT_EQ(e.motivo.isEmpty(), k.completa);
        }
    }

    struct Caso {
        const char* nombre;
        std::function<void(const QString&)> hacer;
        QString mensaje; // the beginning of the refusal
    };
    const QString dañadoTxt = QStringLiteral("El archivo base.backup del respaldo está dañado o incompleto");
    const QString posteriorTxt = QStringLiteral("No se puede montar el respaldo debido a que la versión instalada de");
    const Caso casos[] = {
        {"truncated base.backup",
         [&](const QString& z) {
             hacerZip(z, cambiar(m, QStringLiteral("base.backup"), volcado.left(volcado.size() - 300)));
         },
         dañadoTxt},
        {"no base.backup", [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("base.backup"), {})); },
         QStringLiteral("El archivo del respaldo no contiene el archivo base.backup")},
        {"no checksum.dat", [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("checksum.dat"), {})); },
         QStringLiteral("El archivo del respaldo no contiene el archivo checksum.dat")},
        {"checksum.dat in plain text",
         [&](const QString& z) {
             hacerZip(
                 z, cambiar(m, QStringLiteral("checksum.dat"), "catalogos.usuarios#5\r\nprestamo.devoluciones#0\r\n"));
         },
         QStringLiteral("El archivo checksum.dat del respaldo no es válido")},
        {"checksum.dat naming a table that is SQL",
         [&](const QString& z) {
             hacerZip(z,
                      cambiar(m, QStringLiteral("checksum.dat"),
                              cifrarConClave(QStringLiteral("catalogos.usuarios; DROP TABLE x#5"), false).toLatin1() +
                                  "\r\n"));
         },
         QStringLiteral("El archivo checksum.dat del respaldo no es válido")},
        {"dump of a newer pg_dump",
         [&](const QString& z) { hacerZip(z, cambiar(m, QStringLiteral("base.backup"), posterior)); }, posteriorTxt},
        {"engine line of a newer server",
         [&](const QString& z) {
             QByteArray ck;
             for (const QString& l : lineasDescifradas(miembro(bueno, QStringLiteral("checksum.dat"))).mid(0, 4)) {
                 ck += cifrarConClave(l, false).toLatin1() + "\r\n";
             }
             ck += cifrarConClave(QStringLiteral("POSTGRESQL 99.1"), false).toLatin1() + "\r\n";
             hacerZip(z, cambiar(m, QStringLiteral("checksum.dat"), ck));
         },
         posteriorTxt},
        {"zip failing the archiver's test", [&](const QString& z) { escribir(z, dañado); },
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
        {"roles file running a shell",
         [&](const QString& z) {
             hacerZip(z, cambiar(m, QStringLiteral("rolesv7.sql"),
                                 miembro(bueno, QStringLiteral("rolesv7.sql")) + "\\! touch " +
                                     QFile::encodeName(m_dir.file(QStringLiteral("marcador"))) + "\n"));
         },
         QStringLiteral("El archivo rolesv7.sql del respaldo no se puede usar, no se ejecutó nada de él")},
        {"not a zip at all", [&](const QString& z) { escribir(z, "PK nothing"); },
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
        {"no such file", [](const QString&) {},
         QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad")},
    };
    int n = 0;
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        const QString z = m_dir.file(QStringLiteral("roto%1.zip").arg(++n));
        k.hacer(z);
        m_avisos.clear();
        const bool validaAntes = sesion().BaseDatosValida;
        const ResultadoRestauracion r = restaurar(z);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.rechazado);
        EXPECT_TRUE(r.mensaje.texto.startsWith(k.mensaje)) << r.mensaje.texto.toStdString();
        EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")))
            << r.mensaje.texto.toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(m_zonasPedidas, 0);
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM extra.marca")), QStringLiteral("intacta"));
        EXPECT_EQ(roles(), rolesAntes);
        EXPECT_EQ(sesion().BaseDatosValida, validaAntes);
        EXPECT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
        EXPECT_FALSE(QFileInfo::exists(sesion().RutaTemporal + kCarpetaRestauracion));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        EXPECT_FALSE(QFileInfo::exists(m_dir.file(QStringLiteral("marcador"))));
    }

    // A member whose name differs only in case is found: the archive is accepted and restored.
    const QString mayusculas = m_dir.file(QStringLiteral("mayusculas.zip"));
    hacerZip(mayusculas, cambiar(m, QStringLiteral("checksum.dat"), miembro(bueno, QStringLiteral("checksum.dat")),
                                 QStringLiteral("Checksum.dat")));
    const ResultadoRestauracion r = restaurar(mayusculas);
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'extra'")),
              QStringLiteral("0"));
}

// Counts in checksum.dat that the dump does not hold are caught only after the load: a failed restore
// with its message, never the success message.
TEST_F(Restauracion, CountsThatDisagreeEndAsAFailedRestore) {
    const QString bueno = respaldar(QStringLiteral("bueno.zip"));
    QStringList lineas = lineasDescifradas(miembro(bueno, QStringLiteral("checksum.dat")));
    ASSERT_EQ(lineas.value(0), QStringLiteral("catalogos.usuarios#5"));
    lineas[0] = QStringLiteral("catalogos.usuarios#1250");
    QByteArray ck;
    for (const QString& l : lineas) {
        ck += cifrarConClave(l, false).toLatin1() + "\r\n";
    }
    const QString malo = m_dir.file(QStringLiteral("conteo.zip"));
    hacerZip(malo, cambiar(miembros(bueno), QStringLiteral("checksum.dat"), ck));
    sesion().BaseDatosValida = false;
    const ResultadoRestauracion r = restaurar(malo);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.rechazado);
    EXPECT_FALSE(r.integridad.has_value());
    EXPECT_EQ(r.mensaje.texto,
              QStringLiteral("Al parecer la restauración no se realizó correctamente ya que el respaldo "
                             "contenía 1250 registros en la tabla catalogos.usuarios mientras que en la base "
                             "de datos solo hay 5 registros.\r\nSe recomienda eliminar la base de datos y "
                             "restaurarla nuevamente"));
    EXPECT_FALSE(sesion().BaseDatosValida); // kept: the dates were not stored either
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE "
                                                          "descripcion = 'FECHARESTAURACION'")),
              QStringLiteral("0"));
}

// checksum.dat without its last line, or with another engine line.
QByteArray checksumConMotor(const QString& archivo, const QString& motor) {
    QByteArray ck;
    QStringList lineas = lineasDescifradas(miembro(archivo, QStringLiteral("checksum.dat"))).mid(0, 4);
    if (!motor.isEmpty()) {
        lineas << motor;
    }
    for (const QString& l : lineas) {
        ck += cifrarConClave(l, false).toLatin1() + "\r\n";
    }
    return ck;
}

// A backup of the old engine (or one that does not say) gets the full-text objects on this engine.
TEST_F(Restauracion, OldEngineArchiveGetsTheFullTextUpgrade) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(
        QStringLiteral("INSERT INTO catalogos.autoridades (idautoridad, autoridad) VALUES (1, 'Cervántes Saavedra');"
                       "INSERT INTO analisis.etiquetasmarc (idficha, numetiqueta, contenido) VALUES "
                       "(1, 100, 'Ver @@AU1! y más'), (1, 130, 'Autor @@12 sin cierre'), (1, 520, 'Nota! @@AU1! fin'),"
                       "(1, 8, 'Lugar'), (1, 999, 'Otro');")));
    const QString bueno = respaldar(QStringLiteral("ocho.zip"));
    const std::pair<const char*, QString> casos[] = {{"engine-8 line", QStringLiteral("POSTGRESQL 8.4.2")},
                                                     {"no engine line", QString()}};
    for (const auto& [nombre, motor] : casos) {
        SCOPED_TRACE(nombre);
        // The second restore finds pg_catalog.espanol left by the first.
        const QString z = m_dir.file(QString::fromLatin1(nombre) + QStringLiteral(".zip"));
        // Older pg_dumpall began the roles file with a \connect: never run, and not held against the archive.
        hacerZip(z, cambiar(cambiar(miembros(bueno), QStringLiteral("checksum.dat"), checksumConMotor(bueno, motor)),
                            QStringLiteral("rolesv7.sql"),
                            "\\connect postgres\n\n" + miembro(bueno, QStringLiteral("rolesv7.sql"))));
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(z);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(DISTINCT d.dictname, ',') FROM pg_ts_config_map m JOIN "
                                          "pg_ts_config f ON f.oid = m.mapcfg JOIN pg_ts_dict d ON d.oid = m.mapdict "
                                          "WHERE f.cfgname = 'espanol' AND m.maptokentype = (SELECT tokid FROM "
                                          "ts_token_type('default') WHERE alias = 'word')")),
                  QStringLiteral("spanish_stem,unaccent"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(column_name, ',' ORDER BY column_name) FROM "
                                          "information_schema.columns WHERE table_schema = 'analisis' AND table_name "
                                          "= 'etiquetasmarc' AND column_name IN ('idxfti', 'etiquetasinfo', 'tipo', "
                                          "'idlink', 'tabla')")),
                  QStringLiteral("etiquetasinfo,idlink,idxfti,tabla,tipo"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname = 'tsvectorupdate'")),
                  QStringLiteral("1"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_indexes WHERE indexname = 'idxfti_idx'")),
                  QStringLiteral("1"));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = "
                                          "'ANA_FULLTEXTSEARCH'")),
                  QStringLiteral("1"));
        // References replaced by the catalogue's text; one without its closing "!" runs to the end and is
        // not written twice.
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT string_agg(numetiqueta || '=' || tipo || ':' || etiquetasinfo, '|' "
                                          "ORDER BY idregistro) FROM analisis.etiquetasmarc")),
                  QStringLiteral("100=2:Ver Cervántes Saavedra y más|130=2:Autor @@12 sin cierre|"
                                 "520=8:Nota! Cervántes Saavedra fin|8=9:Lugar|999=0:Otro"));
        // The search vector, kept by the trigger, finds a word whatever its accents.
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM analisis.etiquetasmarc WHERE idxfti @@ "
                                          "to_tsquery('pg_catalog.espanol', 'cervantes')")),
                  QStringLiteral("2"));
        ASSERT_TRUE(c.psql(QStringLiteral("UPDATE analisis.etiquetasmarc SET etiquetasinfo = 'Lugar de Mexico' "
                                          "WHERE numetiqueta = 8;")));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM analisis.etiquetasmarc WHERE idxfti @@ "
                                          "to_tsquery('pg_catalog.espanol', 'méxico')")),
                  QStringLiteral("1"));
    }
}

// A command line run by sh with the cluster's password in its environment; true when it exited 0.
bool shConClave(const QString& linea) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), PgCluster::instance().password());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), linea});
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) {
        ADD_FAILURE() << linea.toStdString() << ": " << p.readAll().toStdString();
    }
    return ok;
}

// A dump whose work list holds the objects that every server has already (plpgsql as a language of its
// own, a schema public made by hand), as dumps of older servers do: they are left out and logged, and the
// restore ends without an error. Such a dump, written through a pipe, records no block offsets: it is read
// to its end before anything is dropped, and loaded by one job.
TEST_F(Restauracion, WorkListLeavesOutWhatTheServerHasAlready) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE FUNCTION funciones.doble(integer) RETURNS integer LANGUAGE plpgsql AS "
                                      "'BEGIN RETURN 2 * $1; END';")));
    const QString kit = respaldar(QStringLiteral("base.zip"));
    const QString plano = m_dir.file(QStringLiteral("plano.sql"));
    ASSERT_TRUE(herramientaPg(QStringLiteral("pg_dump"),
                              {QStringLiteral("-Fp"), QStringLiteral("-f"), plano, QStringLiteral("veliro7")}));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP DATABASE IF EXISTS antigua; CREATE DATABASE antigua TEMPLATE template0;"),
                       nullptr, QStringLiteral("postgres")));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP EXTENSION plpgsql; DROP SCHEMA public; CREATE SCHEMA public;"
                                      "GRANT ALL ON SCHEMA public TO PUBLIC;"
                                      "COMMENT ON SCHEMA public IS 'esquema de siempre';"
                                      "CREATE FUNCTION public.plpgsql_call_handler() RETURNS language_handler AS "
                                      "'$libdir/plpgsql' LANGUAGE C;"
                                      "CREATE TRUSTED LANGUAGE plpgsql HANDLER public.plpgsql_call_handler;"),
                       nullptr, QStringLiteral("antigua")));
    ASSERT_TRUE(herramientaPg(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                                       QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"),
                                                       QStringLiteral("antigua"), QStringLiteral("-f"), plano}));
    const QString carpeta = m_dir.file(QStringLiteral("antigua/"));
    QDir().mkpath(carpeta);
    auto& pg = PgCluster::instance();
    ASSERT_TRUE(shConClave(process::shellQuote(pg.binFolder() + QStringLiteral("/pg_dump")) + QStringLiteral(" -h ") +
                           pg.host() + QStringLiteral(" -p ") + QString::number(pg.port()) +
                           QStringLiteral(" -U postgres -Fc antigua | cat > ") +
                           process::shellQuote(carpeta + QStringLiteral("base.backup"))));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP DATABASE antigua;"), nullptr, QStringLiteral("postgres")));
    const EstructuraVolcado e = examinarVolcado(carpeta + QStringLiteral("base.backup"));
    EXPECT_TRUE(e.reconocida);
    EXPECT_FALSE(e.conDesplazamientos);
    escribir(carpeta + QStringLiteral("checksum.dat"), miembro(kit, QStringLiteral("checksum.dat")));
    escribir(carpeta + QStringLiteral("rolesv7.sql"), miembro(kit, QStringLiteral("rolesv7.sql")));
    const QString archivo = m_dir.file(QStringLiteral("antigua.zip"));
    empacar(archivo, {carpeta + QStringLiteral("base.backup"), carpeta + QStringLiteral("rolesv7.sql"),
                      carpeta + QStringLiteral("checksum.dat")});

    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    const QString log = QString::fromUtf8(leer(rutaLogRestauracion(QDate::currentDate())));
    for (const char* omitida : {"PROCEDURAL LANGUAGE - plpgsql", "FUNCTION public plpgsql_call_handler()",
                                "SCHEMA - public", "COMMENT - SCHEMA public"}) {
        const QRegularExpression linea(QStringLiteral("--- omitido: \\d+; \\d+ \\d+ ") +
                                       QRegularExpression::escape(QString::fromUtf8(omitida)) + QLatin1Char(' '));
        EXPECT_TRUE(linea.match(log).hasMatch()) << omitida << "\n" << log.toStdString();
    }
    // The server's own plpgsql is the one the restored functions use; the dump's grants on public came back.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT funciones.doble(21)")), QStringLiteral("42"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_language l JOIN pg_depend d ON d.objid = l.oid AND "
                                      "d.deptype = 'e' WHERE l.lanname = 'plpgsql'")),
              QStringLiteral("1"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_proc WHERE proname = 'plpgsql_call_handler' AND "
                                      "pronamespace = 'public'::regnamespace")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_schema_privilege('public', 'public', 'CREATE')")),
              QStringLiteral("t"));
}

TEST(RestauracionLectores, PrivilegeStatementsNameTheirRoles) {
    const std::pair<const char*, QStringList> casos[] = {
        {"GRANT SELECT ON TABLE adquis.t TO reportes_ro;", {QStringLiteral("reportes_ro")}},
        {"GRANT SELECT ON TABLE adquis.t TO g2 WITH GRANT OPTION;", {QStringLiteral("g2")}},
        {"GRANT SELECT(v) ON TABLE adquis.t TO \"O'Brien\";", {QStringLiteral("O'Brien")}},
        {"GRANT SELECT(\"to\") ON TABLE adquis.\"TO x\" TO \"Ana Admin\", Lector GRANTED BY dueno;",
         {QStringLiteral("Ana Admin"), QStringLiteral("lector"), QStringLiteral("dueno")}},
        {"REVOKE ALL ON SCHEMA public FROM PUBLIC;", {}},
        {"REVOKE ALL ON TABLE adquis.t FROM dueno_v7;", {QStringLiteral("dueno_v7")}},
        {"GRANT SELECT ON LARGE OBJECT 16399 TO reportes_ro;", {QStringLiteral("reportes_ro")}},
        {"ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 IN SCHEMA adquis GRANT SELECT ON TABLES  TO reportes_ro;",
         {QStringLiteral("dueno_v7"), QStringLiteral("reportes_ro")}},
        {"ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 REVOKE ALL ON FUNCTIONS FROM PUBLIC;",
         {QStringLiteral("dueno_v7")}},
        {"SET SESSION AUTHORIZATION g2;", {QStringLiteral("g2")}},
        {"RESET SESSION AUTHORIZATION;", {}},
        {"CREATE POLICY p ON catalogos.analistas FOR SELECT TO v7_usuario1, v7_usuario2 USING ((usuario = "
         "(SESSION_USER)::text));",
         {QStringLiteral("v7_usuario1"), QStringLiteral("v7_usuario2")}},
        {"GRANT ALL ON SCHEMA s TO CURRENT_USER;", {}},
        {"GRANT USAGE ON SCHEMA s TO GROUP grupo_viejo;", {QStringLiteral("grupo_viejo")}},
    };
    for (const auto& [sql, roles] : casos) {
        EXPECT_EQ(rolesDeSentencia(QString::fromUtf8(sql)), roles) << sql;
    }
}

// The roles file makes what the server lacks of the staff and of what the dump names, with the memberships
// these need; a role that exists (not a group), a protected one and the rest of the file are left alone.
TEST(RestauracionLectores, RolesFileMakesOnlyWhatTheDumpNeeds) {
    const QString volcado = QStringLiteral("\\restrict k\n"
                                           "SET standard_conforming_strings = on;\n"
                                           "CREATE ROLE dueno_v7;\n"
                                           "ALTER ROLE dueno_v7 WITH NOSUPERUSER NOLOGIN;\n"
                                           "CREATE ROLE lectores;\n"
                                           "ALTER ROLE lectores WITH NOLOGIN;\n"
                                           "CREATE ROLE reportes_ro;\n"
                                           "ALTER ROLE reportes_ro WITH NOLOGIN;\n"
                                           "CREATE ROLE ajena;\n"
                                           "ALTER ROLE ajena WITH LOGIN PASSWORD 'md5x';\n"
                                           "CREATE ROLE existente;\n"
                                           "ALTER ROLE existente WITH LOGIN PASSWORD 'md5nueva';\n"
                                           "CREATE ROLE postgres;\n"
                                           "ALTER ROLE postgres WITH SUPERUSER LOGIN PASSWORD 'md5pg';\n"
                                           "CREATE ROLE v7_usuario1;\n"
                                           "ALTER ROLE v7_usuario1 WITH NOLOGIN;\n"
                                           "CREATE ROLE \"Ana O'Hara\";\n"
                                           "ALTER ROLE \"Ana O'Hara\" WITH LOGIN PASSWORD 'SCRAM-SHA-256$y';\n"
                                           "GRANT lectores TO reportes_ro GRANTED BY postgres;\n"
                                           "GRANT pg_read_all_data TO reportes_ro GRANTED BY postgres;\n"
                                           "GRANT v7_usuario1 TO \"Ana O'Hara\" GRANTED BY postgres;\n"
                                           "GRANT reportes_ro TO existente GRANTED BY postgres;\n"
                                           "GRANT reportes_ro TO ajena GRANTED BY postgres;\n"
                                           "\\unrestrict k\n");
    RolesFiltrados detalle;
    const QString f = filtrarRoles(
        volcado, {QStringLiteral("postgres"), QStringLiteral("jefe")},
        {QStringLiteral("v7_usuario1"), QStringLiteral("existente"), QStringLiteral("postgres")},
        {QStringLiteral("dueno_v7"), QStringLiteral("reportes_ro"), QStringLiteral("existente")}, &detalle);
    EXPECT_EQ(f, QStringLiteral("SET standard_conforming_strings = on;\n"
                                "CREATE ROLE dueno_v7;\n"
                                "ALTER ROLE dueno_v7 WITH NOSUPERUSER NOLOGIN;\n"
                                "CREATE ROLE lectores;\n"
                                "ALTER ROLE lectores WITH NOLOGIN;\n"
                                "CREATE ROLE reportes_ro;\n"
                                "ALTER ROLE reportes_ro WITH NOLOGIN;\n"
                                "ALTER ROLE v7_usuario1 WITH NOLOGIN;\n"
                                "CREATE ROLE \"Ana O'Hara\";\n"
                                "ALTER ROLE \"Ana O'Hara\" WITH LOGIN PASSWORD 'SCRAM-SHA-256$y';\n"
                                "GRANT lectores TO reportes_ro;\n"
                                "GRANT pg_read_all_data TO reportes_ro;\n"
                                "GRANT v7_usuario1 TO \"Ana O'Hara\";\n"));
    EXPECT_EQ(detalle.creados, (QStringList{QStringLiteral("dueno_v7"), QStringLiteral("lectores"),
                                            QStringLiteral("reportes_ro"), QStringLiteral("Ana O'Hara")}));
    EXPECT_EQ(detalle.omitidos, (QStringList{QStringLiteral("existente"), QStringLiteral("postgres")}));
}

} // namespace
