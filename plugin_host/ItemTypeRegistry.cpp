#include "plugin_host/ItemTypeRegistry.h"

ItemTypeRegistry& ItemTypeRegistry::Instance() {
    static ItemTypeRegistry registry;
    return registry;
}

ItemTypeRegistry::ItemTypeRegistry()
    : names_{{ItemType::Dll, L"DLL"},
             {ItemType::File, L"File"},
             {ItemType::Process, L"Process"},
             {ItemType::Directory, L"Directory"},
             {ItemType::Autorun, L"Autorun"},
             {ItemType::Policy, L"Policy"},
             {ItemType::Thread, L"Thread"},
             {ItemType::Registry, L"Registry"},
             {ItemType::InformationFeedBack, L"InformationFeedBack"}} {}

std::optional<int32_t> ItemTypeRegistry::Find(const std::wstring& name) const {
    for (const auto& entry : names_) {
        if (entry.second == name) return entry.first;
    }
    return std::nullopt;
}

int32_t ItemTypeRegistry::Add(const std::wstring& name) {
    ++counter_;
    names_[counter_] = name;
    return counter_;
}

std::optional<std::wstring> ItemTypeRegistry::NameOf(int32_t typeId) const {
    auto found = names_.find(typeId);
    if (found == names_.end()) return std::nullopt;
    return found->second;
}

int32_t ItemTypeRegistry::RegisterTypeName(const std::wstring& name) {
    if (auto existing = Find(name)) return *existing;
    return Add(name);
}
