#pragma once
#include <string>

#include "plugin_host/ISKFileScanner.h"
#include "plugin_host/PluginInterface.h"

namespace Gantry {
namespace plugin {

// A plug-in's file handler as a host file scanner: every finding becomes a file item.
class SKPluginFileScanner : public ISKFileScanner, public IPluginReporter {
public:
    explicit SKPluginFileScanner(IPluginFileHandler* handler);

    std::wstring GetName() override { return handlerName_; }
    int32_t GetId() override { return handler_->GetId(); }
    void SetReporter(IScanCommunicator* communicator) override { communicator_ = communicator; }
    int32_t Probe(int32_t) override { return 1; }
    void Cancel() override {}
    int32_t IsGeneral() override { return 0; }
    // `file` is the IFile of the file to scan.
    void Scan(void* file) override;
    int32_t ScansTargetFiles() override { return 1; }
    int32_t ScansDirectoryFiles() override { return 1; }

    void SK_PLUGIN_CALL ReportFound(int pluginId, IPluginFound* found) override;
    void SK_PLUGIN_CALL ReportCleanResult(int, IPluginFound*, int) override {}

private:
    IPluginFileHandler* handler_;
    IScanCommunicator* communicator_ = nullptr;
    std::wstring handlerName_;
};

}  // namespace plugin
}  // namespace Gantry
