#include "core/consultas.h"
#include "core/errores.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include "platform/process.h"
#include "tests/support/ventanas.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace v7;
using v7::test::PgCluster;

namespace {

class SqlLayer : public ::testing::Test {
protected:
    void SetUp() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            ASSERT_TRUE(c.start());
        }
        const QString err = v7::test::conectarSesion();
        ASSERT_TRUE(err.isEmpty()) << err.toStdString();
    }
    void TearDown() override { reiniciarSesion(); }
};

TEST_F(SqlLayer, ActionReportsDriverRowCountOrThreeLineError) {
    struct Case {
        const char* sql;
        bool ok;
        int rows;
    };
    const Case cases[] = {
        {"CREATE TEMP TABLE t (a int);", true, 0},
        {"INSERT INTO t VALUES (1), (2), (3);", true, 3},
        {"UPDATE t SET a = a + 1 WHERE a > 1;", true, 2},
        {"UPDATE t SET a = 0 WHERE a > 100;", true, 0}, // the driver says "no data": still success
        {"UPDATE no_such_table SET a = 1;", false, -1},
    };
    for (const auto& c : cases) {
        int rows = 99;
        QString err = QStringLiteral("stale");
        bool ok = ExecuteSQLaction(QString::fromUtf8(c.sql), rows, err);
        EXPECT_EQ(ok, c.ok) << c.sql;
        EXPECT_EQ(rows, c.rows) << c.sql;
        if (c.ok) {
            EXPECT_TRUE(err.isEmpty()) << c.sql;
        } else {
            const QStringList lines = err.split(QStringLiteral("\r\n"));
            ASSERT_EQ(lines.size(), 3) << err.toStdString();
            EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Error: -2147467259"))) << lines[0].toStdString();
            EXPECT_TRUE(lines[0].contains(QStringLiteral("no_such_table"))) << lines[0].toStdString();
            EXPECT_EQ(lines[1], QStringLiteral("[Source]: public function ExecuteSQLaction"));
            EXPECT_EQ(lines[2], QStringLiteral("[cadSQL]:") + QString::fromUtf8(c.sql));
        }
    }
}

TEST_F(SqlLayer, BlankStatementRunsNothing) {
    int rows = 42;
    QString err;
    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("   "), rows, err));
    EXPECT_EQ(rows, 42);
    EXPECT_EQ(err, QStringLiteral("sentencia SQL no proporcionada"));
    int total = 7;
    EXPECT_EQ(ExecuteSQLrs(QStringLiteral(" "), total, err), nullptr);
    EXPECT_EQ(total, 7);
    EXPECT_EQ(err, QStringLiteral("sentencia SQL no proporcionada"));
}

TEST_F(SqlLayer, TransactionHoldsAcrossCalls) {
    int rows = 0;
    QString err;
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("CREATE TEMP TABLE tx (a int);"), rows, err));
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("BEGIN;"), rows, err));
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO tx VALUES (1);"), rows, err));
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("ROLLBACK;"), rows, err));
    int total = 0;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT a FROM tx"), total, err, QStringLiteral("FROM tx"));
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(total, 0);
    EXPECT_TRUE(rs->eof());
}

TEST_F(SqlLayer, KilledBackendIsReopenedAndStatementRetried) {
    int rows = 0;
    QString err;
    auto before = sesion().ConexionPrincipal;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT pg_backend_pid()"), rows, err);
    ASSERT_NE(rs, nullptr);
    const QString pid = rs->text(0);
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("SELECT pg_terminate_backend(%1);").arg(pid)));

    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("SELECT 1;"), rows, err)) << err.toStdString();
    EXPECT_TRUE(err.isEmpty());
    ASSERT_TRUE(sesion().ConexionPrincipal);
    EXPECT_NE(sesion().ConexionPrincipal, before);
    EXPECT_TRUE(sesion().ConexionPrincipal->isOpen());
    rs = ExecuteSQLrs(QStringLiteral("SELECT pg_backend_pid()"), rows, err);
    ASSERT_NE(rs, nullptr);
    EXPECT_NE(rs->text(0), pid);
}

