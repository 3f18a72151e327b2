#include "Foundation/UUID.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace quorvane {
namespace {

UUID randomFromLibuuid()
{
    uuid_t raw;
    uuid_generate_random(raw);
    UUID::Bytes bytes;
    std::copy(std::begin(raw), std::end(raw), bytes.begin());
    return UUID(bytes);
}

UUIDGenerator& currentGenerator()
{
    static UUIDGenerator generator = randomFromLibuuid;
    return generator;
}

std::optional<std::uint8_t> hexDigit(char character)
{
    if (character >= '0' && character <= '9')
        return static_cast<std::uint8_t>(character - '0');
    if (character >= 'a' && character <= 'f')
        return static_cast<std::uint8_t>(character - 'a' + 10);
    if (character >= 'A' && character <= 'F')
        return static_cast<std::uint8_t>(character - 'A' + 10);
    return std::nullopt;
}

bool isDashPosition(std::size_t index)
{
    return index == 8 || index == 13 || index == 18 || index == 23;
}

std::string format(const UUID::Bytes& bytes, const char* digits)
{
    std::string text;
    text.reserve(36);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10)
            text.push_back('-');
        text.push_back(digits[bytes[index] >> 4]);
        text.push_back(digits[bytes[index] & 0x0F]);
    }
    return text;
}

} // namespace

UUID UUID::random() { return currentGenerator()(); }

std::optional<UUID> UUID::parse(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (isDashPosition(index)) {
            if (text[index] != '-')
                return std::nullopt;
            continue;
        }
        const auto digit = hexDigit(text[index]);
        if (!digit)
            return std::nullopt;
        bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | *digit);
        ++nibble;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const { return format(m_bytes, "0123456789ABCDEF"); }

std::string UUID::lowercasedString() const { return format(m_bytes, "0123456789abcdef"); }

ScopedUUIDGenerator::ScopedUUIDGenerator(UUIDGenerator generator)
    : m_previous(std::exchange(currentGenerator(), std::move(generator)))
{
}

ScopedUUIDGenerator::~ScopedUUIDGenerator() { currentGenerator() = std::move(m_previous); }

UUIDGenerator sequentialUUIDGenerator()
{
    return [next = std::uint64_t{0}]() mutable {
        ++next;
        UUID::Bytes bytes{};
        for (std::size_t index = 0; index < 8; ++index)
            bytes[15 - index] = static_cast<std::uint8_t>(next >> (8 * index));
        return UUID(bytes);
    };
}

} // namespace quorvane

std::size_t std::hash<quorvane::UUID>::operator()(const quorvane::UUID& uuid) const noexcept
{
    // Combining byte by byte gave identifiers that differ only in their last bytes (as the
    // sequential ones of tests do) many equal hashes; the string hash mixes all 16 bytes.
    const auto& bytes = uuid.bytes();
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
