#include "grimlet/plugin/ProvenWormDlls.h"

#include "grimlet/services/ServiceEntry.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

std::vector<ProvenWormDll> ProveWormDlls(const std::vector<ScanRecord>& results, ITaskFileLookup& lookup) {
    std::vector<ProvenWormDll> dlls;
    for (const ScanRecord& record : results) {
        if (record.kind != kScanRecordWormService || !record.service) continue;
        ProvenWormDll dll;
        dll.path = record.service->dllPath;
        if (lookup.Identify(dll.path, dll.identity) != ITaskFileLookup::Result::Found) {
            TW_LOG(LogLevel::Warning, "Worm DLL %S could not be hashed: copies and tasks are not matched to it",
                   dll.path.c_str());
            continue;
        }
        bool known = false;
        for (const ProvenWormDll& other : dlls) known = known || other.identity.sha1 == dll.identity.sha1;
        if (known) continue;
        TW_LOG(LogLevel::Info, "Worm DLL %S: SHA-1 %s", dll.path.c_str(), dll.identity.sha1.c_str());
        dlls.push_back(dll);
    }
    return dlls;
}

std::vector<std::string> Sha1sOf(const std::vector<ProvenWormDll>& dlls) {
    std::vector<std::string> hashes;
    for (const ProvenWormDll& dll : dlls) hashes.push_back(dll.identity.sha1);
    return hashes;
}
