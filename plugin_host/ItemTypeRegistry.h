#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// Fixed item types. Ids from kFirstPluginItemType up are names that plug-ins registered.
namespace ItemType {
constexpr int32_t Dll = 1;
constexpr int32_t File = 2;
constexpr int32_t Process = 3;
constexpr int32_t Directory = 4;
constexpr int32_t Autorun = 5;
constexpr int32_t Policy = 6;
constexpr int32_t Thread = 9;
constexpr int32_t Registry = 10;
constexpr int32_t InformationFeedBack = 11;
constexpr int32_t FirstPluginType = 0x1000;  // plug-in types are above it: 0x1001, 0x1002, ...
}  // namespace ItemType

// The process-wide table of item type names. Plug-ins extend it with names of their own; type ids
// hold for the whole process. Written only while plug-ins load (one thread), read later.
class ItemTypeRegistry {
public:
    static ItemTypeRegistry& Instance();

    // Exact comparison, case and length included, searched in id order.
    std::optional<int32_t> Find(const std::wstring& name) const;
    // Gives `name` the next free plug-in type id (the first added name gets 4097).
    int32_t Add(const std::wstring& name);
    std::optional<std::wstring> NameOf(int32_t typeId) const;
    // Find, then Add when not found.
    int32_t RegisterTypeName(const std::wstring& name);

    ItemTypeRegistry();
    ItemTypeRegistry(const ItemTypeRegistry&) = delete;
    ItemTypeRegistry& operator=(const ItemTypeRegistry&) = delete;

private:
    int32_t counter_ = ItemType::FirstPluginType;
    std::map<int32_t, std::wstring> names_;
};
