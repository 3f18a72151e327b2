#include "QuorvaneCore/DDCCodec.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <tuple>

using namespace quorvane;

using Bytes = std::vector<std::uint8_t>;

// Requests and valid replies are pinned by the conformance cases; here, what a reply must not be.
TEST(DDCCodecTest, DecodesOnlyValidErrorFreeRepliesForTheCode)
{
    // Current 50 of maximum 100 for code 0x10.
    const Bytes reply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF2};
    // The same reply with one byte changed and the checksum made to match again.
    const auto with = [&](std::size_t index, std::uint8_t value) {
        Bytes changed = reply;
        changed[10] ^= changed[index] ^ value;
        changed[index] = value;
        return changed;
    };
    const std::tuple<std::string, Bytes, std::uint8_t, std::optional<DDCReading>> cases[] = {
        {"current equal to maximum", with(9, 100), 0x10, DDCReading{100, 100}},
        {"another sender", with(0, 0x6F), 0x10, {}},
        {"another length", with(1, 0x89), 0x10, {}},
        {"another opcode", with(2, 0x03), 0x10, {}},
        {"result code 1", with(3, 0x01), 0x10, {}},
        {"wrong checksum", with(10, 0xF3), 0x10, {}},
        {"maximum 0, current 0", {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA4},
            0x10, {}},
        {"current 101 over 100", with(9, 101), 0x10, {}},
    };
    for (const auto& [name, bytes, code, reading] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(DDCCodec::decode(bytes, code), reading);
    }
    // Too short, though a valid checksum lies just past its end.
    EXPECT_EQ(DDCCodec::decode(std::span(reply).first(10), 0x10), std::nullopt);
}
