// Restore tests: the staff logins and the roles an archive names.
#include "tests/maintenance/restauracion_comun.h"

using namespace v7;
using namespace v7::test;

namespace {

// Without a roles file the staff logins come from the staff table, the name an identifier and the password
// a literal; a row with an unknown group code goes, one without a clave stays, and a name that another
// application's role already holds is reported and that role left alone.
TEST_F(Restauracion, ArchiveWithoutRolesFileMakesTheStaffLogins) {
    auto& c = PgCluster::instance();
    bool ok = false;
    const QString desconocido = componerClave(QStringLiteral("x"), QStringLiteral("999"), QStringLiteral("1"), &ok);
    ASSERT_TRUE(ok);
    const QString colision = componerClave(QStringLiteral("c"), QStringLiteral("011"), QStringLiteral("1"), &ok);
    ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES "
                                      "('raro', 'raro', %1), ('sinclave', 'sinclave', NULL), ('colision', 'c', %2);"
                                      "DROP ROLE IF EXISTS colision; CREATE ROLE colision NOLOGIN;")
                           .arg(lit(desconocido), lit(colision))));
    const QString bueno = respaldar(QStringLiteral("con roles.zip"));
    const QString sinRoles = m_dir.file(QStringLiteral("sin roles.zip"));
    hacerZip(sinRoles, cambiar(miembros(bueno), QStringLiteral("rolesv7.sql"), {}));

    const ResultadoRestauracion r = restaurar(sinRoles);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.noIncorporados, QStringList{QStringLiteral("colision")});
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("duplicidad en su información:\r\ncolision")))
        << r.mensaje.texto.toStdString();
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role(%1, '%2', 'MEMBER')").arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("t"));
    }
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = $$O''Brien$$")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT rolsuper::text || rolcreaterole::text FROM pg_roles WHERE rolname = "
                                      "'jefa2'")),
              QStringLiteral("truetrue"));
    // The unknown code's row went at once; the closing delete (some user was left out) takes every row
    // still without a login, the one without a clave too.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM catalogos.analistas WHERE usuario IN ('raro', "
                                      "'sinclave', 'colision')")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN ('raro', 'sinclave')")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT rolcanlogin FROM pg_roles WHERE rolname = 'colision'")),
              QStringLiteral("f"));
    // The groups' privileges reach the schemas and the sequences too.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_schema_privilege('v7_usuario1', 'metadata', 'USAGE')::text || "
                                      "has_sequence_privilege('v7_usuario1', 'metadata.folio_seq', 'USAGE')::text || "
                                      "has_table_privilege('v7_usuario2', 'prestamo.multas', 'INSERT')::text || "
                                      "has_table_privilege('v7_usuario2', 'prestamo.multas', 'TRUNCATE')::text")),
              QStringLiteral("truetruetruefalse"));
    // Staff can use every schema of the dump, funciones too, although nothing was granted there before.
    EXPECT_EQ(
        c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname !~ '^pg_' AND nspname <> "
                                "'information_schema' AND NOT has_schema_privilege('v7_usuario1', oid, 'USAGE')")),
        QStringLiteral("0"));
    {
        db::Connection nivel1;
        nivel1.setConnectionString(c.connectionString(QStringLiteral("nivel1"), QStringLiteral("n1")));
        db::DbError e;
        ASSERT_TRUE(nivel1.open(e)) << e.description.toStdString();
        auto rs = nivel1.query(QStringLiteral("SELECT funciones.fechatexto(timestamp '2024-01-02 03:04:05')"), e);
        EXPECT_NE(rs, nullptr) << e.description.toStdString();
        nivel1.close();
    }
    ASSERT_TRUE(c.psql(QStringLiteral("DROP ROLE colision;")));
}

