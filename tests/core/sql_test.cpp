#include "core/session.h"
#include "core/sql.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"

#include <gtest/gtest.h>

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
    ASSERT_TRUE(ExecuteSQLaction(QStringLiteral("CREATE TABLE IF NOT EXISTS tx_lost (a int); TRUNCATE tx_lost;"), rows, err));
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
