#include "engine/ScanController.h"

#include <new>

#include "engine/SKCleanManager.h"
#include "engine/SKScanManager.h"
#include "platform/log/Logger.h"
#include "platform/system/SKEnvironment.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/SKItemManager.h"
#include "plugin_host/SKPluginManager.h"

static const wchar_t kLogSource[] = L"ScanController";

using Gantry::plugin::SKPluginManager;

ScanController::ScanController() = default;
ScanController::~ScanController() = default;

bool ScanController::Initialize(IUiProgressCB* ui) {
    TW_LOG(LogLevel::Detail, "ScanController::Initialize()");
    if (!SKEnvironment::Instance()->Setup()) return false;
    environmentSetUp_ = 1;

    itemManager_ = std::shared_ptr<SKItemManager>(new (std::nothrow) SKItemManager());
    if (!itemManager_) return false;
    pluginManager_ = std::shared_ptr<SKPluginManager>(new (std::nothrow) SKPluginManager());
    if (!pluginManager_) return false;
    pluginManager_->LoadPlugin();
    scanManager_ = std::shared_ptr<SKScanManager>(new (std::nothrow) SKScanManager(itemManager_.get(), ui));
    if (!scanManager_) return false;
    cleanManager_ = std::shared_ptr<SKCleanManager>(new (std::nothrow) SKCleanManager(itemManager_.get(), ui));
    if (!cleanManager_) return false;
    WireHandlers();
    return true;
}

// One adapter per handler and role, each group numbered from 0 in the plug-in manager's order.
void ScanController::WireHandlers() {
    int32_t index = 0;
    std::shared_ptr<ISKFileScanner> fileScanner;
    for (int more = pluginManager_->FirstFileScanner(fileScanner); more;
         more = pluginManager_->NextFileScanner(fileScanner)) {
        scanManager_->AddFileScanner(index++, fileScanner);
    }

    index = 0;
    SKItemCleaner* cleaner = nullptr;
    for (int more = pluginManager_->FirstFileCleaner(cleaner); more;
         more = pluginManager_->NextFileCleaner(cleaner)) {
        cleanManager_->AddCleaner(index++ + kFileCleanerKeyBase, cleaner);
    }

    index = 0;
    std::shared_ptr<ISKGeneralScanner> generalScanner;
    for (int more = pluginManager_->FirstGeneralScanner(generalScanner); more;
         more = pluginManager_->NextGeneralScanner(generalScanner)) {
        scanManager_->AddGeneralScanner(index++, generalScanner);
    }

    index = 0;
    for (int more = pluginManager_->FirstGeneralCleaner(cleaner); more;
         more = pluginManager_->NextGeneralCleaner(cleaner)) {
        cleanManager_->AddCleaner(index++, cleaner);
    }
}

void ScanController::Deinitialize() {
    TW_LOG(LogLevel::Detail, "ScanController::Deinitialize()");
    itemManager_.reset();
    scanManager_.reset();
    cleanManager_.reset();
    pluginManager_.reset();
    if (environmentSetUp_ == 1) {
        SKEnvironment::Instance()->Teardown();
        environmentSetUp_ = 0;
    }
}

void ScanController::Clean(const std::vector<int32_t>& itemIds) {
    if (itemIds.empty()) return;
    if (!itemManager_ || !cleanManager_) return;
    for (int32_t id : itemIds) {
        if (ScanResult* item = itemManager_->FindResult(id)) {
            // Information, not a threat: nothing to clean.
            if (item->itemType == ItemType::InformationFeedBack) continue;
            item->excludedFromCleaning = 0;
        } else {
            TW_LOG(LogLevel::Critical, "ScanController::Clean() cannot find result(%d); possible data corruption",
                   (int)id);
        }
    }
    cleanManager_->Clean();
}
