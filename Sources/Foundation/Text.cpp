#include "Foundation/Text.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace quorvane {
namespace {

bool isWhiteSpace(char32_t scalar)
{
    switch (scalar) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return scalar >= 0x2000 && scalar <= 0x200A;
    }
}

struct Decoded {
    char32_t scalar;
    std::size_t length;
};

std::uint8_t byteAt(std::string_view text, std::size_t index)
{
    return static_cast<std::uint8_t>(text[index]);
}

/// The scalar that starts at `index`, or absent when the bytes there are not valid UTF-8.
std::optional<Decoded> decodeAt(std::string_view text, std::size_t index)
{
    const std::uint8_t lead = byteAt(text, index);
    if (lead < 0x80)
        return Decoded{lead, 1};
    std::size_t length = 0;
    char32_t scalar = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, scalar = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, scalar = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, scalar = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (index + length > text.size())
        return std::nullopt;
    for (std::size_t offset = 1; offset < length; ++offset) {
        const std::uint8_t continuation = byteAt(text, index + offset);
        if ((continuation & 0xC0) != 0x80)
            return std::nullopt;
        scalar = scalar << 6 | (continuation & 0x3F);
    }
    if (scalar < minimum || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
        return std::nullopt;
    return Decoded{scalar, length};
}

/// The scalar that ends just before `end`, found by walking back over continuation bytes.
std::optional<Decoded> decodeBefore(std::string_view text, std::size_t end)
{
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (byteAt(text, start) & 0xC0) == 0x80)
        --start;
    const auto decoded = decodeAt(text, start);
    if (!decoded || start + decoded->length != end)
        return std::nullopt;
    return decoded;
}

} // namespace

std::string_view trimmed(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto decoded = decodeAt(text, begin);
        if (!decoded || !isWhiteSpace(decoded->scalar))
            break;
        begin += decoded->length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const auto decoded = decodeBefore(text, end);
        if (!decoded || !isWhiteSpace(decoded->scalar))
            break;
        end -= decoded->length;
    }
    return text.substr(begin, end - begin);
}

bool isBlank(std::string_view text) { return trimmed(text).empty(); }

std::string asciiLowercased(std::string_view text)
{
    std::string result(text);
    std::ranges::transform(result, result.begin(), [](char character) {
        return character >= 'A' && character <= 'Z' ? character - 'A' + 'a' : character;
    });
    return result;
}

bool isValidUTF8(std::string_view text)
{
    for (std::size_t index = 0; index < text.size();) {
        const auto decoded = decodeAt(text, index);
        if (!decoded)
            return false;
        index += decoded->length;
    }
    return true;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string result;
    for (std::size_t index = 0; index < parts.size(); ++index) {
        if (index > 0)
            result += separator;
        result += parts[index];
    }
    return result;
}

} // namespace quorvane
