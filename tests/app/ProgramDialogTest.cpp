// The shipped program end to end: Tidewash.exe with its real engine, grimlet.dll and RunMendrel.exe, in a
// prefix with simulated worm services and a fake worm in a netsvcs service host, driven from this test
// through window messages as a user's clicks would reach it, and checked from outside (its windows, the
// registry, its threads, its exit code).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/Resource.h"
#include "tests/support/AutoRunValues.h"
#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// The prefix plays Windows 7, which the worm's hole does not affect: the box says so at its end.
const wchar_t kCleanFinished[] =
    L"               清除完成。\n\nGRIMLET病毒主要通过MS08-067漏洞、网络共享、U盘传播。\n"
    L"建议安装KB958644补丁、使用强密码、禁用U盘自动播放。\n本系统不受MS08-067漏洞影响。";

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

struct Search {
    std::set<DWORD> processes;  // the program's first process and its copy
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->processes.count(owner) && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) &&
        WindowText(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The program under test: started hidden from nothing but its path, closed when the test ends.
class Program {
public:
    explicit Program(const std::wstring& folder) {
        std::wstring exe = ProductFolder() + L"\\Tidewash.exe";
        std::wstring line = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                           &process_)) {
            CloseHandle(process_.hThread);
        }
    }
    ~Program() {
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
        }
    }
    HWND WaitForWindow(const wchar_t* title) {
        Search search = {{}, title, nullptr};
        WaitUntil([&] {
            search.processes = ProcessAndDescendants(process_.dwProcessId);  // the copy starts a moment later
            search.found = nullptr;
            EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        }, 120000);
        return search.found;
    }
    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    int WaitForExit() {
        if (WaitForSingleObject(process_.hProcess, 60000) != WAIT_OBJECT_0) return -1001;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }

    // A list cell of the program's list view, read through a buffer in the program's memory.
    std::wstring Cell(HWND list, int row, int column) {
        struct Remote {
            LVITEMW item;
            wchar_t text[512];
        };
        // The list is the protected copy's, a child of the process the test started.
        DWORD owner = 0;
        GetWindowThreadProcessId(list, &owner);
        HANDLE program = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, owner);
        if (!program) return L"(the list's program cannot be opened)";
        void* remote = VirtualAllocEx(program, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE);
        if (!remote) {
            CloseHandle(program);
            return L"(no remote memory)";
        }
        Remote local = {};
        local.item.iSubItem = column;
        local.item.cchTextMax = 512;
        local.item.pszText = reinterpret_cast<Remote*>(remote)->text;
        WriteProcessMemory(program, remote, &local, sizeof(local), nullptr);
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(program, remote, &local, sizeof(local), nullptr);
        VirtualFreeEx(program, remote, 0, MEM_RELEASE);
        CloseHandle(program);
        local.text[511] = 0;
        return local.text;
    }

private:
    PROCESS_INFORMATION process_ = {};
};

