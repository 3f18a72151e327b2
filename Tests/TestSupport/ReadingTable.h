// Tables of JSON decoding cases: a document, and what a decoder reads from it or the error it
// throws, both as text.
#pragma once

#include "Foundation/JSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvane {

/// Decodes a document: what it read as compact JSON text, or the error's kind and text
/// ("typeMismatch: Expected a Bool but found an integer.").
using Reader = std::function<std::string(std::string_view document)>;

/// A Reader for `decode`, whose result `encode` turns back into JSON (by default, the result
/// is JSON already).
template <typename Decode, typename Encode = std::identity>
Reader reading(Decode decode, Encode encode = {})
{
    return [decode, encode](std::string_view document) -> std::string {
        const nlohmann::json json = parseJSON(document);
        try {
            return nlohmann::json(encode(decode(JSONValue(json)))).dump();
        } catch (const JSONDecodingError& error) {
            constexpr std::string_view kinds[]
                = {"keyNotFound", "valueNotFound", "typeMismatch", "dataCorrupted"};
            return std::string(kinds[static_cast<int>(error.kind())]) + ": " + error.what();
        }
    };
}

struct ReadCase {
    Reader read;
    std::string_view document;
    std::string_view outcome;
};

inline void expectOutcomes(std::initializer_list<ReadCase> cases)
{
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(c.read(c.document), c.outcome);
    }
}

} // namespace quorvane
