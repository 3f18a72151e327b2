#include "Foundation/UUID.h"
#include "QuorvaneCore/Desktop.h"

#include <gtest/gtest.h>

#include <optional>

using namespace quorvane;

TEST(DesktopTest, IdentifiedPrefersAValidUUIDThenTheSessionFormThenNothing)
{
    const UUID session = *UUID::parse("0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
    EXPECT_EQ(Desktop::identified("A1B2C3D4-0000-4000-8000-00000000000F", 7, 2, session),
        (Desktop{"a1b2c3d4-0000-4000-8000-00000000000f", "Space 2"}));
    EXPECT_EQ(Desktop::identified("not-a-uuid", 42, 2, session),
        (Desktop{"session:0F4A5B6C-1111-2222-3333-ABCDEFABCDEF:42", "Space 2 · this session"}));
    EXPECT_EQ(Desktop::identified(std::nullopt, 0, 2, session), std::nullopt);
    EXPECT_EQ(Desktop::identified("not-a-uuid", std::nullopt, 2, session), std::nullopt);
    EXPECT_TRUE(Desktop::identified(std::nullopt, 9, 1, session)->isSessionOnly());
    EXPECT_FALSE(Desktop::identified(session.uuidString(), 9, 1, session)->isSessionOnly());
}
