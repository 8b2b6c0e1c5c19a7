#include "platform/db.h"

#include <gtest/gtest.h>

using namespace v7::db;

TEST(ConnectionStrings, PasswordsAreRedactedAndBraced) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"DRIVER={X};UID=a;PWD={s3cr;et}", "DRIVER={X};UID=a;PWD=<redacted>"},
        {"UID=a;PWD={a}}b};DATABASE=v", "UID=a;PWD=<redacted>;DATABASE=v"},
        {"UID=a;PWD=bare;DATABASE=v", "UID=a;PWD=<redacted>;DATABASE=v"},
        {"uid=a;pwd=bare", "uid=a;pwd=<redacted>"},
        {"Ocurrió el error: 1 x\r\nDRIVER={X};PWD={p}", "Ocurrió el error: 1 x\r\nDRIVER={X};PWD=<redacted>"},
        {"no password here", "no password here"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(redactPassword(QString::fromUtf8(c.in)).toStdString(), c.out) << c.in;
    }
    EXPECT_EQ(braceValue(QStringLiteral("a}b;c")), QStringLiteral("{a}}b;c}"));
}

TEST(ErrorsClassified, LostConnectionStates) {
    for (const char* s : {"08S01", "08001", "08003", "57P01", "57P02", "57P03"}) {
        EXPECT_TRUE((DbError{QString::fromLatin1(s), 0, {}}).isLostConnection()) << s;
    }
    for (const char* s : {"42P01", "23505", "57014", ""}) {
        EXPECT_FALSE((DbError{QString::fromLatin1(s), 0, {}}).isLostConnection()) << s;
    }
}

TEST(Recordsets, FilterAndNavigation) {
    Recordset rs({{QStringLiteral("descripcion"), FieldType::Text}, {QStringLiteral("valor"), FieldType::Text}},
                 {{QStringLiteral("A"), QStringLiteral("1")},
                  {QStringLiteral("B"), std::nullopt},
                  {QStringLiteral("A"), QStringLiteral("3")}});
    EXPECT_EQ(rs.recordCount(), 3);
    rs.setFilter(QStringLiteral("DESCRIPCION"), QStringLiteral("A"));
    EXPECT_EQ(rs.recordCount(), 2);
    EXPECT_EQ(rs.text(QStringLiteral("valor")), QStringLiteral("1"));
    rs.moveNext();
    EXPECT_EQ(rs.text(1), QStringLiteral("3"));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_FALSE(rs.value(0).has_value());
    rs.setFilter(QStringLiteral("missing"), QStringLiteral("A"));
    EXPECT_TRUE(rs.eof());
    rs.clearFilter();
    EXPECT_EQ(rs.recordCount(), 3);
    rs.moveNext();
    EXPECT_TRUE(rs.isNull(QStringLiteral("valor")));
}

TEST(Statements, PasswordsInEchoedStatementsAreRedacted) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"CREATE ROLE \"a\" LOGIN PASSWORD 'x''y;z' IN ROLE v7_admin;",
         "CREATE ROLE \"a\" LOGIN PASSWORD '<redacted>' IN ROLE v7_admin;"},
        {"ALTER ROLE a WITH ENCRYPTED password E'a\\\\b'", "ALTER ROLE a WITH ENCRYPTED password '<redacted>'"},
        {"export PGPASSWORD='p'\\''q'\nexport PATH=x", "export PGPASSWORD=<redacted>\nexport PATH=x"},
        {"SELECT 'PASSWORDS are long'", "SELECT 'PASSWORDS are long'"},
        {"ALTER ROLE a PASSWORD NULL", "ALTER ROLE a PASSWORD NULL"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(redactStatement(QString::fromUtf8(c.in)).toStdString(), c.out) << c.in;
    }
}
