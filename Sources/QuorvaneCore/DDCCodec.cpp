#include "QuorvaneCore/DDCCodec.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <numeric>

namespace quorvane {

namespace {

constexpr std::uint8_t monitorAddress = 0x6E; // 0x37 on I2C, shifted left by one
constexpr std::uint8_t hostSourceAddress = 0x51;
constexpr std::uint8_t hostReplyAddress = 0x50; // stands in for the destination of a reply

constexpr std::uint8_t getVCPFeatureOpcode = 0x01;
constexpr std::uint8_t getVCPFeatureReplyOpcode = 0x02;
constexpr std::uint8_t setVCPFeatureOpcode = 0x03;
constexpr std::uint8_t noErrorResult = 0x00;

constexpr std::size_t replyLength = 11;

[[nodiscard]] std::uint8_t lengthByte(std::size_t bodyLength)
{
    return static_cast<std::uint8_t>(0x80 | bodyLength);
}

[[nodiscard]] std::uint8_t checksum(std::uint8_t seed, std::span<const std::uint8_t> bytes)
{
    return std::accumulate(bytes.begin(), bytes.end(), seed, std::bit_xor<std::uint8_t>{});
}

/// Appends the checksum of a request to the monitor: the XOR of both bus addresses and every byte.
[[nodiscard]] std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> bytes)
{
    bytes.push_back(checksum(monitorAddress ^ hostSourceAddress, bytes));
    return bytes;
}

[[nodiscard]] std::uint16_t bigEndian(std::uint8_t high, std::uint8_t low)
{
    return static_cast<std::uint16_t>(high << 8 | low);
}

[[nodiscard]] bool hasReplyHeader(std::span<const std::uint8_t> reply, std::uint8_t code)
{
    // Eight bytes follow the length byte: opcode, result, code, type, maximum and current.
    const std::uint8_t expected[]
        = {monitorAddress, lengthByte(8), getVCPFeatureReplyOpcode, noErrorResult, code};
    return std::ranges::equal(reply.first(std::size(expected)), expected);
}

} // namespace

std::vector<std::uint8_t> DDCCodec::readRequest(std::uint8_t code)
{
    return withChecksum({lengthByte(2), getVCPFeatureOpcode, code});
}

std::vector<std::uint8_t> DDCCodec::writeRequest(std::uint8_t code, std::uint16_t value)
{
    const auto high = static_cast<std::uint8_t>(value >> 8);
    const auto low = static_cast<std::uint8_t>(value & 0xFF);
    return withChecksum({lengthByte(4), setVCPFeatureOpcode, code, high, low});
}

std::optional<DDCReading> DDCCodec::decode(std::span<const std::uint8_t> reply, std::uint8_t code)
{
    if (reply.size() < replyLength || !hasReplyHeader(reply, code))
        return std::nullopt;
    if (checksum(hostReplyAddress, reply.first(replyLength - 1)) != reply[replyLength - 1])
        return std::nullopt;
    const DDCReading reading{
        .current = bigEndian(reply[8], reply[9]),
        .maximum = bigEndian(reply[6], reply[7]),
    };
    if (reading.maximum == 0 || reading.current > reading.maximum)
        return std::nullopt;
    return reading;
}

} // namespace quorvane
