#include "engine/SKScanManager.h"

#include <stdexcept>
#include <vector>

#include "platform/access/SKDirEnum.h"
#include "platform/log/Logger.h"
#include "platform/system/OrdinalName.h"
#include "platform/win32/KernelHandle.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/SKFile.h"
#include "plugin_host/SKItemManager.h"

static const wchar_t kLogSource[] = L"SKScanManager";

namespace {

constexpr int32_t kFileScannerKeyBase = 0x10000;

class SystemDriveProbe : public IDriveProbe {
public:
    DWORD LogicalDrives() override { return GetLogicalDrives(); }
    UINT DriveType(const std::wstring& root) override { return GetDriveTypeW(root.c_str()); }
};

bool IsFollowableDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

}  // namespace

SKScanManager::SKScanManager(SKItemManager* items, IUiProgressCB* ui, std::shared_ptr<IDriveProbe> drives)
    : items_(items), ui_(ui), drives_(drives ? std::move(drives) : std::make_shared<SystemDriveProbe>()) {}

SKScanManager::~SKScanManager() = default;

void SKScanManager::AddGeneralScanner(int32_t index, std::shared_ptr<ISKGeneralScanner> scanner) {
    if (!scanner) return;
    scanner->SetReporter(this);
    generalScanners_[index] = std::move(scanner);
}

void SKScanManager::AddFileScanner(int32_t index, std::shared_ptr<ISKFileScanner> scanner) {
    if (!scanner) return;
    scanner->SetReporter(this);
    const int32_t key = index + kFileScannerKeyBase;
    if (scanner->ScansTargetFiles()) targetFileScanners_[key] = scanner;
    if (scanner->ScansDirectoryFiles()) directoryFileScanners_[key] = scanner;
}

void SKScanManager::Stop() {
    stop_ = 1;
    if (ISKGeneralScanner* current = currentGeneralScanner_.load()) current->Cancel();
}

void SKScanManager::Scan() {
    try {
        KernelHandle started(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        KernelHandle finished(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!started.IsValid() || !finished.IsValid()) throw std::runtime_error("fail to create event");
        fileStarted_ = started.Get();
        fileFinished_ = finished.Get();
        tickIntervalMs_ = 1000;
        KernelHandle thread(CreateThread(nullptr, 0, &SKScanManager::ScanThreadFunc, this, 0, nullptr));
        if (!thread.IsValid()) {
            fileStarted_ = fileFinished_ = nullptr;
            throw std::runtime_error("create thread fail");
        }
        Watch(thread.Get());
        fileStarted_ = fileFinished_ = nullptr;
    } catch (const std::exception& error) {
        TW_LOG(LogLevel::Error, "SKScanManager::Scan() %s", error.what());
    }
}

// Times each file's scan in ticks until the scan thread ends. The tick count only feeds the
// time-out lines that the scan thread writes.
void SKScanManager::Watch(HANDLE thread) {
    HANDLE waitables[3] = {thread, fileStarted_, fileFinished_};
    DWORD timeout = INFINITE;
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(3, waitables, FALSE, timeout);
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_OBJECT_0 + 1) {
            timedOut_ = 0;
            tickCount_ = 0;
            timeout = tickIntervalMs_;
        } else if (woke == WAIT_OBJECT_0 + 2) {
            timeout = INFINITE;
        } else if (woke == WAIT_TIMEOUT) {
            timedOut_ = 1;
            ++tickCount_;
        } else if (woke == WAIT_FAILED) {
            // Waiting again on the same handles would spin; the scan thread still has to be waited for.
            TW_LOG(LogLevel::Error, "SKScanManager::Scan() WaitForMultipleObjects Error=%d", (int)GetLastError());
            WaitForSingleObject(thread, INFINITE);
            break;
        }
    }
    TW_LOG(LogLevel::Info, "SKScanManager::Scan() S_SCAN_THREAT_END");
}

DWORD WINAPI SKScanManager::ScanThreadFunc(LPVOID self) {
    try {
        static_cast<SKScanManager*>(self)->RunScanPass();
    } catch (const scan_stop_error&) {
        TW_LOG(LogLevel::Detail, "ScanThreadFunc scan_stop_error");
    } catch (const std::exception& error) {
        // Nothing may leave a thread function; a failed allocation ends the scan like a stop.
        TW_LOG(LogLevel::Error, "ScanThreadFunc %s", error.what());
    }
    return 0;
}

