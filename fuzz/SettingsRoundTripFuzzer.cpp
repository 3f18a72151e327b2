// Any document that loads, written and read back: an equal document, written as identical bytes.

#include "SettingsFuzzing.h"

#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace quorvane;
using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<Configuration> loaded
        = fuzzing::loadSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!loaded)
        return 0;
    const std::string written = serializeJSON(encodeConfiguration(*loaded));
    const nlohmann::json document = parseJSON(written);
    const Configuration readBack = decodeConfiguration(JSONValue(document));
    readBack.validate();
    require(readBack == *loaded, "a written document reads back equal");
    require(serializeJSON(encodeConfiguration(readBack)) == written,
        "a document read back is written as the same bytes");
    return 0;
}
