#include "Foundation/UUID.h"
#include "QuorvaneCore/Desktop.h"

#include <gtest/gtest.h>

#include <optional>

using namespace quorvane;

TEST(DesktopTest, IdentifiedPrefersAValidUUIDOverTheRuntimeIdentifier)
{
    const UUID session = *UUID::parse("0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
    struct Case {
        const char* name;
        std::optional<std::string_view> uuid;
        std::optional<std::uint64_t> runtimeID;
        std::optional<Desktop> expected;
    };
    const Case cases[] = {
        {"valid upper-case UUID", "A1B2C3D4-0000-4000-8000-00000000000F", 7,
            Desktop{.id = "a1b2c3d4-0000-4000-8000-00000000000f", .name = "Space 2"}},
        {"no UUID but a runtime identifier", "not-a-uuid", 42,
            Desktop{.id = "session:0F4A5B6C-1111-2222-3333-ABCDEFABCDEF:42",
                .name = "Space 2 · this session"}},
        {"runtime identifier 0", std::nullopt, 0, std::nullopt},
        {"neither", "not-a-uuid", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Desktop::identified(c.uuid, c.runtimeID, 2, session), c.expected);
    }
}

TEST(DesktopTest, OnlySessionIdentitiesAreSessionOnly)
{
    const UUID session = UUID::random();
    EXPECT_TRUE(Desktop::identified(std::nullopt, 9, 1, session)->isSessionOnly());
    EXPECT_FALSE(Desktop::identified(session.uuidString(), 9, 1, session)->isSessionOnly());
}
