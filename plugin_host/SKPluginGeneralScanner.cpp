#include "plugin_host/SKPluginGeneralScanner.h"

#include "plugin_host/IScanCommunicator.h"
#include "plugin_host/PluginText.h"

namespace Gantry {
namespace plugin {

std::wstring SKPluginGeneralScanner::GetName() { return CopyPluginText(handler_->GetName()); }

void SKPluginGeneralScanner::Scan(void*) {
    handler_->SetReporter(this);
    handler_->Scan();
}

void SKPluginGeneralScanner::ReportFound(int pluginId, IPluginFound* found) {
    if (!found || !communicator_) return;
    const std::wstring threatClass = CopyPluginText(found->GetThreatClass());
    const std::wstring threatName = CopyPluginText(found->GetThreatName());
    const std::wstring name = CopyPluginText(found->GetName());
    const std::wstring handlerName = CopyPluginText(handler_->GetName());
    const int32_t kDetected = 1;
    const int32_t kSubRank = 3;
    communicator_->ReportFindingFields(pluginId, handlerName, kDetected, kSubRank, found->GetId(), found->GetTypeId(),
                                       name, threatName, threatClass, std::wstring(), std::wstring());
}

}  // namespace plugin
}  // namespace Gantry
