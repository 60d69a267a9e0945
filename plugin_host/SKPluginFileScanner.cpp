#include "plugin_host/SKPluginFileScanner.h"

#include "plugin_host/FindingRecord.h"
#include "plugin_host/IScanCommunicator.h"
#include "plugin_host/PluginText.h"
#include "plugin_host/IFile.h"

namespace Gantry {
namespace plugin {

SKPluginFileScanner::SKPluginFileScanner(IPluginFileHandler* handler)
    : handler_(handler), handlerName_(CopyPluginText(handler->GetName())) {}

void SKPluginFileScanner::Scan(void* file) {
    if (!file) return;
    handler_->SetReporter(this);
    const std::wstring path = static_cast<IFile*>(file)->GetPath();
    handler_->ScanFile(path.c_str());
}

void SKPluginFileScanner::ReportFound(int pluginId, IPluginFound* found) {
    if (!found || !communicator_) return;
    // Whatever type the plug-in claims, a file handler's finding is the file itself.
    FindingRecord finding(pluginId, CopyPluginText(handler_->GetName()));
    finding.severity = 4;
    finding.subRank = 3;
    finding.itemType = ItemType::File;
    finding.name = CopyPluginText(found->GetName());
    finding.threatName = CopyPluginText(found->GetThreatName());
    finding.threatClass = CopyPluginText(found->GetThreatClass());
    communicator_->ReportFinding(&finding);
}

}  // namespace plugin
}  // namespace Gantry