TEST_F(SqlLayer, StatementOfALostTransactionIsNotRetriedOutsideIt) {
    int rows = 0;
    QString err;
    ASSERT_TRUE(
        ExecuteSQLaction(QStringLiteral("CREATE TABLE IF NOT EXISTS tx_lost (a int); TRUNCATE tx_lost;"), rows, err));
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("BEGIN;"), rows, err));
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO tx_lost VALUES (1);"), rows, err));
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT pg_backend_pid()"), rows, err);
    ASSERT_NE(rs, nullptr);
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("SELECT pg_terminate_backend(%1);").arg(rs->text(0))));

    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("INSERT INTO tx_lost VALUES (2);"), rows, err));
    EXPECT_EQ(rows, -1);
    EXPECT_TRUE(err.contains(QStringLiteral("[cadSQL]:INSERT INTO tx_lost VALUES (2);"))) << err.toStdString();
    // The connection itself is healed, and nothing of the lost transaction was committed.
    ASSERT_TRUE(sesion().ConexionPrincipal && sesion().ConexionPrincipal->isOpen());
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM tx_lost")), QStringLiteral("0"));
    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("DROP TABLE tx_lost;"), rows, err)) << err.toStdString();
}

TEST_F(SqlLayer, ServerDownEmptiesConnectionAndHidesPassword) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.stop());
    int rows = 5;
    QString err;
    bool ok = ExecuteSQLaction(QStringLiteral("SELECT 1;"), rows, err);
    ASSERT_TRUE(c.start());
    EXPECT_FALSE(ok);
    EXPECT_EQ(rows, -1);
    EXPECT_FALSE(sesion().ConexionPrincipal);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Ocurrió el error: "))) << err.toStdString();
    EXPECT_FALSE(err.contains(c.password())) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("PWD=<redacted>"))) << err.toStdString();

    // The next statement on the emptied variable fails cleanly, then heals once the server is back.
    EXPECT_TRUE(ExecuteSQLaction(QStringLiteral("SELECT 1;"), rows, err)) << err.toStdString();
}

TEST_F(SqlLayer, ReconnectCyclesAreBounded) {
    // A statement whose own failure reads like a lost connection although the connection is sound:
    // it is retried a bounded number of times, then its failure is returned.
    int rows = 0;
    QString err;
    auto before = sesion().ConexionPrincipal;
    EXPECT_FALSE(ExecuteSQLaction(QStringLiteral("DO $$BEGIN RAISE EXCEPTION 'connection dead'; END$$;"), rows, err));
    EXPECT_EQ(rows, -1);
    EXPECT_TRUE(err.contains(QStringLiteral("connection dead"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("[Source]: public function ExecuteSQLaction")));
    ASSERT_TRUE(sesion().ConexionPrincipal);
    EXPECT_NE(sesion().ConexionPrincipal, before); // it did reopen
    EXPECT_TRUE(sesion().ConexionPrincipal->isOpen());
}

TEST_F(SqlLayer, RecordsetCountsAndReads) {
    int rows = 0;
    QString err;
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("CREATE TEMP TABLE r (id int, nombre text);"
                                                "INSERT INTO r VALUES (7, 'Central'), (8, NULL);"),
                                 rows, err));
    int total = 9;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT id, nombre FROM r ORDER BY id"), total, err);
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(total, 0);
    rs = ExecuteSQLrs(QStringLiteral("SELECT id, nombre FROM r ORDER BY id"), total, err, QStringLiteral("FROM r"));
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(rs->column(0).type, db::FieldType::Integer32);
    EXPECT_EQ(rs->text(QStringLiteral("ID")), QStringLiteral("7"));
    EXPECT_EQ(rs->text(1), QStringLiteral("Central"));
    rs->moveNext();
    EXPECT_TRUE(rs->isNull(QStringLiteral("nombre")));
    rs->moveNext();
    EXPECT_TRUE(rs->eof());

    rs = ExecuteSQLrs(QStringLiteral("SELECT id FROM r WHERE id < 0"), total, err);
    ASSERT_NE(rs, nullptr);
    EXPECT_TRUE(rs->isOpen());
    EXPECT_TRUE(rs->eof());

    // A failing count query returns nothing, with the main statement in the text.
    rs = ExecuteSQLrs(QStringLiteral("SELECT id FROM r"), total, err, QStringLiteral("FROM missing_table"));
    EXPECT_EQ(rs, nullptr);
    EXPECT_EQ(total, -1);
    EXPECT_TRUE(err.endsWith(QStringLiteral("[cadSQL]:SELECT id FROM r"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("[Source]: public function ExecuteSQLrs")));
}

} // namespace

