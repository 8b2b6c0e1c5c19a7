#include "core/sqlutil.h"
#include "tests/support/pg_cluster.h"

#include <gtest/gtest.h>

using namespace v7;
using v7::test::PgCluster;

// Every quoted name and literal reads back on the server as exactly the text it was made from.
TEST(Quoting, IdentifiersAndLiteralsReadBackUnchanged) {
    const char* textos[] = {"simple",       "O'Brien",   "adm;in", "with \"quotes\"", "back\\slash", "x' OR '1'='1",
                            "Ñandú ümlaut", "trailing ", ""};
    for (const char* t : textos) {
        const QString texto = QString::fromUtf8(t);
        EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT ") + citarLiteral(texto)), texto) << t;
        if (!texto.isEmpty()) {
            // The quoted name becomes a column's name exactly as written.
            EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("CREATE TEMP TABLE q (") + citarIdentificador(texto) +
                                                   QStringLiteral(" int); SELECT attname FROM pg_attribute WHERE "
                                                                  "attrelid = 'q'::regclass AND attnum = 1")),
                      texto)
                << t;
        }
    }
    EXPECT_EQ(citarIdentificador(QStringLiteral("a\"b")), QStringLiteral("\"a\"\"b\""));
    EXPECT_EQ(citarIdentificador(QStringLiteral("s"), QStringLiteral("T")), QStringLiteral("\"s\".\"T\""));
    EXPECT_EQ(citarLiteral(QStringLiteral("a\\b")), QStringLiteral("E'a\\\\b'"));
}

TEST(Quoting, NumbersAreWrittenInTheirShortestForm) {
    EXPECT_EQ(FormatearValorSQL(0.1, kTipoNumero), QStringLiteral("0.1"));
    EXPECT_EQ(FormatearValorSQL(QStringLiteral("2.675"), kTipoNumero), QStringLiteral("2.675"));
    EXPECT_EQ(FormatearValorSQL(1e-7, kTipoNumero), QStringLiteral("1e-07"));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT ") + FormatearValorSQL(0.1, kTipoNumero) +
                                           QStringLiteral("::float8 = 0.1::float8")),
              QStringLiteral("t"));
}
