#include "core/psql_ajeno.h"
#include "platform/process.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/temp_dir.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace v7;

namespace {

bool esPalabraDePrueba(const SentenciaScript& s, const char* palabra) {
    return !s.tokens.isEmpty() && s.tokens.first().texto.compare(palabra, Qt::CaseInsensitive) == 0;
}

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
        {"old dump: escapes in E strings", "SET standard_conforming_strings = off;\nSELECT E'a\\'b \\\\! c';\n", 0},
        {"a plain string ending apart by the setting", "SET standard_conforming_strings = off;\nSELECT 'a\\'b';\n", 2},
        {"a backslash in a plain string", "SELECT 'C:\\temp', 'a\\b''c';\n", 0},
        {"several statements and parentheses on a line", "SELECT (1; 2); SELECT ';' AS \"x;\"; SELECT $$;$$;\n", 0},
        {"a dollar quote after a number", "SELECT 1$q$ \\! $q$;\n", 0},
        {"a name holding dollars", "SELECT a$b$c, $1 FROM t;\n", 0},
        {"CR LF line ends", "-- nota\r\nSELECT 1;\r\nCOPY t FROM stdin;\r\n\\N\r\n\\.\r\nSELECT 2;\r\n", 0},
        {"the dump's encoding", "SET client_encoding = 'UTF8';\nSET NAMES 'LATIN1';\n", 0},
        {"an encoding psql splits otherwise", "SELECT 1;\nSET client_encoding = 'SJIS';\n", 2},
        {"an encoding set out of the plain form", "SELECT set_config('client_encoding', 'UTF8', false);\n", 1},
        {"more after COPY FROM STDIN on its line", "COPY t FROM stdin; SELECT 1;\n\\.\n", 1},
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

// A caller's check sees every statement once, in order, with its line and whether COPY data follow; it may
// leave a statement out (psql gets blanks, the line numbers stay) or refuse the script, naming a line.
TEST(ScriptAjeno, ACallersCheckSeesEachStatementAndMayLeaveItOut) {
    const QByteArray script = "\\restrict k1\nSET a = 1; -- nota\nALTER TABLE t\n  OWNER TO x;\n"
                              "COPY t (a) FROM stdin;\nuno;dos\n\\.\nSELECT 'x' /* ; */ ;\nSELECT 2";
    QStringList vistas;
    auto revisor = [&](const SentenciaScript& s) {
        vistas << QStringLiteral("%1:%2:%3:%4")
                      .arg(s.linea)
                      .arg(QString::fromLatin1(s.tokens.first().texto))
                      .arg(s.tokens.size())
                      .arg(s.abreDatos);
        RevisionSentencia r;
        if (esPalabraDePrueba(s, "ALTER")) {
            r.accion = RevisionSentencia::Accion::Omitir;
        }
        return r;
    };
    const ScriptAjeno s = prepararScriptAjeno(script, revisor);
    ASSERT_TRUE(s.ok()) << s.motivo.toStdString();
    EXPECT_EQ(vistas,
              (QStringList{QStringLiteral("2:SET:4:0"), QStringLiteral("3:ALTER:6:0"), QStringLiteral("5:COPY:7:1"),
                           QStringLiteral("8:SELECT:2:0"), QStringLiteral("9:SELECT:2:0")}));
    EXPECT_EQ(s.entrada, "\\restrict " + s.clave.toLatin1() + "\n\nSET a = 1; -- nota\n" + QByteArray(13, ' ') + "\n" +
                             QByteArray(13, ' ') +
                             "\n"
                             "COPY t (a) FROM stdin;\nuno;dos\n\\.\nSELECT 'x' /* ; */ ;\nSELECT 2\n");

    auto rechazo = [](const SentenciaScript& s) {
        RevisionSentencia r;
        if (s.linea == 2) {
            r.accion = RevisionSentencia::Accion::Rechazar;
            r.que = QStringLiteral("una sentencia ajena");
            r.linea = s.tokens.last().linea;
        }
        return r;
    };
    const ScriptAjeno no = prepararScriptAjeno("SELECT 1;\nSELECT\n  2;\n", rechazo);
    EXPECT_EQ(no.linea, 3);
    EXPECT_EQ(no.motivo, QStringLiteral("El archivo contiene una sentencia ajena en la línea 3 (2;); por seguridad no "
                                        "se ejecutó nada."));
    EXPECT_TRUE(no.entrada.isEmpty());
}

// Shapes that psql reads as meta-commands although a simpler reading finds none: a carriage return ending a
// comment, a NUL byte, a name ending in E or a byte from 0x80 before E'…', standard_conforming_strings turned
// off on the line of the string, text that only looks like FROM STDIN, a dollar quote after a number, a ";"
// inside parentheses, a function body of BEGIN … END, a string continued after a carriage return. The check
// refuses each, and the real psql under \restrict (as a login without rights, going on after errors) meets a
// backslash command in each and runs none.
TEST(ScriptAjeno, TheCheckAndPsqlAgreeOnWhatPsqlReadsAsMetaCommands) {
    test::PgCluster& pg = test::PgCluster::instance();
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP ROLE IF EXISTS v7_sin_derechos; CREATE ROLE v7_sin_derechos LOGIN "
                                       "PASSWORD 'sin-derechos';"),
                        nullptr, QStringLiteral("postgres")));
    test::TempDir dir;
    const QByteArray marca = QFile::encodeName(dir.file(QStringLiteral("marca")));
    const QByteArray orden = "\\! touch " + marca;
    struct Caso {
        const char* nombre;
        QByteArray script;
        int linea; // the line the check names
    };
    const Caso casos[] = {
        {"a CR ending a -- comment", "SELECT 1; -- nota\r" + orden + "\nSELECT 2;\n", 1},
        {"a NUL byte", QByteArray("SELECT \0'\n", 10) + orden + "\n';\n", 1},
        {"a name ending in $E", "SELECT a$E'\\' " + orden + " ';\n", 1},
        {"a byte from 0x80 before E",
         "SELECT \xc3"
         "E'\\' " +
             orden + " ';\n",
         1},
        {"standard_conforming_strings off on the same line",
         "SET standard_conforming_strings = off; SELECT 'a\\'; " + orden + " ';\n", 1},
        {"FROM STDIN in a string", "COPY (SELECT 'FROM STDIN') TO STDOUT;\n" + orden + "\n", 2},
        {"FROM STDIN in a program's name", "COPY pg_class FROM PROGRAM 'true FROM STDIN';\n" + orden + "\n", 2},
        {"a dollar quote after a number", "SELECT 1$a$ ' $a$ " + orden + " ';\n", 1},
        {"a semicolon inside parentheses", "SELECT (;\nCOPY pg_class FROM STDIN;\n" + orden + "\n);\n", 3},
        {"a function body of BEGIN … END",
         "CREATE FUNCTION begin() RETURNS int LANGUAGE sql RETURN 1;\nCOPY pg_class FROM STDIN;\n" + orden + "\nEND;\n",
         1},
        {"a string continued after a CR", "SELECT 'a'\r'\\' " + orden + " ';\n", 1},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const ScriptAjeno s = prepararScriptAjeno(c.script);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.linea, c.linea) << s.motivo.toStdString();

        process::Command psql;
        psql.program = pg.binFolder() + QStringLiteral("/psql");
        psql.arguments = QStringList{QStringLiteral("-X"),
                                     QStringLiteral("-h"),
                                     pg.host(),
                                     QStringLiteral("-p"),
                                     QString::number(pg.port()),
                                     QStringLiteral("-U"),
                                     QStringLiteral("v7_sin_derechos"),
                                     QStringLiteral("-d"),
                                     QStringLiteral("postgres"),
                                     QStringLiteral("-f"),
                                     QStringLiteral("-")};
        psql.environment.insert(QStringLiteral("PGPASSWORD"), QStringLiteral("sin-derechos"));
        psql.cLocale = true;
        psql.out = process::Sink::Capture;
        psql.err = process::Sink::Stdout;
        psql.entrada = "\\restrict k9\n" + c.script;
        const process::Result r = process::run(psql);
        EXPECT_TRUE(r.started);
        EXPECT_TRUE(r.output.contains("backslash commands are restricted")) << r.output.constData();
        EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("marca"))));
    }
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