namespace {

// The block state after a statement, as the connection reports it.
bool enBloque() {
    return conexionPrincipal().inTransaction();
}

} // namespace

TEST_F(SqlLayer, TransactionStateIsWhatTheServerReports) {
    int rows = 0;
    QString err;
    struct Paso {
        const char* sql;
        bool ok;
        bool abierta;
    };
    const Paso pasos[] = {
        {"BEGIN ISOLATION LEVEL nonsense;", false, false}, // a failed BEGIN opens nothing
        {"CREATE TEMP TABLE tx_estado (a int);", true, false},
        {"BEGIN;", true, true},
        {"SAVEPOINT s1;", true, true},
        {"INSERT INTO tx_estado VALUES (1);", true, true},
        {"ROLLBACK TO SAVEPOINT s1;", true, true}, // still inside the block
        {"SELECT 1/0;", false, true},              // aborted, still a block to end
        {"ROLLBACK;", true, false},
        {"END;", true, false},
    };
    for (const Paso& p : pasos) {
        EXPECT_EQ(ExecuteSQLaction(QString::fromUtf8(p.sql), rows, err), p.ok) << p.sql;
        EXPECT_EQ(enBloque(), p.abierta) << p.sql;
    }
}

TEST_F(SqlLayer, ScopedTransactionCommitsOrRollsBackWhole) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE IF EXISTS tx_obj; CREATE TABLE tx_obj (a int PRIMARY KEY);")));
    db::DbError e;
    qint64 n = 0;
    {
        db::Transaccion t(sesion().ConexionPrincipal);
        ASSERT_TRUE(t.begin(e));
        ASSERT_TRUE(t.connection().execute(QStringLiteral("INSERT INTO tx_obj VALUES (1);"), n, e));
        // Leaving the scope without commit: nothing of it stays.
    }
    EXPECT_FALSE(enBloque());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM tx_obj")), QStringLiteral("0"));
    {
        // A COMMIT of an aborted block is a failure, not the server's silent rollback taken as success.
        db::Transaccion t(sesion().ConexionPrincipal);
        ASSERT_TRUE(t.begin(e));
        ASSERT_TRUE(t.connection().execute(QStringLiteral("INSERT INTO tx_obj VALUES (2);"), n, e));
        EXPECT_FALSE(t.connection().execute(QStringLiteral("INSERT INTO tx_obj VALUES (2);"), n, e));
        EXPECT_FALSE(t.commit(e));
        EXPECT_EQ(e.sqlState, QStringLiteral("25P02"));
        EXPECT_FALSE(t.active());
    }
    EXPECT_FALSE(enBloque());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM tx_obj")), QStringLiteral("0"));
    {
        db::Transaccion t(sesion().ConexionPrincipal);
        ASSERT_TRUE(t.begin(e));
        ASSERT_TRUE(t.connection().execute(QStringLiteral("INSERT INTO tx_obj VALUES (3);"), n, e));
        EXPECT_TRUE(t.commit(e));
    }
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM tx_obj")), QStringLiteral("1"));
}

