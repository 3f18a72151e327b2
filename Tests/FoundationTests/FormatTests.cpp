#include "Foundation/Format.h"

#include "Foundation/JSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <clocale>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>

using namespace quorvane;

namespace {

/// Switches the numeric C locale to one that writes a decimal comma, as the user interface does
/// when it adopts the user's locale, and back afterwards. Inactive where none was generated.
struct ScopedCommaLocale {
    ScopedCommaLocale()
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_NUMERIC, name) && isActive())
                return;
        }
        std::setlocale(LC_NUMERIC, previous.c_str());
    }
    ~ScopedCommaLocale() { std::setlocale(LC_NUMERIC, previous.c_str()); }
    static bool isActive() { return std::string_view(std::localeconv()->decimal_point) == ","; }

    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
};

} // namespace

TEST(FormatTest, RoundsFixedPointAsPrintfDoes)
{
    const std::tuple<double, int, std::string_view> cases[] = {
        {0.125, 2, "0.12"}, // an exact tie goes to the even digit
        {0.375, 2, "0.38"},
        {1.005, 2, "1.00"}, // 1.005 is stored a little below itself
        {2.5, 0, "2"},
        {-0.001, 2, "-0.00"},
        {std::numeric_limits<double>::quiet_NaN(), 2, "nan"},
        {-std::numeric_limits<double>::infinity(), 2, "-inf"},
    };
    for (const auto& [value, decimals, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(formatFixed(value, decimals), text);
    }
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::max(), 3).size(), 1 + 309 + 1 + 3);
}

TEST(FormatTest, NumbersIgnoreADecimalCommaLocaleAndAreNeverGrouped)
{
    const ScopedCommaLocale commaLocale;
    if (!commaLocale.isActive())
        GTEST_SKIP()
            << "No locale with a decimal comma: `localedef -i de_DE -f UTF-8 de_DE.UTF-8`.";
    EXPECT_EQ(formatFixed(-1234.5, 1), "-1234.5");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatUnsigned(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(serializeJSON(encodeDouble(59.94)), "59.94");
    const nlohmann::json document = parseJSON("[59.94]");
    EXPECT_EQ(decodeDouble(JSONValue(document).elements().front()), 59.94);
}
