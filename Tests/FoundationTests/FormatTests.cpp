#include "Foundation/Format.h"

#include "Foundation/JSON.h"
#include "FoundationTests/CommaLocale.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <string_view>

using namespace quorvane;

TEST(FormatTest, RoundsFixedPointAsPrintfDoes)
{
    struct Case {
        double value;
        int decimals;
        std::string_view text;
    };
    const Case cases[] = {
        {0.125, 2, "0.12"}, // an exact tie goes to the even digit
        {0.375, 2, "0.38"},
        {1.005, 2, "1.00"}, // 1.005 is stored a little below itself
        {2.5, 0, "2"},
        {-0.001, 2, "-0.00"},
        {std::numeric_limits<double>::quiet_NaN(), 2, "nan"},
        {-std::numeric_limits<double>::infinity(), 2, "-inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatFixed(c.value, c.decimals), c.text);
    }
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::max(), 3).size(), 1 + 309 + 1 + 3);
}

TEST(FormatTest, NumbersIgnoreADecimalCommaLocaleAndAreNeverGrouped)
{
    const ScopedCommaLocale commaLocale;
    if (!commaLocale.isActive())
        GTEST_SKIP() << ScopedCommaLocale::missingMessage;
    EXPECT_EQ(formatFixed(-1234.5, 1), "-1234.5");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatUnsigned(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(serializeJSON(encodeDouble(59.94)), "59.94");
    const nlohmann::json document = parseJSON("[59.94]");
    EXPECT_EQ(decodeDouble(JSONValue(document).elements().front()), 59.94);
}
