#include "grimlet/services/WormServiceStep.h"

#include <cwchar>

#include "grimlet/common/TrustedSigner.h"
#include "grimlet/services/MendrelLauncher.h"
#include "grimlet/services/ServiceScan.h"
#include "platform/log/Logger.h"
#include "plugin_host/PluginInterface.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

std::vector<ServiceEntry>& MutableServiceList() {
    static std::vector<ServiceEntry> entries;
    return entries;
}

bool IsTrusted(const std::wstring& path) { return IsSignedByTrustedSigner(path); }

}  // namespace

const std::vector<ServiceEntry>& ServiceList() { return MutableServiceList(); }

ScanRecord MakeWormServiceRecord(const ServiceEntry& entry) {
    ScanRecord record;
    record.kind = kScanRecordWormService;
    record.title = L"GRIMLET服务(隐藏注册表):";
    wchar_t detail[1024];
    _snwprintf(detail, 1024, L"服务:[%s] 文件:[%s]", entry.keyPath.c_str(), entry.dllPath.c_str());
    detail[1023] = L'\0';
    record.detail = detail;
    record.service = &entry;
    return record;
}

void ScanWormServicesWith(std::vector<ScanRecord>& results, TrustedSignerTest isTrusted) {
    std::vector<ServiceEntry>& entries = MutableServiceList();
    entries.clear();
    std::vector<UncheckedKey> unchecked;
    CheckServices(entries, isTrusted, unchecked);
    std::vector<ScanRecord> notes;
    for (const ServiceEntry& entry : entries) {
        WormSign sign = WormSignOf(entry);
        if (sign == WormSign::None) continue;
        TW_LOG(LogLevel::Detail, "Worm service %S (%S), sign %d", entry.keyPath.c_str(), entry.dllPath.c_str(),
               (int)sign);
        results.push_back(MakeWormServiceRecord(entry));
        if (sign == WormSign::LockedDll) {
            // Held open, the file could not be read: its signer is unknown, not untrusted. The worm holds
            // its DLL so; the cleanup engine checks the signer once it can read the file.
            TW_LOG(LogLevel::Warning, "The signer of %S is unknown: another process holds the file", entry.dllPath.c_str());
            notes.push_back(InformationRecord(kScanRecordNote, entry.dllPath,
                                              L"signer unknown: another process holds the file; checked before removal"));
        }
    }
    for (const UncheckedKey& key : unchecked)
        results.push_back(InformationRecord(kScanRecordUnchecked, L"registry key " + key.path, key.why));
    results.insert(results.end(), notes.begin(), notes.end());
}

void ScanWormServices(std::vector<ScanRecord>& results) { ScanWormServicesWith(results, &IsTrusted); }

int CleanWormServiceRecord(const ScanRecord& record) {
    if (!record.service) return kPluginCleanFailed;
    return RunMendrelForService(*record.service);
}
