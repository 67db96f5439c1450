// MAPI property tags, types and values: the vocabulary shared by the MIME import, the MSG
// writer and the PST engine.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace mapi {

enum class PropType : std::uint16_t {
    Int16 = 0x0002,
    Int32 = 0x0003,
    Boolean = 0x000B,
    Int64 = 0x0014,
    String8 = 0x001E,
    Unicode = 0x001F,
    SysTime = 0x0040,
    Guid = 0x0048,
    Binary = 0x0102,
    MvInt32 = 0x1003,
    MvUnicode = 0x101F,
    MvBinary = 0x1102,
    Object = 0x000D,
};

using PropTag = std::uint32_t;

constexpr PropTag MakeTag(std::uint16_t id, PropType type) {
    return (static_cast<PropTag>(id) << 16) | static_cast<std::uint16_t>(type);
}
constexpr std::uint16_t TagId(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr PropType TagType(PropTag tag) { return static_cast<PropType>(tag & 0xFFFF); }

// A FILETIME: 100 ns ticks since 1601-01-01 UTC.
struct Filetime {
    std::uint64_t ticks = 0;
    bool operator==(const Filetime&) const = default;
};

using Binary = std::vector<std::uint8_t>;
using Guid = std::array<std::uint8_t, 16>;  // in its on-disk (little-endian fields) byte order

// Strings are held as UTF-8; the writers turn them into UTF-16 where the format wants it.
using PropValue = std::variant<std::int16_t, std::int32_t, bool, std::int64_t, Filetime, std::string,
                               Binary, Guid, std::vector<std::int32_t>, std::vector<std::string>,
                               std::vector<Binary>>;

// A named property: a property set and either a numeric id (LID) or a name.
struct NamedProperty {
    Guid property_set{};
    std::optional<std::uint32_t> lid;
    std::string name;  // used when lid is absent
    PropType type = PropType::Unicode;
    bool operator<(const NamedProperty& other) const;
    bool operator==(const NamedProperty& other) const;
};

// Properties of one object, ordered by tag.
class PropertyBag {
public:
    void Set(PropTag tag, PropValue value) { props_[tag] = std::move(value); }
    void Remove(PropTag tag) { props_.erase(tag); }
    bool Has(PropTag tag) const { return props_.count(tag) != 0; }
    const PropValue* Find(PropTag tag) const;
    std::optional<std::string> GetString(PropTag tag) const;
    std::optional<std::int32_t> GetInt32(PropTag tag) const;
    std::optional<bool> GetBool(PropTag tag) const;
    std::optional<Filetime> GetTime(PropTag tag) const;
    const Binary* GetBinary(PropTag tag) const;
    const std::map<PropTag, PropValue>& all() const { return props_; }
    bool empty() const { return props_.empty(); }

    // Named properties, kept apart until a writer maps them to ids of its own.
    void SetNamed(const NamedProperty& name, PropValue value) { named_[name] = std::move(value); }
    const PropValue* FindNamed(const NamedProperty& name) const;
    const std::map<NamedProperty, PropValue>& named() const { return named_; }

private:
    std::map<PropTag, PropValue> props_;
    std::map<NamedProperty, PropValue> named_;
};

}  // namespace mapi
