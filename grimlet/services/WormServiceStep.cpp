#include "grimlet/services/WormServiceStep.h"

#include <cwchar>

#include "grimlet/common/TrustedSigner.h"
#include "grimlet/services/MendrelLauncher.h"
#include "grimlet/services/ServiceScan.h"
#include "platform/log/Logger.h"

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
    CheckServices(entries, isTrusted);
    for (const ServiceEntry& entry : entries) {
        WormSign sign = WormSignOf(entry);
        if (sign == WormSign::None) continue;
        TW_LOG(LogLevel::Detail, "Worm service %S (%S), sign %d", entry.keyPath.c_str(), entry.dllPath.c_str(),
               (int)sign);
        results.push_back(MakeWormServiceRecord(entry));
    }
}

void ScanWormServices(std::vector<ScanRecord>& results) { ScanWormServicesWith(results, &IsTrusted); }

bool CleanWormServiceRecord(const ScanRecord& record) {
    if (!record.service) return false;
    return RunMendrelForService(*record.service);
}
