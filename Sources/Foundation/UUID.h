// UUID values: strict parsing, upper-case text, random generation that tests can replace.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

class UUID final {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    /// The nil UUID (all zero); real identifiers come from random() or parse().
    UUID() = default;
    explicit UUID(const Bytes& bytes)
        : m_bytes(bytes)
    {
    }

    /// A new random (version 4) UUID from the current generator; see ScopedUUIDGenerator.
    [[nodiscard]] static UUID random();

    /// Accepts exactly 36 characters in the 8-4-4-4-12 hexadecimal form, either case;
    /// absent for anything else (braces, surrounding blanks, missing dashes).
    [[nodiscard]] static std::optional<UUID> parse(std::string_view text);

    /// The 8-4-4-4-12 form in upper case.
    [[nodiscard]] std::string uuidString() const;
    /// The 8-4-4-4-12 form in lower case.
    [[nodiscard]] std::string lowercasedString() const;

    [[nodiscard]] const Bytes& bytes() const noexcept { return m_bytes; }

    /// Inline word compares: the defaulted one calls memcmp, and a lookup by id makes many.
    bool operator==(const UUID& other) const noexcept
    {
        return std::memcmp(m_bytes.data(), other.m_bytes.data(), sizeof(Bytes)) == 0;
    }
    auto operator<=>(const UUID&) const = default;

private:
    Bytes m_bytes{};
};

using UUIDGenerator = std::function<UUID()>;

/// Replaces the generator behind UUID::random() for the scope's lifetime, so tests get
/// predictable identifiers; the previous generator comes back on destruction.
class ScopedUUIDGenerator final {
public:
    explicit ScopedUUIDGenerator(UUIDGenerator generator);
    ~ScopedUUIDGenerator();
    ScopedUUIDGenerator(const ScopedUUIDGenerator&) = delete;
    ScopedUUIDGenerator& operator=(const ScopedUUIDGenerator&) = delete;

private:
    UUIDGenerator m_previous;
};

/// A generator that hands out 00000000-0000-0000-0000-000000000001, ...0002 and so on.
[[nodiscard]] UUIDGenerator sequentialUUIDGenerator();

} // namespace quorvane

template <> struct std::hash<quorvane::UUID> {
    std::size_t operator()(const quorvane::UUID& uuid) const noexcept;
};
