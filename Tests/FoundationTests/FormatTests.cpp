#include "Foundation/Format.h"

#include "FoundationTests/CommaLocale.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <limits>
#include <string_view>

using namespace quorvane;

TEST(FormatTest, WritesIntegersWithoutGrouping)
{
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatInteger(-1), "-1");
    EXPECT_EQ(formatInteger(1234567), "1234567");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatUnsigned(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
}

TEST(FormatTest, RoundsFixedPointAsPrintfDoes)
{
    struct Case {
        double value;
        int decimals;
        std::string_view text;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {59.94, 2, "59.94"},
        {60.0, 2, "60.00"},
        {0.125, 2, "0.12"}, // an exact tie goes to the even digit
        {0.375, 2, "0.38"},
        {1.005, 2, "1.00"}, // 1.005 is stored a little below itself
        {2.5, 0, "2"},
        {-0.001, 2, "-0.00"},
        {1e20, 1, "100000000000000000000.0"},
        {std::numeric_limits<double>::quiet_NaN(), 2, "nan"},
        {infinity, 2, "inf"},
        {-infinity, 2, "-inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatFixed(c.value, c.decimals), c.text);
    }
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::max(), 3).size(), 1 + 309 + 1 + 3);
}

TEST(FormatTest, IgnoresADecimalCommaLocale)
{
    const std::optional<std::string> commaLocale = ScopedCommaLocale::availableName();
    if (!commaLocale)
        GTEST_SKIP() << ScopedCommaLocale::missingMessage;
    const ScopedCommaLocale scope(*commaLocale);

    std::array<char, 32> printed{};
    std::snprintf(printed.data(), printed.size(), "%.2f", 59.94);
    ASSERT_EQ(std::string_view(printed.data()), "59,94") << "the locale switch did not take";

    EXPECT_EQ(formatFixed(59.94, 2), "59.94");
    EXPECT_EQ(formatFixed(-1234.5, 1), "-1234.5");
    EXPECT_EQ(formatInteger(1234567), "1234567");
}