void SKScanManager::CheckStop() const {
    if (stop_) throw scan_stop_error();
}

void SKScanManager::SignalFileStarted() {
    // The previous file's verdict must not leak into this file's time-out line if the watchdog
    // has not run yet when this file ends.
    timedOut_ = 0;
    tickCount_ = 0;
    if (fileStarted_) SetEvent(fileStarted_);
}

void SKScanManager::SignalFileFinished() {
    if (fileFinished_) SetEvent(fileFinished_);
}

void SKScanManager::RunScanPass() {
    TW_LOG(LogLevel::Enter, "%s", "SKScanManager::Scan()");
    EnumerateTargets();
    CheckStop();
    for (auto& entry : generalScanners_) {
        if (stop_) break;
        currentGeneralScanner_ = entry.second.get();
        entry.second->Scan(items_);
    }
    currentGeneralScanner_ = nullptr;

    auto& directories = items_->TargetDirectories();
    totalFiles_ = static_cast<int32_t>(items_->TargetFiles().size());
    for (const auto& directory : directories) totalFiles_ += directory.second.expectedFileCount;
    filesDone_ = 0;
    finished_ = 0;

    ScanTargetFiles();
    CheckStop();
    for (const auto& directory : directories) {
        CheckStop();
        ScanDirectory(directory.second.path, directory.second.recursive);
    }
    finished_ = 1;
    TW_LOG(LogLevel::Leave, "%s", "SKScanManager::Scan()");
}

void SKScanManager::ScanTargetFiles() {
    // A finding may add to the file table while this runs; the targets are the files known now.
    const std::vector<TargetFile> targets = items_->TargetFiles();
    for (const TargetFile& target : targets) {
        CheckStop();
        TW_LOG(LogLevel::Info, "SKScanManager::Scan() File[%S]", target.path.c_str());
        SignalFileStarted();
        for (auto& entry : targetFileScanners_) {
            CheckStop();
            entry.second->Scan(static_cast<IFile*>(target.file.get()));
        }
        SignalFileFinished();
        CheckStop();
        if (timedOut_) {
            TW_LOG(LogLevel::Info, "SKScanManager::Scan() Timeout(%d)", (int)(tickCount_ * tickIntervalMs_));
        }
        ++filesDone_;
    }
}

void SKScanManager::ScanDirectory(const std::wstring& root, int32_t recursive) {
    // Depth-first in the order the file system lists entries, with one open enumerator per level on
    // an explicit stack, so that a very deep tree cannot exhaust the scan thread's stack.
    std::vector<std::pair<std::wstring, std::shared_ptr<EnumFindImpl>>> open;
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;

    auto enter = [&](const std::wstring& folder) -> bool {
        auto enumerator = CreateDirEnum(folder, L"*");
        if (!First(enumerator, path, attributes, size)) {
            const int error = (int)GetLastError();
            TW_LOG(LogLevel::Error, "SKCorvexScanner::scanDirectory() dirEnum->First(%S), Error=%d", folder.c_str(),
                   error);
            return false;
        }
        open.emplace_back(folder, std::move(enumerator));
        return true;
    };

    if (!enter(root)) return;
    for (;;) {
        // `path`, `attributes` and `size` hold the entry to handle next.
        CheckStop();
        if (IsFollowableDirectory(attributes)) {
            if (recursive) {
                const std::wstring folder = path;
                if (enter(folder)) continue;
            }
        } else {
            ScanDirectoryFile(path);
        }
        // Next entry: from the innermost folder that still has one.
        bool more = false;
        while (!open.empty()) {
            if (Next(open.back().second, path, attributes, size)) {
                more = true;
                break;
            }
            open.pop_back();
        }
        if (!more) return;
    }
}

void SKScanManager::ScanDirectoryFile(const std::wstring& path) {
    TW_LOG(LogLevel::Info, "SKScanManager::scanDirectory() File(%d/%d)[%S]", (int)filesDone_, (int)totalFiles_,
           path.c_str());
    if (!items_->TargetFiles().empty() && items_->FindTargetFile(path)) {
        TW_LOG(LogLevel::Detail, "SKScanManager::scanDirectory() Skip Scanned File");
    } else {
        // Timed as the explicit target files are, so that a scanner stuck on one file shows in the log.
        SignalFileStarted();
        SKFile file(path);
        for (auto& entry : directoryFileScanners_) {
            CheckStop();
            entry.second->Scan(static_cast<IFile*>(&file));
        }
        SignalFileFinished();
        if (timedOut_) {
            TW_LOG(LogLevel::Info, "SKScanManager::scanDirectory() Timeout(%d)", (int)(tickCount_ * tickIntervalMs_));
        }
    }
    ++filesDone_;
}

