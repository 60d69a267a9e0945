// Plants the simulated GRIMLET infection of the demonstration in the current Wine prefix, with the same
// fixtures the worm tests use: services of the "netsvcs" group whose DLL carries no signature, one whose
// key denies everybody everything and one whose DLL is hidden and read-only; and the running worm, a
// fake worm started as svchost.exe -k netsvcs with two threads in memory it allocated and its hooks on
// DnsQuery_A and DnsQuery_W, which lead into that memory and start its threads again. The host keeps
// resolving names and writes what it meets to %SystemRoot%\GrimletDemo\dns.status. Its copies wait on
// a stick and a share with an autorun.inf, and its task in the Tasks folder.
// usage: grimlet_demo_infection install
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/JobFileBytes.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";

// In the native System32, where a 64-bit service host loads its DLLs (also from the 32-bit planter: the
// file-system redirection is off around the writes), and where the plug-in looks for them.
bool PlantDll(const std::wstring& name, DWORD attributes) {
    SystemFolderFile dll(SystemFolderFile::kNativeSystem32, name, "MZ simulated GRIMLET service DLL", attributes);
    dll.Keep();
    return dll.Written();
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

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

// Starts the fake worm as a netsvcs service host that outlives this program (the demonstration ends
// it with the prefix's processes) and waits until its threads run.
bool StartWorm() {
    const std::wstring folder = WindowsFolder() + L"\\GrimletDemo";
    const std::wstring image = folder + L"\\svchost.exe";
    const std::wstring ready = folder + L"\\svchost.ready";
    const std::wstring status = folder + L"\\dns.status";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(ready.c_str());
    DeleteFileW(status.c_str());
    // A copy that is still in use is the one of an earlier run, which serves as well.
    const std::wstring fixture = BinFolder() + L"\\fake_worm.exe";
    if (!CopyFileW(fixture.c_str(), image.c_str(), FALSE) && !FileExists(image)) return false;
    std::wstring line = L"\"" + image + L"\" -k netsvcs --hook-dns \"" + status + L"\" --ready \"" + ready + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(image.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!grimlettest::WaitForFile(ready)) return false;
    const grimlettest::FakeWormThreads threads = grimlettest::ReadFakeWormThreads(ready);
    wprintf(L"simulated GRIMLET worm running: %ls -k netsvcs, process %lu, %u threads in memory it allocated, "
            L"DnsQuery_A and DnsQuery_W hooked into it\n",
            image.c_str(), static_cast<unsigned long>(process.dwProcessId),
            static_cast<unsigned>(threads.foreign.size()));
    return threads.foreign.size() == 2 && grimlettest::WaitForFile(status);
}

// Where the worm spreads from and starts itself again: its DLL's copy and an autorun.inf that starts it
// on the removable drive E: and the network drive N: (tools/wine_env.sh makes them), and a task that runs
// the DLL through rundll32.
bool PlantSpread() {
    const std::string dll = "MZ simulated GRIMLET service DLL";
    const std::string inf = "[AutoRun]\r\nopen=rundll32.exe wrm.dll,Start\r\n";
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    bool ok = true;
    for (const std::wstring root : {L"E:\\", L"N:\\"}) {
        for (const wchar_t* name : {L"wrm.dll", L"autorun.inf"}) SetFileAttributesW((root + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = ok && WriteFileBytes(root + L"wrm.dll", dll) && WriteFileBytes(root + L"autorun.inf", inf) &&
             SetFileAttributesW((root + L"wrm.dll").c_str(), hiddenSystem) &&
             SetFileAttributesW((root + L"autorun.inf").c_str(), hiddenSystem);
    }
    JobFileFields task;
    task.parameters = u"%SystemRoot%\\system32\\wmdmsvcx.dll,Start";
    const std::vector<uint8_t> job = JobFileBytes(task);
    CreateDirectoryW((WindowsFolder() + L"\\Tasks").c_str(), nullptr);
    return ok && WriteFileBytes(WindowsFolder() + L"\\Tasks\\At1.job", std::string(job.begin(), job.end()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || std::wstring(argv[1]) != L"install") {
        fwprintf(stderr, L"usage: grimlet_demo_infection install\n");
        return 2;
    }
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnableProcessPrivilege(SE_RESTORE_NAME);
    bool ok = PlantDll(L"wmdmsvcx.dll", FILE_ATTRIBUTE_NORMAL) &&
              PlantDll(L"netcfgx32.dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY) &&
              PlantService(L"Wmdmsvcx", SystemFolderFile::RegistryPath(L"wmdmsvcx.dll")) &&
              PlantService(L"Netcfgx32", SystemFolderFile::RegistryPath(L"netcfgx32.dll")) &&
              FakeService::DenyEverybody(L"SYSTEM\\CurrentControlSet\\Services\\Wmdmsvcx");
    // The worm lists its service in the netsvcs group, as svchost.exe needs it to start it.
    NetsvcsListing({L"Wmdmsvcx"}).Keep();
    wprintf(L"%ls\n", ok ? L"simulated GRIMLET services planted: Wmdmsvcx (key denies reading), Netcfgx32 (hidden DLL)"
                         : L"the simulated services could not be planted completely");
    const bool spread = PlantSpread();
    wprintf(L"%ls\n", spread ? L"its copies planted on E: and N: with an autorun.inf, and its task At1.job"
                             : L"its copies on the drives or its task could not be planted");
    ok = ok && spread;
    const bool worm = StartWorm();
    if (!worm) wprintf(L"the simulated worm could not be started\n");
    return ok && worm ? 0 : 1;
}