// What the server lacks or holds otherwise than the archive says is named in the closing message, and the
// restore still completes: the owners whose objects passed to the session's login, the roles whose grants
// were left out, and the archive's staff logins that exist without their login or group. The objects of the
// owners that exist keep their owner.
TEST_F(Restauracion, MissingRolesAndHalfMadeStaffLoginsAreNamedAtTheEnd) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(
        QStringLiteral("DROP ROLE IF EXISTS dueno_app, lector_app; CREATE ROLE dueno_app; CREATE ROLE lector_app;"
                       "CREATE TABLE servicios.propia (i int); ALTER TABLE servicios.propia OWNER TO dueno_app;"
                       "GRANT SELECT ON servicios.propia TO lector_app; GRANT SELECT ON prestamo.multas TO lector_app;"
                       "CREATE TABLE servicios.ajena (i int); ALTER TABLE servicios.ajena OWNER TO otra_app;")));
    const QString conRoles = respaldar(QStringLiteral("con roles.zip"));
    const QString sinRoles = m_dir.file(QStringLiteral("sin roles.zip"));
    hacerZip(sinRoles, cambiar(miembros(conRoles), QStringLiteral("rolesv7.sql"), {}));
    auto duenos = [&] {
        return c.scalar(QStringLiteral("SELECT string_agg(relname || ':' || pg_get_userbyid(relowner), ',' ORDER BY "
                                       "relname) FROM pg_class WHERE relname IN ('propia', 'ajena', 'multas')"));
    };
    // A staff login of the archive that is not in its group any more (as a restore stopped half way before
    // the roles step was whole could leave it): a restore keeps it as it is, and says so.
    const QString fueraDelGrupo = QStringLiteral("nivel1 (no pertenece al grupo v7_usuario1)");
    struct Caso {
        const char* nombre;
        bool conRoles;
        QStringList notas; // the closing message's notes, in order
    };
    const Caso casos[] = {
        // The roles file makes the owner and the grantee the dump names.
        {"with the roles file",
         true,
         {QStringLiteral("Estos usuarios analistas del respaldo existen en este servidor sin el inicio de sesión o el "
                         "grupo que el respaldo les da, y se dejaron como estaban:\r\n   - ") +
          fueraDelGrupo}},
        {"without the roles file",
         false,
         {QStringLiteral("Los objetos de estos propietarios, que no existen en este servidor, quedaron a nombre de "
                         "jefe: dueno_app."),
          QStringLiteral("Se omitieron los permisos que el respaldo daba a estos roles, que no existen en este "
                         "servidor:\r\n   - lector_app: TABLE prestamo.multas, TABLE servicios.propia"),
          QStringLiteral("Estos usuarios analistas del respaldo existen en este servidor sin el inicio de sesión o el "
                         "grupo que el respaldo les da, y se dejaron como estaban:\r\n   - ") +
              fueraDelGrupo}},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        ASSERT_TRUE(c.psql(QStringLiteral("DROP OWNED BY dueno_app, lector_app CASCADE; DROP ROLE dueno_app, "
                                          "lector_app; REVOKE v7_usuario1 FROM nivel1;")));
        const ResultadoRestauracion r = restaurar(k.conRoles ? conRoles : sinRoles);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(iconoDe(r.mensaje.gravedad), MsgIcon::Warning);
        EXPECT_EQ(r.mensaje.texto, QStringLiteral("La base de datos ha sido restaurada correctamente\r\n\r\n") +
                                       k.notas.join(QStringLiteral("\r\n\r\n")) +
                                       QStringLiteral("\r\n\r\nLos detalles están en el archivo: ") +
                                       rutaLogRestauracion(QDate::currentDate()));
        EXPECT_TRUE(leer(rutaLogRestauracion(QDate::currentDate())).contains("lector_app") || k.conRoles);
        EXPECT_EQ(duenos(), k.conRoles ? QStringLiteral("ajena:otra_app,multas:postgres,propia:dueno_app")
                                       : QStringLiteral("ajena:otra_app,multas:postgres,propia:jefe"));
        EXPECT_TRUE(puedeEntrar(QStringLiteral("nivel1"), QStringLiteral("n1")));
        if (k.conRoles) {
            EXPECT_EQ(c.scalar(QStringLiteral("SELECT has_table_privilege('lector_app', 'servicios.propia', "
                                              "'SELECT')")),
                      QStringLiteral("t"));
            ASSERT_TRUE(c.psql(QStringLiteral("GRANT v7_usuario1 TO nivel1;")));
        }
    }
}

// A staff login that still owns something in another database cannot be dropped: it is written to the
// role-removal log and named once, by the log's path; the restore goes on.
TEST_F(Restauracion, StaffLoginHeldByAnotherDatabaseIsLogged) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("dependencias.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE IF EXISTS ajena; CREATE TABLE ajena (i int); "
                                      "ALTER TABLE ajena OWNER TO nivel1;"),
                       nullptr, QStringLiteral("postgres")));
    const ResultadoRestauracion r = restaurar(archivo);
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString();
    const QString log = rutaLogUsuariosRestaurados(QDate::currentDate());
    ASSERT_EQ(m_avisos.size(), 1) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(m_avisos[0].startsWith(QStringLiteral("No se eliminaron algunos usuarios debido a que tienen "
                                                      "dependencias de otras bases de datos")));
    EXPECT_TRUE(m_avisos[0].endsWith(log));
    EXPECT_TRUE(leer(log).contains("nivel1")) << leer(log).toStdString();
    EXPECT_EQ(QFileInfo(log).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    EXPECT_TRUE(puedeEntrar(QStringLiteral("nivel1"), QStringLiteral("n1")));
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE ajena;"), nullptr, QStringLiteral("postgres")));
}

} // namespace

namespace {} // namespace
