#pragma once
#include <cstddef>

#include "plugin_host/PluginInterface.h"
#include "plugin_host/SKItemCleaner.h"

namespace Gantry {
namespace plugin {

// A plug-in's file handler as a host cleaner: one CleanFile call per chosen file; the outcome it
// reports belongs to the file being cleaned.
class SKPluginFileCleaner : public SKItemCleaner, public IPluginReporter {
public:
    explicit SKPluginFileCleaner(IPluginFileHandler* handler) : handler_(handler) {}

    int32_t IsAvailable() override { return 1; }
    int32_t GetId() override { return handler_->GetId(); }
    std::wstring GetName() override;
    void Clean(CleanRequestList* requests) override;
    void SetReporter(ICleanReporter* reporter) override { reporter_ = reporter; }

    void SK_PLUGIN_CALL ReportFound(int, IPluginFound*) override {}
    void SK_PLUGIN_CALL ReportCleanResult(int pluginId, IPluginFound* found, int outcome) override;

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    IPluginFileHandler* handler_;
    ICleanReporter* reporter_ = nullptr;
    CleanRequestList* requests_ = nullptr;
    // Position, not address, of the request being cleaned: a later clean may grow the list.
    std::size_t cleaning_ = kNone;
};

}  // namespace plugin
}  // namespace Gantry