TEST_F(SqlLayer, LongValuesComeBackWhole) {
    // Byte-order-mark characters inside a value, also where the driver's reads are cut into chunks,
    // are data like any other character.
    QString largo;
    const QString trozo = QStringLiteral("Ñandú €ü ");
    while (largo.size() < 100000) {
        largo += trozo;
    }
    largo.truncate(100000);
    for (int i : {0, 4094, 4095, 4096, 8190, 8191, 50000}) {
        largo[i] = QChar(i % 2 == 0 ? 0xFEFF : 0xFFFE);
    }
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE IF EXISTS largo; CREATE TABLE largo (id int, v text);")));
    int rows = 0;
    QString err;
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("INSERT INTO largo VALUES (1, ") + citarLiteral(largo) +
                                     QStringLiteral("), (2, ''), (3, NULL);"),
                                 rows, err))
        << err.left(300).toStdString();
    int total = 0;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT v FROM largo ORDER BY id"), total, err);
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->value(0).has_value());
    EXPECT_EQ(rs->value(0)->size(), largo.size());
    EXPECT_TRUE(*rs->value(0) == largo);
    rs->moveNext();
    ASSERT_TRUE(rs->value(0).has_value());
    EXPECT_TRUE(rs->value(0)->isEmpty());
    rs->moveNext();
    EXPECT_FALSE(rs->value(0).has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT length(v) FROM largo WHERE id = 1")), QStringLiteral("100000"));
}

namespace {

// A statement a window sends behind another session's lock: the windows keep running (a 10 ms timer never
// waits long), the lock wait runs out, nothing is left half done, and the user reads a Spanish sentence
// with the server's words after it, never the statement.
TEST_F(SqlLayer, LockedTableEndsWithinItsLimitWhileTimersRun) {
    PgCluster& pg = PgCluster::instance();
    ASSERT_TRUE(pg.psql(QStringLiteral("DROP TABLE IF EXISTS public.ocupada; CREATE TABLE public.ocupada (a int);"
                                       "INSERT INTO public.ocupada VALUES (1);")));
    // Another client holds the table far longer than the limit (its session is ended once the call is over).
    process::Command otro = pg.comandoPsql(QStringLiteral("BEGIN; LOCK public.ocupada; SELECT pg_sleep(60); COMMIT;"));
    otro.environment.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("v7-ocupada"));
    std::thread cliente([&] { (void)process::run(otro); });
    ASSERT_TRUE(test::esperarHasta([&] {
        return pg.scalar(QStringLiteral("SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                        "WHERE c.relname = 'ocupada' AND l.mode = 'AccessExclusiveLock'")) ==
               QLatin1String("1");
    }));

    // A lock limit of seconds, so that the windows' pauses on a busy machine stay far below a frozen wait.
    test::Pausas pausas;
    QString error;
    const bool ok = conPlazos(Plazos{2000, 5000}, [&] {
        int filas = 0;
        return ExecuteSQLaction(QStringLiteral("UPDATE public.ocupada SET a = 2"), filas, error);
    });
    const qint64 duracion = pausas.reloj().corto();
    pausas.detener();
    EXPECT_TRUE(pg.psql(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                                       "application_name = 'v7-ocupada'")));
    cliente.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(duracion, 5000); // the lock limit ended it, before the statement limit
    EXPECT_TRUE(pausas.siempreAtendio()) << pausas.informe();
    const QString texto = err::textoParaUsuario(QStringLiteral("No se guardó el cambio."), error);
    EXPECT_TRUE(texto.startsWith(QStringLiteral("No se guardó el cambio.\r\nOtra sesión está usando estos datos")))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("Detalle del servidor: "))) << texto.toStdString();
    EXPECT_FALSE(texto.contains(QStringLiteral("UPDATE"))) << texto.toStdString();
    EXPECT_EQ(pg.scalar(QStringLiteral("SELECT a FROM public.ocupada")), QStringLiteral("1"));
    // The limits do not outlive the call.
    const sql::Valor espera = sql::valor(QStringLiteral("SHOW lock_timeout"));
    ASSERT_TRUE(espera.ok()) << espera.error.toStdString();
    EXPECT_EQ(espera.texto(), QStringLiteral("0"));
}

