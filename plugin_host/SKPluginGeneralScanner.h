#pragma once
#include "plugin_host/ISKScanner.h"
#include "plugin_host/PluginInterface.h"

namespace Gantry {
namespace plugin {

// A plug-in's general handler as a host scanner: each finding goes to the scan manager as a threat
// of the plug-in's own item type. Holds the handler without a reference; the plug-in manager's
// reference keeps it alive.
class SKPluginGeneralScanner : public ISKGeneralScanner, public IPluginReporter {
public:
    explicit SKPluginGeneralScanner(IPluginGeneralHandler* handler) : handler_(handler) {}

    std::wstring GetName() override;
    int32_t GetId() override { return handler_->GetId(); }
    void SetReporter(IScanCommunicator* communicator) override { communicator_ = communicator; }
    int32_t Probe(int32_t) override { return 1; }
    void Cancel() override {}
    int32_t IsGeneral() override { return 1; }
    void Scan(void* itemManager) override;

    void SK_PLUGIN_CALL ReportFound(int pluginId, IPluginFound* found) override;
    void SK_PLUGIN_CALL ReportCleanResult(int, IPluginFound*, int) override {}

private:
    IPluginGeneralHandler* handler_;
    IScanCommunicator* communicator_ = nullptr;
};

}  // namespace plugin
}  // namespace Gantry
