#include "core/psql_ajeno.h"
#include "platform/process.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace v7;

namespace {

// Which scripts may run: meta-commands are refused wherever they hide, quoted text and COPY data are not
// meta-commands, and a dump's own \restrict pair is taken out.
TEST(ScriptAjeno, RefusesMetaCommandsOutsideQuotesAndData) {
    struct Caso {
        const char* nombre;
        QByteArray script;
        int lineaRechazada; // 0: accepted
    };
    const Caso casos[] = {
        {"plain statements", "CREATE TABLE t (a text);\nINSERT INTO t VALUES ('x');\n", 0},
        {"shell", "SELECT 1;\n\\! id > /tmp/x\n", 2},
        {"output file", "\\o /tmp/salida\nSELECT 1;\n", 1},
        {"include", "SELECT 1;\n\\i /root/secreto\n", 2},
        {"copy to program", "\\copy t to program 'id'\n", 1},
        {"mid-line", "SELECT 1 \\g /tmp/x\n", 1},
        {"after a string", "SELECT 'a'; \\! id\n", 1},
        {"inside a string", "INSERT INTO t VALUES ('\\! no es orden');\n", 0},
        {"E string with escaped quote", "SELECT E'it\\'s \\\\! ok';\nSELECT 2;\n", 0},
        {"old dump: backslash escapes", "SET standard_conforming_strings = off;\nSELECT 'a\\'b \\! c';\n", 0},
        {"conforming: backslash is plain", "SELECT 'a\\';\n\\! id\n", 2},
        {"dollar quoting", "CREATE FUNCTION f() RETURNS text AS $f$ SELECT '\\!' $f$ LANGUAGE sql;\n", 0},
        {"comments", "-- \\! id\n/* \\! id /* nested */ still */ SELECT 1;\n", 0},
        {"quoted identifier", "SELECT 1 AS \"\\!\";\n", 0},
        {"copy data", "COPY t (a) FROM stdin;\n\\restrict data\n\\N\n\\.\n\\! id\n", 5},
        {"dump's own pair", "\\restrict abcDEF123\nSELECT 1;\n\\unrestrict abcDEF123\n", 0},
        {"unrestrict with a guess", "SELECT 1;\n\\unrestrict\n", 2},
        {"connect", "\\connect postgres\n", 1},
    };
    for (const Caso& c : casos) {
        const ScriptAjeno s = prepararScriptAjeno(c.script);
        EXPECT_EQ(s.linea, c.lineaRechazada) << c.nombre << ": " << s.motivo.toStdString();
        EXPECT_EQ(s.ok(), c.lineaRechazada == 0) << c.nombre;
        if (s.ok()) {
            EXPECT_TRUE(s.entrada.startsWith("\\restrict " + s.clave.toLatin1() + "\n")) << c.nombre;
        } else {
            EXPECT_TRUE(s.entrada.isEmpty()) << c.nombre;
            EXPECT_TRUE(s.motivo.contains(QStringLiteral("línea ") + QString::number(c.lineaRechazada))) << c.nombre;
        }
    }
    // The dump's pair leaves empty lines, so psql's line numbers still match the file's (plus one).
    const ScriptAjeno par = prepararScriptAjeno("\\restrict k1\nSELECT 1;\n\\unrestrict k1\n");
    EXPECT_EQ(par.entrada, "\\restrict " + par.clave.toLatin1() + "\n\nSELECT 1;\n\n");
    // Two runs never share a key.
    EXPECT_NE(prepararScriptAjeno("SELECT 1;").clave, par.clave);
}

TEST(ScriptAjeno, VersionsThatCanRestrict) {
    struct Caso {
        const char* texto;
        bool puede;
    };
    const Caso casos[] = {
        {"psql (PostgreSQL) 15.18 (Debian 15.18-0+deb12u1)", true},
        {"psql (PostgreSQL) 15.13", false},
        {"psql (PostgreSQL) 15.14", true},
        {"psql (PostgreSQL) 16.9", false},
        {"psql (PostgreSQL) 16.10", true},
        {"psql (PostgreSQL) 17.6", true},
        {"psql (PostgreSQL) 13.21", false},
        {"psql (PostgreSQL) 18.0", true},
        {"psql (PostgreSQL) 9.0.23", false},
        {"", false},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(versionConRestrict(QString::fromLatin1(c.texto)), c.puede) << c.texto;
    }
}

// Against the real psql: a meta-command that got past the check is still refused by psql itself, and a
// current pg_dump plain dump with its own \restrict pair and COPY data loads whole.
TEST(ScriptAjeno, PsqlItselfRefusesAndADumpLoads) {
    test::PgCluster& pg = test::PgCluster::instance();
    const QString psql = pg.binFolder() + QStringLiteral("/psql");
    ASSERT_EQ(psqlRestringible(psql), QString());
    test::TempDir dir;
    const QString marca = dir.file(QStringLiteral("marca"));

    auto correr = [&](const QByteArray& entrada, QByteArray* salida = nullptr) {
        process::Command c;
        c.program = psql;
        c.arguments = QStringList{QStringLiteral("-X"), QStringLiteral("-q"),
                                  QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                  QStringLiteral("-h"), pg.host(),
                                  QStringLiteral("-p"), QString::number(pg.port()),
                                  QStringLiteral("-U"), pg.superuser(),
                                  QStringLiteral("-d"), QStringLiteral("postgres"),
                                  QStringLiteral("-f"), QStringLiteral("-")};
        c.environment.insert(QStringLiteral("PGPASSWORD"), pg.password());
        c.cLocale = true;
        c.out = process::Sink::Capture;
        c.err = process::Sink::Stdout;
        c.entrada = entrada;
        const process::Result r = process::run(c);
        if (salida != nullptr) {
            *salida = r.output;
        }
        return r.status();
    };
    QByteArray salida;
    EXPECT_NE(correr("\\restrict k9\n\\! touch '" + QFile::encodeName(marca) + "'\n", &salida), 0);
    EXPECT_FALSE(QFile::exists(marca)) << salida.constData();

    ASSERT_TRUE(pg.psql(QStringLiteral("DROP TABLE IF EXISTS ajeno; CREATE TABLE ajeno (a text, b int);"
                                       "INSERT INTO ajeno VALUES ('uno\\\\dos', 1), (NULL, 2), (E'tres\\nlíneas', 3);"),
                        nullptr, QStringLiteral("postgres")));
    process::Command dump;
    dump.program = pg.binFolder() + QStringLiteral("/pg_dump");
    dump.arguments =
        QStringList{QStringLiteral("-h"),      pg.host(),      QStringLiteral("-p"), QString::number(pg.port()),
                    QStringLiteral("-U"),      pg.superuser(), QStringLiteral("-t"), QStringLiteral("ajeno"),
                    QStringLiteral("postgres")};
    dump.environment.insert(QStringLiteral("PGPASSWORD"), pg.password());
    dump.out = process::Sink::Capture;
    const process::Result volcado = process::run(dump);
    ASSERT_TRUE(volcado.ok());
    ASSERT_TRUE(volcado.output.contains("\\restrict ")) << "this pg_dump writes no \\restrict pair";
    const QString antes =
        pg.scalar(QStringLiteral("SELECT string_agg(coalesce(a,'-') || b, '|' ORDER BY b) FROM ajeno"),
                  QStringLiteral("postgres"));
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP TABLE ajeno;"), nullptr, QStringLiteral("postgres")));
    const ScriptAjeno s = prepararScriptAjeno(volcado.output);
    ASSERT_TRUE(s.ok()) << s.motivo.toStdString();
    EXPECT_EQ(correr(s.entrada, &salida), 0) << salida.constData();
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT string_agg(coalesce(a,'-') || b, '|' ORDER BY b) FROM ajeno"),
                        QStringLiteral("postgres")),
              antes);
}

} // namespace
