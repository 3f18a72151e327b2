// DDC/CI messages for reading and setting one VCP feature of an external monitor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvane {

/// A VCP feature's value as a monitor reports it, with the largest value it accepts.
struct DDCReading {
    std::uint16_t current;
    std::uint16_t maximum;
    bool operator==(const DDCReading&) const = default;
};

/// Builds the Get and Set VCP Feature requests and checks the Get VCP Feature reply. Pure: no
/// state and no input or output; the transport sends the bytes. Multi-byte values are
/// big-endian. The addresses the checksums cover travel on the bus, not in these bytes.
struct DDCCodec final {
    DDCCodec() = delete; // Only a home for the functions below.

    /// The 4-byte Get VCP Feature request for `code`.
    [[nodiscard]] static std::vector<std::uint8_t> readRequest(std::uint8_t code);

    /// The 6-byte Set VCP Feature request that sets `code` to `value`.
    [[nodiscard]] static std::vector<std::uint8_t> writeRequest(
        std::uint8_t code, std::uint16_t value);

    /// The value carried by a Get VCP Feature reply for `code`. Bytes after the eleventh are
    /// ignored. Absent when the reply is short, comes from another sender, is of another kind,
    /// reports an error, answers another code, fails its checksum, has maximum 0 or a current
    /// value above the maximum.
    [[nodiscard]] static std::optional<DDCReading> decode(
        std::span<const std::uint8_t> reply, std::uint8_t code);
};

} // namespace quorvane
