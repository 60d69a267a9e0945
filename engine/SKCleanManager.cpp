#include "engine/SKCleanManager.h"

#include <windows.h>

#include <mutex>

#include "platform/log/Logger.h"
#include "platform/system/DeviceProfile.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/SKEnvironment.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/SKItemManager.h"

static const wchar_t kLogSource[] = L"SKCleanManager";

namespace {

// Reading files that deny the user needs the backup privilege; asking once is enough for the process.
void EnableBackupPrivilegeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { SKEnvironment::Instance()->SetPrivilege(L"SeBackupPrivilege"); });
}

int32_t OutcomeForPage(int32_t status) {
    return (status >= CleanStatus::Cleaned && status <= CleanStatus::CleanedAfterRestart) ? status : 0;
}

}  // namespace

SKCleanManager::SKCleanManager(SKItemManager* items, IUiProgressCB* ui, DriveWritability writable)
    : items_(items), ui_(ui), writable_(writable ? std::move(writable) : DriveWritability(&IsDriveWritable)) {}

SKCleanManager::~SKCleanManager() = default;

void SKCleanManager::AddCleaner(int32_t key, SKItemCleaner* cleaner) {
    if (!cleaner) return;
    cleaner->SetReporter(this);
    cleaners_[key].reset(cleaner);
}

void SKCleanManager::Clean() {
    TW_LOG_SCOPE("SKCleanManager::Clean()");
    OrganizeList();
    for (auto& entry : cleaners_) entry.second->Clean(&items_->CleanRequests());
}

void SKCleanManager::OrganizeList() {
    if (items_->Results().empty()) return;
    EnableBackupPrivilegeOnce();
    for (const auto& entry : items_->Results()) {
        const ScanResult& result = entry.second;
        if (result.excludedFromCleaning || result.itemType == ItemType::InformationFeedBack) continue;
        TW_LOG(LogLevel::Detail, "SKCleanManager::OrganizeList() Filter(%S)", result.name.c_str());
        if (result.itemType >= ItemType::FirstPluginType) {
            for (auto& cleaner : cleaners_) {
                if (!EqualIgnoringCase(cleaner.second->GetName(), result.handlerName)) continue;
                CleanRequest request;
                request.itemId = result.id;
                request.operation = cleaner.second->GetId() + CleanOperation::GeneralBase;
                request.sourceValue = result.sourceValue;
                items_->CleanRequests().Append(request);
            }
        } else if (result.itemType == ItemType::File) {
            if (result.threatClass == L"Trojan") continue;
            for (auto& cleaner : cleaners_) {
                if (!(cleaner.first & kFileCleanerKeyBase)) continue;
                if (!EqualIgnoringCase(cleaner.second->GetName(), result.handlerName)) continue;
                CleanRequest request;
                request.itemId = result.id;
                request.operation = cleaner.second->GetId() + CleanOperation::FileBase;
                request.path = result.name;
                request.sourceValue = result.sourceValue;
                items_->CleanRequests().Append(request);
            }
        } else {
            TW_LOG(LogLevel::Warning, "SKCleanManager: Detected item of type %X not handled by any cleaner",
                   (unsigned)result.itemType);
        }
    }
}

void SKCleanManager::ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) {
    items_->ReportModuleUsage(modulePath, usedBy);
}

void SKCleanManager::ReportCleanResult(int32_t /*pluginId*/, const CleanRequest* request, CleanResult* result) {
    if (!request || !result) return;
    ScanResult* item = items_->FindResult(request->itemId);
    if (!item) {
        TW_LOG(LogLevel::Error, "SKCleanManager::ReportCleanResult() cannot find ScanResult of id(%d)",
               (int)request->itemId);
        return;
    }
    if (item->itemType == ItemType::File && result->kind == L"File" &&
        !writable_(item->name.substr(0, 2))) {
        result->status = CleanStatus::Failed;
        result->reasonCode = 5;
        result->message = L"File is on a read-only device";
    }
    switch (result->status) {
        case CleanStatus::Cleaned:
            item->cleanState = 1;
            break;
        case CleanStatus::Failed:
            item->cleanState = 2;
            break;
        case CleanStatus::CleanedAfterRestart:
            item->cleanState = 1;
            item->rebootNeeded = 1;
            break;
        default:
            break;
    }
    if (ui_) {
        CleanOutcomeRecord outcome;
        outcome.itemId = item->id;
        outcome.outcome = OutcomeForPage(result->status);
        outcome.pluginOutcome = result->pluginOutcome;
        ui_->ReportCleanResult(outcome);
    }
    items_->AddCleanResult(*result);
}
