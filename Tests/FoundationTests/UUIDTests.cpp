#include "Foundation/UUID.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <unordered_set>

using namespace quorvane;

TEST(UUIDTest, ParsesOnlyTheHyphenatedHexadecimalFormInEitherCase)
{
    for (const std::string_view text : {"0f4a5b6c-1111-2222-3333-abcdefabcdef",
             "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF", "0f4A5b6C-1111-2222-3333-AbCdEfaBcDeF"}) {
        SCOPED_TRACE(text);
        const std::optional<UUID> uuid = UUID::parse(text);
        ASSERT_TRUE(uuid);
        EXPECT_EQ(uuid->uuidString(), "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
        EXPECT_EQ(uuid->lowercasedString(), "0f4a5b6c-1111-2222-3333-abcdefabcdef");
    }
    // Braces, blanks, other separators or none, signs, a non-hexadecimal digit, wrong lengths.
    for (const std::string_view text : {"{0f4a5b6c-1111-2222-3333-abcdefabcdef}",
             " 0f4a5b6c-1111-2222-3333-abcdefabcdef", "0f4a5b6c-1111-2222-3333-abcdefabcdef\n",
             "0f4a5b6c_1111_2222_3333_abcdefabcdef", "0f4a5b6c111122223333abcdefabcdef",
             "0f4a5b6c-+111-2222-3333-abcdefabcdef", "0f4a5b6g-1111-2222-3333-abcdefabcdef",
             "0f4a5b6c-1111-2222-3333-abcdefabcde", "0f4a5b6c-1111-2222-3333-abcdefabcdef0", ""}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(UUID::parse(text), std::nullopt);
    }
}

TEST(UUIDTest, UUIDsThatDifferOnlyInTheirLastBytesHashApart)
{
    const UUIDGenerator next = sequentialUUIDGenerator();
    std::unordered_set<std::size_t> hashes;
    for (int count = 0; count < 1000; ++count)
        hashes.insert(std::hash<UUID>{}(next()));
    EXPECT_EQ(hashes.size(), 1000u);
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
    EXPECT_EQ(UUID::random().bytes()[6] & 0xF0, 0x40) << "random (version 4) again";
}
