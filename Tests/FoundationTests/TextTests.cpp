#include "Foundation/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace quorvane;

TEST(TextTest, TrimsUnicodeWhiteSpaceAtBothEndsOnly)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"\t\r\n Work\r\n\t", "Work"},
        {"\v\f\u0085\u1680Work\x0B", "Work"},
        {"\u00A0\u2000Work\u200A\u00A0", "Work"}, // no-break space, the spaces U+2000...U+200A
        {"\u3000\u2028Work\u2029\u202F\u205F", "Work"}, // ideographic space, line separator
        {"\U0010FFFF Deep\u00A0\u3000Work\u2028", "\U0010FFFF Deep\u00A0\u3000Work"},
        // Neither zero-width space, byte order mark nor Mongolian vowel separator is white space.
        {"\u200B\uFEFFWork\u180E", "\u200B\uFEFFWork\u180E"},
        {" \u00A0\u3000\r\n", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(trimmed(text), expected);
        EXPECT_EQ(isBlank(text), expected.empty());
        EXPECT_TRUE(isValidUTF8(text));
    }
    EXPECT_EQ(trimmed(std::string_view("   ", 2)), ""); // only the bytes given are read
}

TEST(TextTest, NeverTrimsBytesThatAreNotUTF8)
{
    // Stray or cut-short white space, overlong forms of it, a surrogate, values too large.
    const std::string_view sequences[] = {"\xA0", "\xC2", "\xE3\x80", "\xC0\xA0", "\xE0\x80\xA0",
        "\xED\xA0\x80", "\xED\xBF\xBF", "\x80\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
        "\xF8\x88\x80\x80\x80", "\xFF"};
    for (const std::string_view bytes : sequences) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_FALSE(isValidUTF8(bytes));
        const std::string kept = std::string(bytes) + " Work " + std::string(bytes);
        EXPECT_EQ(trimmed(" " + kept + "\u3000"), kept);
    }
}

TEST(TextTest, LowercasesOnlyASCIILetters)
{
    EXPECT_EQ(asciiLowercased("Com.Example.APP-9 \u00C4\u00D6"), "com.example.app-9 \u00C4\u00D6");
}

TEST(TextTest, AcceptsEachLengthsSmallestAndLargestScalarsAndJoinsWithSeparators)
{
    for (const std::string_view bytes : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF",
             "\xEE\x80\x80", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_TRUE(isValidUTF8(bytes));
    }
    EXPECT_EQ(joined({"a", "b", "c"}, ", "), "a, b, c");
    EXPECT_EQ(joined({}, ", "), "");
}