std::wstring MessageText(HWND box) {
    std::wstring longest;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        if (_wcsicmp(className, L"Static") != 0) continue;
        std::wstring text = WindowText(child);
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

// A named pipe that stands in for a service DLL: a reader that opens it waits for its first bytes until
// the test lets go, so a check that reads the DLL stays where it is - deterministically. Several
// instances wait, because the signer check opens the DLL more than once (the embedded signature, then
// the catalog hash), and only some of those opens read it sequentially.
class HeldPipe {
public:
    explicit HeldPipe(const std::wstring& name) {
        for (Instance& instance : instances_) {
            instance.pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                             PIPE_TYPE_BYTE | PIPE_WAIT, kInstances, 4096, 4096, 0, nullptr);
            instance.connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            instance.overlapped.hEvent = instance.connected;
            if (!ConnectNamedPipe(instance.pipe, &instance.overlapped) && GetLastError() == ERROR_PIPE_CONNECTED)
                SetEvent(instance.connected);
        }
    }
    ~HeldPipe() {
        Release();
        for (Instance& instance : instances_) CloseHandle(instance.connected);
    }
    HeldPipe(const HeldPipe&) = delete;
    HeldPipe& operator=(const HeldPipe&) = delete;

    bool WaitUntilOpened(DWORD timeoutMs) {
        HANDLE events[kInstances];
        for (int i = 0; i < kInstances; ++i) events[i] = instances_[i].connected;
        const DWORD waited = WaitForMultipleObjects(kInstances, events, FALSE, timeoutMs);
        return waited < WAIT_OBJECT_0 + kInstances;
    }
    // Every reader's wait ends with a broken pipe.
    void Release() {
        for (Instance& instance : instances_) {
            if (instance.pipe != INVALID_HANDLE_VALUE) CloseHandle(instance.pipe);
            instance.pipe = INVALID_HANDLE_VALUE;
        }
    }

private:
    static constexpr int kInstances = 4;
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        HANDLE connected = nullptr;
        OVERLAPPED overlapped = {};
    };
    Instance instances_[kInstances];
};

std::wstring Acknowledge(Program& program) {
    HWND box = program.WaitForWindow(L"GRIMLET专杀工具");
    if (!box) return L"(no message box)";
    std::wstring text = MessageText(box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitUntil([&] { return !IsWindow(box); }, 20000);
    return text;
}

TEST(ProgramDialog, ScansFindsTheWormServicesAndThreadsCleansThemAndEndsWithTheDialogsResult) {
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    AutoRunValuesGuard autoRun;  // the clean turns it off
    WriteAutoRunValue(AutoRunValue(kAutoRunMappingKey, nullptr));
    ScratchFolder scratch(L"dialog");
    const std::wstring stem = UniqueServiceStem(L"Dlg");
    const std::wstring lockedDll = scratch / L"locked.dll";
    const std::wstring hiddenDll = scratch / L"hidden.dll";
    ASSERT_TRUE(WriteFileBytes(lockedDll, "MZ simulated worm"));
    ASSERT_TRUE(WriteFileBytes(hiddenDll, "MZ simulated worm"));
    SetFileAttributesW(hiddenDll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    const wchar_t netsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";
    FakeService locked(stem + L"1Locked", netsvcs, lockedDll.c_str());
    FakeService hidden(stem + L"2Hidden", netsvcs, hiddenDll.c_str());
    NetsvcsListing listing({locked.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(locked.KeyPath()));
    grimlettest::FakeWorm worm(scratch / L"host", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());

    Program program(scratch.Path());
    HWND dialog = program.WaitForWindow(L"Quorvel Tidewash Fix Tool");
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_THREAT_LIST);
    SendMessageW(GetDlgItem(dialog, IDC_MANUAL_CLEAN), BM_CLICK, 0, 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDC_SCAN)));
    EXPECT_EQ(Acknowledge(program), L"扫描完成");

    // Our two services and the worm's threads are listed, checked and waiting to be cleaned.
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<int> ours;
    std::vector<int> threadRows;
    int threats = 0;  // rows with a check box; information (a note, what could not be checked) has none
    int autoRunRow = -1;  // AutoRun left on: ticked, yet no threat
    for (int row = 0; row < rows; ++row) {
        if (program.Cell(list, row, 0) == L"自动播放") {
            autoRunRow = row;
            EXPECT_EQ(program.Cell(list, row, 1), L"U盘和网络驱动器上的autorun.inf仍会被执行");
            EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) >> 12, 2);
            continue;
        }
        if (SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) >> 12) ++threats;
        if (program.Cell(list, row, 0) == L"GRIMLET线程:") {
            threadRows.push_back(row);
            EXPECT_EQ(program.Cell(list, row, 1), L"由病毒创建的恶意线程");
            EXPECT_EQ(program.Cell(list, row, 2), L"需要清除");
        }
        if (program.Cell(list, row, 1).find(stem) == std::wstring::npos) continue;
        ours.push_back(row);
        EXPECT_EQ(program.Cell(list, row, 0), L"GRIMLET服务(隐藏注册表):");
        EXPECT_EQ(program.Cell(list, row, 2), L"需要清除");
        UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
        EXPECT_EQ(state >> 12, 2u);
    }
    ASSERT_EQ(ours.size(), 2u);
    ASSERT_EQ(threadRows.size(), 1u) << "one row for both foreign threads";
    ASSERT_GE(autoRunRow, 0) << "the prefix has AutoRun on";
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_FOUND_COUNT)), L"共发现威胁: " + std::to_wstring(threats));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_CLEAN)));

    // The locked service's DLL is held open sharing only reading, as its host holds it: it goes at the
    // next restart, and its row says so.
    HANDLE held = CreateFileW(lockedDll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CLEAN, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDC_CLEAN)));
    EXPECT_EQ(Acknowledge(program), kCleanFinished);
    CloseHandle(held);
    EXPECT_EQ(program.Cell(list, ours[0], 2), L"重启后清除");
    EXPECT_EQ(program.Cell(list, ours[1], 2), L"清除成功");
    EXPECT_EQ(program.Cell(list, threadRows[0], 2), L"清除成功");
    EXPECT_EQ(program.Cell(list, autoRunRow, 2), L"清除成功");
    EXPECT_TRUE(grimlettest::WaitForThreadsToEnd(worm.Threads().foreign));
    for (DWORD id : worm.Threads().own) EXPECT_TRUE(grimlettest::ThreadRunning(id)) << "the module's own thread";
    EXPECT_TRUE(worm.Process().Running());
    EXPECT_FALSE(FakeService::KeyExists(locked.KeyPath()));
    EXPECT_FALSE(FakeService::KeyExists(hidden.KeyPath()));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CLEAN)));

    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(), 1);
}

