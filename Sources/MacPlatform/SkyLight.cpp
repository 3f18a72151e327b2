#include "MacPlatform/SkyLight.h"

namespace quorvane {

bool PropertyList::Array::operator==(const Array& other) const { return items == other.items; }

bool PropertyList::Dictionary::operator==(const Dictionary& other) const
{
    return entries == other.entries;
}

bool PropertyList::operator==(const PropertyList& other) const { return value == other.value; }

} // namespace quorvane