TEST(Errores, SpanishSentenceFirstAndNeverTheStatement) {
    struct Caso {
        QString error;
        QString frase;
    };
    const QString fuente = QStringLiteral("\r\n[Source]: public function ExecuteSQLaction\r\n[cadSQL]:");
    const Caso casos[] = {
        {QStringLiteral("Error: -2147467259ERROR: permission denied for table analistas;\nError while executing "
                        "the query") +
             fuente + QStringLiteral("SELECT clave FROM catalogos.analistas"),
         QStringLiteral("El usuario de la sesión no tiene permiso para esta operación.")},
        {QStringLiteral("Error: -2147467259ERROR: value too long for type character varying(255)") + fuente +
             QStringLiteral("INSERT INTO reportes.reporte VALUES ('secreto')"),
         QStringLiteral("Un valor es más largo de lo que admite su campo.")},
        {QStringLiteral("Error: -2147467259ERROR: unterminated quoted string at or near \"'x\"\nLINE 1: "
                        "INSERT INTO t VALUES ('x") +
             fuente + QStringLiteral("INSERT INTO t VALUES ('x"),
         QStringLiteral("La instrucción enviada al servidor no es válida.")},
        {QStringLiteral("Error: -2147467259ERROR: current user cannot be dropped") + fuente +
             QStringLiteral("DROP ROLE jefe"),
         QStringLiteral("No se puede borrar la cuenta con la que se inició la sesión.")},
        {QStringLiteral("Error: -2147467259ERROR: el valor es demasiado largo para el tipo character varying(10)"),
         QStringLiteral("Un valor es más largo de lo que admite su campo.")},
    };
    for (const Caso& c : casos) {
        const QString t = err::textoParaUsuario(QStringLiteral("No se pudo."), c.error);
        const QStringList lineas = t.split(QStringLiteral("\r\n"));
        ASSERT_GE(lineas.size(), 3) << t.toStdString();
        EXPECT_EQ(lineas[1], c.frase) << t.toStdString();
        EXPECT_TRUE(lineas[2].startsWith(QStringLiteral("Detalle del servidor: "))) << t.toStdString();
        EXPECT_FALSE(t.contains(QStringLiteral("[cadSQL]")) || t.contains(QStringLiteral("secreto")) ||
                     t.contains(QStringLiteral("LINE 1")))
            << t.toStdString();
    }
}

} // namespace

namespace {

TEST_F(SqlLayer, ShapeStatingCalls) {
    ASSERT_TRUE(sql::ejecutar(QStringLiteral("CREATE TEMP TABLE formas (a int, b text)")).ok());
    const sql::Hecho puestas =
        sql::ejecutar(QStringLiteral("INSERT INTO formas VALUES (?, ?), (?, ?)"),
                      {db::Parametro{db::FieldType::Integer32, QStringLiteral("1")},
                       db::Parametro{db::FieldType::Text, QStringLiteral("it's; DROP TABLE formas")},
                       db::Parametro{db::FieldType::Integer32, QStringLiteral("2")}, db::Parametro{}});
    ASSERT_TRUE(puestas.ok()) << puestas.error.toStdString();
    EXPECT_EQ(puestas.filas, 2);

    const sql::Valor texto = sql::valor(QStringLiteral("SELECT b FROM formas WHERE a = 1"));
    ASSERT_TRUE(texto.ok());
    EXPECT_EQ(texto.texto(), QStringLiteral("it's; DROP TABLE formas"));
    const sql::Valor nulo = sql::valor(QStringLiteral("SELECT b FROM formas WHERE a = 2"));
    EXPECT_TRUE(nulo.ok() && nulo.hayFila && !nulo.valor.has_value());
    const sql::Valor ninguna = sql::valor(QStringLiteral("SELECT b FROM formas WHERE a = 3"));
    EXPECT_TRUE(ninguna.ok() && !ninguna.hayFila);
    EXPECT_FALSE(sql::valor(QStringLiteral("SELECT nada FROM formas")).ok());

    const sql::Filas filas = sql::filas(QStringLiteral("SELECT a FROM formas ORDER BY a"));
    ASSERT_TRUE(filas.ok());
    EXPECT_EQ(filas.rs->recordCount(), 2);

    // A transaction of the shared connection that is not committed leaves nothing.
    {
        db::Transaccion t = sql::transaccion();
        db::DbError e;
        ASSERT_TRUE(t.begin(e));
        ASSERT_TRUE(sql::ejecutar(QStringLiteral("DELETE FROM formas")).ok());
    }
    EXPECT_EQ(sql::valor(QStringLiteral("SELECT count(*) FROM formas")).texto(), QStringLiteral("2"));
}

} // namespace
