#include "plugin_host/SKPluginFileCleaner.h"

#include <string>

#include "plugin_host/CleanOutcome.h"
#include "plugin_host/CleanRequestList.h"
#include "plugin_host/ICleanReporter.h"
#include "plugin_host/PluginText.h"

namespace Gantry {
namespace plugin {

std::wstring SKPluginFileCleaner::GetName() { return CopyPluginText(handler_->GetName()); }

void SKPluginFileCleaner::Clean(CleanRequestList* requests) {
    handler_->SetReporter(this);
    requests_ = requests;
    if (!requests) return;
    const int32_t operation = handler_->GetId() + CleanOperation::FileBase;
    std::size_t index = 0;
    for (CleanRequest* request = requests->First(); request; request = requests->Next(), ++index) {
        if (request->operation != operation) continue;
        cleaning_ = index;
        const std::wstring path = request->path;
        handler_->CleanFile(path.c_str());
    }
}

void SKPluginFileCleaner::ReportCleanResult(int pluginId, IPluginFound* found, int outcome) {
    if (!found || !requests_ || !reporter_ || cleaning_ >= requests_->Size()) return;
    const CleanRequest& request = requests_->At(cleaning_);
    CleanResult result(request.itemId, CopyPluginText(handler_->GetName()));
    result.action = L"Clean";
    result.kind = L"File";
    result.name = CopyPluginText(found->GetName());
    result.status = CleanStatusFromPluginOutcome(outcome);
    result.pluginOutcome = outcome;
    reporter_->ReportCleanResult(pluginId, &request, &result);
}

}  // namespace plugin
}  // namespace Gantry
