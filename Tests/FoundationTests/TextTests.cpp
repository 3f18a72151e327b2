#include "Foundation/Text.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace quorvane;

TEST(TextTest, TrimsUnicodeWhiteSpaceAtBothEndsOnly)
{
    struct Case {
        std::string_view text;
        std::string_view trimmed;
    };
    const Case cases[] = {
        {"  Work  ", "Work"},
        {"\t\r\nWork\r\n\t", "Work"},
        {"\v\fWork\x0B", "Work"},
        {"\u00A0Work\u00A0", "Work"}, // no-break space
        {"\u3000Work\u3000", "Work"}, // ideographic space
        {"\u2028Work\u2029", "Work"}, // line and paragraph separators
        {"\u0085\u1680\u2000\u200AWork\u202F\u205F", "Work"},
        {"  Deep Work  ", "Deep Work"},
        {"Deep\u00A0\u3000Work", "Deep\u00A0\u3000Work"},
        {"\u200BWork\u200B", "\u200BWork\u200B"}, // zero-width space is not white space
        {"\uFEFFWork", "\uFEFFWork"}, // neither is the byte order mark
        {"\u180EWork", "\u180EWork"}, // nor, since Unicode 6.3, the Mongolian vowel separator
        {" \u00A0\u3000\n", ""},
        {"", ""},
        {"é", "é"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(trimmed(c.text), c.trimmed);
        EXPECT_EQ(isBlank(c.text), c.trimmed.empty());
    }
}

TEST(TextTest, NeverTrimsBytesThatAreNotUTF8)
{
    struct Case {
        std::string_view text;
        std::string_view trimmed;
    };
    const Case cases[] = {
        {"\xA0Work", "\xA0Work"}, // the second byte of a no-break space alone
        {" \xC2", "\xC2"}, // a no-break space cut short
        {"\xC2 ", "\xC2"},
        {"Work\xE3\x80", "Work\xE3\x80"}, // an ideographic space cut short
        {"\xE3\x80 ", "\xE3\x80"},
        {"\xC0\xA0Work\xC0\xA0", "\xC0\xA0Work\xC0\xA0"}, // overlong forms of a space
        {"\xE0\x80\xA0Work", "\xE0\x80\xA0Work"},
        {"\xED\xA0\x80 ", "\xED\xA0\x80"}, // an encoded surrogate
        {" \x80\x80\x80\x80 ", "\x80\x80\x80\x80"},
        {"\xFF", "\xFF"},
        {"\x80", "\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(trimmed(c.text), c.trimmed);
    }
}

TEST(TextTest, RecognisesWellFormedUTF8)
{
    struct Case {
        std::string_view text;
        bool isValid;
    };
    const Case cases[] = {
        {"", true},
        {"Quorvane", true},
        {"\u00E9\u3000\U0001F600\U0010FFFF", true},
        {"\xC3", false},
        {"\xC3\x28", false},
        {"\x80", false},
        {"\xC1\xBF", false}, // overlong
        {"\xF0\x8F\xBF\xBF", false}, // overlong
        {"\xED\xA0\x80", false}, // surrogate
        {"\xF4\x90\x80\x80", false}, // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", false},
        {"\xFE", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(isValidUTF8(c.text), c.isValid);
    }
}

TEST(TextTest, LowercasesOnlyASCIILetters)
{
    EXPECT_EQ(asciiLowercased("Com.Example.APP-9 \u00C4\u00D6"), "com.example.app-9 \u00C4\u00D6");
}
