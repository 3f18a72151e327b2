#include "Foundation/UUID.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <unordered_set>

using namespace quorvane;

namespace {

bool isVersion4(const UUID& uuid)
{
    return (uuid.bytes()[6] & 0xF0) == 0x40 && (uuid.bytes()[8] & 0xC0) == 0x80;
}

} // namespace

TEST(UUIDTest, ParsesOnlyTheHyphenatedHexadecimalFormInEitherCase)
{
    struct Case {
        std::string_view text;
        std::optional<std::string_view> uuidString;
    };
    const Case cases[] = {
        {"0f4a5b6c-1111-2222-3333-abcdefabcdef", "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF"},
        {"0F4A5B6C-1111-2222-3333-ABCDEFABCDEF", "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF"},
        {"0f4A5b6C-1111-2222-3333-AbCdEfaBcDeF", "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF"},
        {"00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"},
        {"{0f4a5b6c-1111-2222-3333-abcdefabcdef}", std::nullopt},
        {" 0f4a5b6c-1111-2222-3333-abcdefabcdef", std::nullopt},
        {"0f4a5b6c-1111-2222-3333-abcdefabcdef ", std::nullopt},
        {"0f4a5b6c-1111-2222-3333-abcdefabcdef\n", std::nullopt},
        {"0f4a5b6c111122223333abcdefabcdef", std::nullopt},
        {"0f4a5b6c-11112-222-3333-abcdefabcdef", std::nullopt},
        {"0f4a5b6c-1111-2222-3333-abcdefabcde", std::nullopt},
        {"0f4a5b6c-1111-2222-3333-abcdefabcdef0", std::nullopt},
        {"0f4a5b6g-1111-2222-3333-abcdefabcdef", std::nullopt},
        {"0f4a5b6c-1111-2222-3333-abcdefabcd f", std::nullopt},
        {"0f4a5b6c-+111-2222-3333-abcdefabcdef", std::nullopt},
        {"0f4a5b6c_1111_2222_3333_abcdefabcdef", std::nullopt},
        {"urn:uuid:0f4a5b6c-1111-2222-3333-abcd", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<UUID> uuid = UUID::parse(c.text);
        EXPECT_EQ(uuid ? std::optional(uuid->uuidString()) : std::nullopt, c.uuidString);
    }
}

TEST(UUIDTest, WritesUpperCaseTextThatParsesBackEqual)
{
    const UUID uuid(UUID::Bytes{0x0f, 0x4a, 0x5b, 0x6c, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0xab,
        0xcd, 0xef, 0xab, 0xcd, 0xef});
    EXPECT_EQ(uuid.uuidString(), "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
    EXPECT_EQ(uuid.lowercasedString(), "0f4a5b6c-1111-2222-3333-abcdefabcdef");
    EXPECT_EQ(UUID::parse(uuid.uuidString()), uuid);
    EXPECT_EQ(UUID::parse(uuid.lowercasedString()), uuid);
}

TEST(UUIDTest, EqualUUIDsHashEqualAndNeighboursHashApart)
{
    const auto parsed = UUID::parse("0f4a5b6c-1111-2222-3333-abcdefabcdef");
    const auto sameInUpperCase = UUID::parse("0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
    ASSERT_TRUE(parsed && sameInUpperCase);
    EXPECT_EQ(std::hash<UUID>{}(*parsed), std::hash<UUID>{}(*sameInUpperCase));

    const UUIDGenerator next = sequentialUUIDGenerator();
    std::unordered_set<std::size_t> hashes;
    for (int count = 0; count < 1000; ++count)
        hashes.insert(std::hash<UUID>{}(next()));
    EXPECT_EQ(hashes.size(), 1000u);
}

TEST(UUIDTest, RandomUUIDsAreVersion4AndDiffer)
{
    const UUID first = UUID::random();
    const UUID second = UUID::random();
    EXPECT_TRUE(isVersion4(first)) << first.uuidString();
    EXPECT_TRUE(isVersion4(second)) << second.uuidString();
    EXPECT_NE(first, second);
}

TEST(UUIDTest, ScopedGeneratorReplacesRandomUntilItEnds)
{
    {
        const ScopedUUIDGenerator sequential(sequentialUUIDGenerator());
        EXPECT_EQ(UUID::random().uuidString(), "00000000-0000-0000-0000-000000000001");
        {
            const ScopedUUIDGenerator fixed([] { return UUID(); });
            EXPECT_EQ(UUID::random(), UUID());
        }
        EXPECT_EQ(UUID::random().uuidString(), "00000000-0000-0000-0000-000000000002");
    }
    EXPECT_TRUE(isVersion4(UUID::random()));
}
