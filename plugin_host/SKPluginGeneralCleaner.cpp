#include "plugin_host/SKPluginGeneralCleaner.h"

#include <vector>

#include "plugin_host/CleanOutcome.h"
#include "plugin_host/CleanRequestList.h"
#include "plugin_host/ICleanReporter.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/PluginText.h"

std::wstring SKPluginGeneralCleaner::GetName() { return CopyPluginText(handler_->GetName()); }

void SKPluginGeneralCleaner::Clean(CleanRequestList* requests) {
    handler_->SetReporter(this);
    requests_ = requests;
    if (!requests) return;
    const int32_t operation = handler_->GetId() + CleanOperation::GeneralBase;
    std::vector<int> foundIds;
    for (CleanRequest* request = requests->First(); request; request = requests->Next()) {
        if (request->operation == operation) foundIds.push_back(request->sourceValue);
    }
    if (!foundIds.empty()) handler_->Clean(foundIds.data(), static_cast<unsigned int>(foundIds.size()));
}

void SKPluginGeneralCleaner::ReportCleanResult(int pluginId, IPluginFound* found, int outcome) {
    if (!found || !requests_ || !reporter_) return;
    const int32_t operation = pluginId + CleanOperation::GeneralBase;
    const int32_t foundId = found->GetId();
    for (CleanRequest* request = requests_->First(); request; request = requests_->Next()) {
        if (request->operation != operation || request->sourceValue != foundId) continue;
        CleanResult result(request->itemId, CopyPluginText(handler_->GetName()));
        result.action = L"Clean";
        result.kind = ItemTypeRegistry::Instance().NameOf(found->GetTypeId()).value_or(L"Unknown");
        result.name = CopyPluginText(found->GetName());
        result.status = CleanStatusFromPluginOutcome(outcome);
        result.pluginOutcome = outcome;
        reporter_->ReportCleanResult(pluginId, request, &result);
    }
}
