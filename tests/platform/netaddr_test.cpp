#include "platform/netaddr.h"

#include <gtest/gtest.h>

using namespace v7;

namespace {

TEST(LocalAddresses, HoldLoopbackOnceAndOnlyAddressTexts) {
    const QStringList addresses = net::direccionesLocales();
    EXPECT_EQ(addresses.count(QStringLiteral("127.0.0.1")), 1) << addresses.join(QLatin1Char(' ')).toStdString();
    for (const QString& a : addresses) {
        EXPECT_FALSE(a.contains(QLatin1Char('%'))) << a.toStdString();
        EXPECT_EQ(addresses.count(a), 1) << a.toStdString();
    }
    EXPECT_FALSE(addresses.contains(QStringLiteral("0.0.0.0")));
}

} // namespace
