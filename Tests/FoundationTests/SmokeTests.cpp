#include "Foundation/UUID.h"
#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include <gtest/gtest.h>
using namespace quorvane;
TEST(Smoke, Works){ EXPECT_EQ(formatFixed(59.94,2),"59.94"); EXPECT_EQ(trimmed("\u00a0 ab\u3000"),"ab"); auto u=UUID::parse("0f4a5b6c-1111-2222-3333-abcdefABCDEF"); ASSERT_TRUE(u); EXPECT_EQ(u->uuidString(),"0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");}
