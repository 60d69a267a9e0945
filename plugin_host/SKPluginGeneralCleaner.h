#pragma once
#include "plugin_host/PluginInterface.h"
#include "plugin_host/SKItemCleaner.h"

// A plug-in's general handler as a host cleaner: all of the handler's chosen items go to it in one
// Clean call, and each outcome it reports is matched back to its request by found id.
class SKPluginGeneralCleaner : public SKItemCleaner, public IPluginReporter {
public:
    explicit SKPluginGeneralCleaner(IPluginGeneralHandler* handler) : handler_(handler) {}

    int32_t IsAvailable() override { return 1; }
    int32_t GetId() override { return handler_->GetId(); }
    std::wstring GetName() override;
    void Clean(CleanRequestList* requests) override;
    void SetReporter(ICleanReporter* reporter) override { reporter_ = reporter; }

    void SK_PLUGIN_CALL ReportFound(int, IPluginFound*) override {}
    void SK_PLUGIN_CALL ReportCleanResult(int pluginId, IPluginFound* found, int outcome) override;

private:
    IPluginGeneralHandler* handler_;
    ICleanReporter* reporter_ = nullptr;
    CleanRequestList* requests_ = nullptr;
};
