#include "QuorvaneCore/ControlKey.h"

#include "Foundation/Hash.h"
#include "Foundation/Overloaded.h"

namespace quorvane {

const std::string& ControlTarget::id() const
{
    const auto identifier
        = Overloaded{[](const Display& display) -> const std::string& { return display.id; }};
    return std::visit(identifier, value);
}

} // namespace quorvane

std::size_t std::hash<quorvane::ControlTarget>::operator()(
    const quorvane::ControlTarget& target) const noexcept
{
    return quorvane::hashCombine(target.value.index(), std::hash<std::string>{}(target.id()));
}

std::size_t std::hash<quorvane::ControlKey>::operator()(
    const quorvane::ControlKey& key) const noexcept
{
    using namespace quorvane;
    return hashCombine(std::hash<ControlTarget>{}(key.target),
        std::hash<std::string_view>{}(rawValue(key.setting)));
}
