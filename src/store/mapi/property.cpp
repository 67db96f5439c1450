#include "store/mapi/property.h"

#include <tuple>

namespace mapi {

bool NamedProperty::operator<(const NamedProperty& other) const {
    return std::tie(property_set, lid, name) < std::tie(other.property_set, other.lid, other.name);
}

bool NamedProperty::operator==(const NamedProperty& other) const {
    return property_set == other.property_set && lid == other.lid && name == other.name;
}

const PropValue* PropertyBag::Find(PropTag tag) const {
    auto it = props_.find(tag);
    return it == props_.end() ? nullptr : &it->second;
}

const PropValue* PropertyBag::FindNamed(const NamedProperty& name) const {
    auto it = named_.find(name);
    return it == named_.end() ? nullptr : &it->second;
}

template <typename T>
static std::optional<T> GetAs(const PropertyBag& bag, PropTag tag) {
    const PropValue* value = bag.Find(tag);
    if (value == nullptr) return std::nullopt;
    if (const T* typed = std::get_if<T>(value)) return *typed;
    return std::nullopt;
}

std::optional<std::string> PropertyBag::GetString(PropTag tag) const { return GetAs<std::string>(*this, tag); }
std::optional<std::int32_t> PropertyBag::GetInt32(PropTag tag) const { return GetAs<std::int32_t>(*this, tag); }
std::optional<bool> PropertyBag::GetBool(PropTag tag) const { return GetAs<bool>(*this, tag); }
std::optional<Filetime> PropertyBag::GetTime(PropTag tag) const { return GetAs<Filetime>(*this, tag); }

const Binary* PropertyBag::GetBinary(PropTag tag) const {
    const PropValue* value = Find(tag);
    return value == nullptr ? nullptr : std::get_if<Binary>(value);
}

}  // namespace mapi
