// Text helpers over UTF-8 strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// `text` without the Unicode white space and line breaks (the White_Space property) at both
/// ends. Bytes that are not valid UTF-8 are never trimmed.
[[nodiscard]] std::string_view trimmed(std::string_view text);

/// True when `text` is empty once trimmed.
[[nodiscard]] bool isBlank(std::string_view text);

/// `text` with A-Z lowered; other characters unchanged. Enough to compare with ASCII words:
/// no other character lowers to an ASCII letter that such a word could hold.
[[nodiscard]] std::string asciiLowercased(std::string_view text);

/// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
[[nodiscard]] bool isValidUTF8(std::string_view text);

/// The parts in order with `separator` between neighbours; empty for no parts.
[[nodiscard]] std::string joined(const std::vector<std::string>& parts, std::string_view separator);

} // namespace quorvane
