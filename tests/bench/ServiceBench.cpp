// Prints the cost of the worm-service step over a Services key of at least 300 subkeys, against a
// plain walk that opens every key and reads its ImagePath (the least any such check must do).
#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "grimlet/services/ServiceScan.h"
#include "grimlet/services/WormServiceStep.h"
#include "tests/support/BenchClock.h"
#include "tests/support/FakeService.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

bool NeverTrusted(const std::wstring&) { return false; }

int PlainWalk() {
    HKEY services = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, &services)) return 0;
    int read = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(services, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY key = nullptr;
        if (RegOpenKeyExW(services, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        wchar_t value[260];
        DWORD size = sizeof value;
        if (RegQueryValueExW(key, L"ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == 0) ++read;
        RegCloseKey(key);
    }
    RegCloseKey(services);
    return read;
}

template <typename Step>
double BestOf(int runs, Step step) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        double start = NowMs();
        step();
        double elapsed = NowMs() - start;
        if (elapsed < best) best = elapsed;
    }
    return best;
}

}  // namespace

int main() {
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    ScratchFolder scratch(L"svcbench");
    std::wstring dll = scratch / L"bench.dll";
    WriteFileBytes(dll, "MZ not signed");
    std::wstring stem = UniqueServiceStem(L"Bench");
    std::vector<std::unique_ptr<FakeService>> fakes;
    std::vector<std::wstring> denied;
    const int kKeys = 320;
    for (int i = 0; i < kKeys; ++i) {
        wchar_t suffix[16];
        _snwprintf(suffix, 16, L"%03d", i);
        bool netsvcs = i % 8 == 0;  // 40 suspects, 5 of them behind a denying key
        fakes.emplace_back(new FakeService(stem + suffix,
                                           netsvcs ? L"%SystemRoot%\\system32\\svchost.exe -k netsvcs"
                                                   : L"%SystemRoot%\\system32\\svchost.exe -k LocalService",
                                           dll.c_str()));
        if (netsvcs && i % 64 == 0) {
            FakeService::DenyEverybody(fakes.back()->KeyPath());
            denied.push_back(fakes.back()->Name());
        }
    }
    NetsvcsListing listing(denied);  // so that the scan unlocks them where a backup open is refused

    HKEY services = nullptr;
    DWORD subkeys = 0;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, &services);
    RegQueryInfoKeyW(services, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(services);

    const int kRuns = 5;
    double plain = BestOf(kRuns, [] { PlainWalk(); });
    std::size_t suspects = 0;
    double check = BestOf(kRuns, [&] {
        std::vector<ServiceEntry> entries;
        std::vector<UncheckedKey> unchecked;
        CheckServices(entries, &NeverTrusted, unchecked);
        suspects = entries.size();
    });
    std::size_t findings = 0;
    double step = BestOf(kRuns, [&] {
        std::vector<ScanRecord> results;
        ScanWormServices(results);
        findings = results.size();
    });
    printf("service keys: %lu (suspects %u, worm services %u)\n", (unsigned long)subkeys, (unsigned)suspects,
           (unsigned)findings);
    printf("plain walk (open + ImagePath):          %8.2f ms\n", plain);
    printf("CheckServices, signer check skipped:     %8.2f ms  (%.2fx the plain walk)\n", check, check / plain);
    printf("service step with the real signer check: %8.2f ms  (%.2fx the plain walk)\n", step, step / plain);
    printf("per service key: %.3f ms\n", step / (subkeys ? subkeys : 1));
    return 0;
}