// 是 while the plug-in holds a worm-like key taken over: the window goes at once, but the process ends only
// once the plug-in has given the key back its owner and access list.
TEST(ProgramDialog, ClosedWhileAScanHoldsAKeyUnlockedEndsOnlyWithTheKeyAsItWas) {
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    ScratchFolder scratch(L"close");
    const std::wstring stem = UniqueServiceStem(L"Close");
    // The key's DLL is the pipe: the plug-in's signer check opens and reads it while the key is unlocked.
    const std::wstring pipeName = L"\\\\.\\pipe\\" + stem;
    HeldPipe dll(pipeName);
    FakeService held(stem, L"%SystemRoot%\\system32\\svchost.exe -k netsvcs", pipeName.c_str());
    NetsvcsListing listing({held.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(held.KeyPath()));
    const std::wstring before = FakeService::SecurityAsSddl(held.KeyPath());
    ASSERT_FALSE(before.empty());

    Program program(scratch.Path());
    HWND dialog = program.WaitForWindow(L"Quorvel Tidewash Fix Tool");
    ASSERT_NE(dialog, nullptr);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDC_SCAN)));
    ASSERT_TRUE(dll.WaitUntilOpened(120000));
    // The first open may come a moment before the read that holds the check inside the unlocked key.
    ASSERT_TRUE(WaitUntil([&] { return FakeService::SecurityAsSddl(held.KeyPath()) != before; }, 20000))
        << "the scan holds the key unlocked";

    PostMessageW(dialog, WM_CLOSE, 0, 0);
    HWND question = program.WaitForWindow(L"GRIMLET专杀工具");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(MessageText(question), L"正在运行中，您是否希望取消？");
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); }, 20000)) << "the window goes at once";
    EXPECT_TRUE(program.Running()) << "ended while the plug-in held the key";
    EXPECT_NE(FakeService::SecurityAsSddl(held.KeyPath()), before);

    dll.Release();
    EXPECT_EQ(program.WaitForExit(), 1);
    EXPECT_EQ(FakeService::SecurityAsSddl(held.KeyPath()), before);
}

}  // namespace