void SKScanManager::EnumerateTargets() {
    static const char kOperation[] = "SKScanManager::EnumerateTargets()";
    TW_LOG(LogLevel::Enter, "%s", kOperation);
    if (targetFileScanners_.empty()) {
        TW_LOG(LogLevel::Info, "%s no file scanner; skip file enumeration", kOperation);
        return;
    }
    const DWORD mask = drives_->LogicalDrives();
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
        if (!(mask & (1u << (letter - L'A')))) continue;
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (drives_->DriveType(root) == DRIVE_FIXED) items_->AddTargetDirectory(root, 1);
    }
    TW_LOG(LogLevel::Leave, "%s", kOperation);
}

void SKScanManager::ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) {
    items_->ReportModuleUsage(modulePath, usedBy);
}

void SKScanManager::ReportActivity(int32_t, int32_t, const std::wstring&) { SignalFileFinished(); }

void SKScanManager::ReportActivityEx(int32_t, const std::wstring&, int32_t, int32_t, const std::wstring&,
                                     const std::wstring&, const std::wstring&, const std::wstring&) {
    SignalFileFinished();
}

void SKScanManager::ReportFinding(const FindingRecord* finding) {
    SignalFileFinished();
    if (!finding) return;

    ScanResult* match = nullptr;
    for (auto& entry : items_->Results()) {
        ScanResult& result = entry.second;
        if (result.itemType == finding->itemType && EqualIgnoringCase(result.name, finding->name)) {
            match = &result;
            break;
        }
    }

    bool tellPage = false;
    int32_t resultId;
    if (match) {
        const int32_t severityBefore = match->severity;
        if (finding->severity > match->severity ||
            (finding->severity == match->severity && finding->subRank > match->subRank)) {
            match->name = finding->name;
            match->severity = finding->severity;
            match->subRank = finding->subRank;
            match->detail = finding->detail;
            match->excludedFromCleaning = 1;
            if (finding->severity == 2) {
                match->handlerName = match->threatName = match->threatClass = L"Suspicious";
            } else if (finding->severity == 3 || finding->severity == 4) {
                match->handlerName = finding->handlerName;
                match->threatName = finding->threatName;
                match->threatClass = finding->threatClass;
            }
        }
        match->count += finding->count;
        tellPage = finding->severity == 4 && severityBefore != 4;
        resultId = match->id;
    } else {
        resultId = items_->CreateResultFromFinding(*finding).id;
        tellPage = finding->severity == 4;
    }
    items_->AddFinding(resultId, *finding);
    if (tellPage) {
        if (ScanResult* result = items_->FindResult(resultId)) NotifyPage(*result);
    }
}

void SKScanManager::ReportFindingFields(int32_t /*pluginId*/, const std::wstring& handlerName, int32_t detectionFlag,
                                        int32_t subRank, int32_t sourceValue, int32_t itemType,
                                        const std::wstring& name, const std::wstring& threatName,
                                        const std::wstring& threatClass, const std::wstring& /*extraText1*/,
                                        const std::wstring& /*extraText2*/) {
    SignalFileFinished();
    ScanResult result;
    result.sourceValue = sourceValue;
    result.itemType = itemType;
    result.name = name;
    result.subRank = subRank;
    if (detectionFlag) {
        result.severity = 4;
        result.count = 0;
        result.handlerName = handlerName;
        result.threatName = threatName;
        result.threatClass = threatClass;
    }
    const int32_t id = items_->FileResult(std::move(result));
    NotifyPage(*items_->FindResult(id));
}

void SKScanManager::NotifyPage(const ScanResult& result) {
    if (!ui_) return;
    FoundItemRecord found;
    found.threatName = result.threatName;
    found.description = result.name;
    found.itemId = result.id;
    found.information = result.itemType == ItemType::InformationFeedBack;
    found.setting = !found.information && result.threatClass == L"Setting";
    found.threatClass = result.threatClass;
    ui_->OnItemFound(found);
}
