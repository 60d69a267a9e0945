// Plants the simulated GRIMLET infection of the demonstration in the current Wine prefix, with the same
// fixtures the worm-service tests use: services of the "netsvcs" group whose DLL carries no signature,
// one whose key denies everybody everything and one whose DLL is hidden and read-only.
// usage: grimlet_demo_infection install
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/grimlet/FakeService.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

bool PlantDll(const std::wstring& path, DWORD attributes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!WriteFileBytes(path, "MZ simulated GRIMLET service DLL")) return false;
    return SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

bool PlantService(const std::wstring& name, const std::wstring& dll) {
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    FakeService::ForceDelete(key);
    FakeService::SetString(key, L"ImagePath", kNetsvcs, REG_EXPAND_SZ);
    DWORD start = 2;
    FakeService::SetValue(key, L"Start", REG_DWORD, &start, sizeof start);
    FakeService::SetString(key + L"\\Parameters", L"ServiceDll", dll, REG_EXPAND_SZ);
    return FakeService::KeyExists(key);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || std::wstring(argv[1]) != L"install") {
        fwprintf(stderr, L"usage: grimlet_demo_infection install\n");
        return 2;
    }
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnableProcessPrivilege(SE_RESTORE_NAME);
    const std::wstring lockedDll = SystemFolder() + L"\\wmdmsvcx.dll";
    const std::wstring hiddenDll = SystemFolder() + L"\\netcfgx32.dll";
    bool ok = PlantDll(lockedDll, FILE_ATTRIBUTE_NORMAL) &&
              PlantDll(hiddenDll, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY) &&
              PlantService(L"Wmdmsvcx", lockedDll) && PlantService(L"Netcfgx32", hiddenDll) &&
              FakeService::DenyEverybody(L"SYSTEM\\CurrentControlSet\\Services\\Wmdmsvcx");
    wprintf(L"%ls\n", ok ? L"simulated GRIMLET services planted: Wmdmsvcx (key denies reading), Netcfgx32 (hidden DLL)"
                         : L"the simulated infection could not be planted completely");
    return ok ? 0 : 1;
}
