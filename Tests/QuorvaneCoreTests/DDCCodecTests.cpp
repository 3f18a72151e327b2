#include "QuorvaneCore/DDCCodec.h"

#include <gtest/gtest.h>

#include <string>

using namespace quorvane;

using Bytes = std::vector<std::uint8_t>;

TEST(DDCCodecTest, BuildsRequestsWithTheirChecksums)
{
    struct Case {
        std::string name;
        Bytes request;
        Bytes expected;
    };
    const Case cases[] = {
        {"get brightness", DDCCodec::readRequest(0x10), {0x82, 0x01, 0x10, 0xAC}},
        {"get contrast", DDCCodec::readRequest(0x12), {0x82, 0x01, 0x12, 0xAE}},
        {"set brightness 50", DDCCodec::writeRequest(0x10, 50),
            {0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}},
        {"set contrast 0x1234", DDCCodec::writeRequest(0x12, 0x1234),
            {0x84, 0x03, 0x12, 0x12, 0x34, 0x8C}},
        {"set brightness 0", DDCCodec::writeRequest(0x10, 0), {0x84, 0x03, 0x10, 0x00, 0x00, 0xA8}},
        {"set 0xFFFF", DDCCodec::writeRequest(0xFF, 0xFFFF), {0x84, 0x03, 0xFF, 0xFF, 0xFF, 0x47}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.request, c.expected);
    }
}

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
    struct Case {
        std::string name;
        Bytes reply;
        std::uint8_t code;
        std::optional<DDCReading> reading;
    };
    const Case cases[] = {
        {"brightness", reply, 0x10, DDCReading{.current = 50, .maximum = 100}},
        {"twelfth byte ignored",
            {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF2, 0x5A}, 0x10,
            DDCReading{.current = 50, .maximum = 100}},
        {"contrast with type code 1",
            {0x6E, 0x88, 0x02, 0x00, 0x12, 0x01, 0x12, 0x34, 0x01, 0x02, 0x82}, 0x12,
            DDCReading{.current = 0x0102, .maximum = 0x1234}},
        {"current equal to maximum", with(9, 100), 0x10,
            DDCReading{.current = 100, .maximum = 100}},
        {"asked for another code", reply, 0x12, std::nullopt},
        {"ten bytes", Bytes(reply.begin(), reply.end() - 1), 0x10, std::nullopt},
        {"empty", {}, 0x10, std::nullopt},
        {"another sender", with(0, 0x6F), 0x10, std::nullopt},
        {"another length", with(1, 0x89), 0x10, std::nullopt},
        {"another opcode", with(2, 0x03), 0x10, std::nullopt},
        {"result code 1", with(3, 0x01), 0x10, std::nullopt},
        {"wrong checksum", with(10, 0xF3), 0x10, std::nullopt},
        {"maximum 0, current 0", {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA4},
            0x10, std::nullopt},
        {"current 101 over 100", with(9, 101), 0x10, std::nullopt},
        {"current high byte over maximum", with(8, 0x01), 0x10, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DDCCodec::decode(c.reply, c.code), c.reading);
    }
}
