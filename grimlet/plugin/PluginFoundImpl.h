#pragma once
// One finding as the host sees it. The handler keeps a copy of every finding it reported, so that a
// later Clean can hand the same object back.
#include <string>
#include <utility>

#include "plugin_host/PluginInterface.h"

class PluginFoundImpl final : public IPluginFound {
public:
    // `typeId` 0: the plug-in's own type ("PLUGIN FOR GRIMLET").
    PluginFoundImpl(int id, std::wstring name, std::wstring threatClass, std::wstring threatName, int typeId = 0)
        : id_(id), typeId_(typeId), name_(std::move(name)), threatClass_(std::move(threatClass)),
          threatName_(std::move(threatName)) {}
    PluginFoundImpl(const PluginFoundImpl&) = default;
    PluginFoundImpl& operator=(const PluginFoundImpl&) = default;
    ~PluginFoundImpl() = default;

    int SK_PLUGIN_CALL GetId() override { return id_; }
    int SK_PLUGIN_CALL GetTypeId() override;
    const wchar_t* SK_PLUGIN_CALL GetName() override { return name_.c_str(); }
    const wchar_t* SK_PLUGIN_CALL GetThreatClass() override { return threatClass_.c_str(); }
    const wchar_t* SK_PLUGIN_CALL GetThreatName() override { return threatName_.c_str(); }

private:
    int id_;
    int typeId_;
    std::wstring name_;
    std::wstring threatClass_;
    std::wstring threatName_;
};
