#pragma once
// Helpers shared by the test programs: scratch folders, registry values, files, child processes.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A fresh, empty folder under the prefix's temp folder, removed (with everything in it) at scope end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& hint = L"tw");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Sets HKLM\SOFTWARE\Quorvel\Skerry "DebugLevel" for a scope (in this process's registry view) and
// removes it afterwards. Tests that use it hold the "debuglevel" resource lock.
// For the scope, Wine plays `version` ("winxp", "winxp64", "vista", ...) for one program of the prefix
// (HKCU\Software\Wine\AppDefaults\<program>\Version), and for no other: other tests are not affected.
class WineVersionForProgram {
public:
    WineVersionForProgram(const std::wstring& program, const std::wstring& version);
    ~WineVersionForProgram();
    WineVersionForProgram(const WineVersionForProgram&) = delete;
    WineVersionForProgram& operator=(const WineVersionForProgram&) = delete;

private:
    std::wstring key_;
};

// For the scope, Wine prefers a DLL file of `names` ("version") found on the search path, the program's
// folder first, to its builtin one in `program` (HKCU\Software\Wine\AppDefaults\<program>\DllOverrides):
// the order Windows has for a DLL that is not a KnownDLL. Processes that a test starts do not take the
// WINEDLLOVERRIDES of the test's environment; this setting they read.
class NativeFirstDllsForProgram {
public:
    NativeFirstDllsForProgram(const std::wstring& program, const std::vector<std::wstring>& names);
    ~NativeFirstDllsForProgram();
    NativeFirstDllsForProgram(const NativeFirstDllsForProgram&) = delete;
    NativeFirstDllsForProgram& operator=(const NativeFirstDllsForProgram&) = delete;

private:
    std::wstring program_;
};

// `root` and the processes it started, and theirs: the program's first process and its protected copy,
// whose windows are the program's.
std::set<DWORD> ProcessAndDescendants(DWORD root);

class DebugLevelValue {
public:
    explicit DebugLevelValue(uint32_t mask);                          // REG_DWORD
    DebugLevelValue(DWORD type, const void* data, DWORD size);         // any type
    ~DebugLevelValue();
    DebugLevelValue(const DebugLevelValue&) = delete;
    DebugLevelValue& operator=(const DebugLevelValue&) = delete;
    static void Remove();
};

// Polls `condition` until it holds (true) or `timeoutMs` has passed (false). Tests wait on the thing
// they expect, never for a fixed time: under load a fixed time is too short, and otherwise too long.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// The names of the files (not folders) in `folder`; empty when it cannot be listed.
std::set<std::wstring> FilesIn(const std::wstring& folder);
// The names in a folder, files and folders.
std::set<std::wstring> EntriesIn(const std::wstring& folder);
// The program's per-machine folder `leaf` ("Work", "Reports", ...) under the common application data.
std::wstring MachineDataFolder(const std::wstring& leaf);
// The names of the subkeys of `root`\`path`; empty when it cannot be opened.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path);
std::vector<std::string> SplitLines(const std::string& text);  // keeps no line breaks

// Folder of this test program, and the environment's folders of the tier under test.
std::wstring ThisProgramFolder();
std::wstring BinFolder();      // this tree's output folder (test programs, fixtures)
std::wstring ProductFolder();  // the Tidewash.exe/grimlet.dll/RunMendrel.exe under test
bool IsI686Tier();
// True under Wine, where some checks of Windows are missing; tests say what they skip and why.
bool RunningOnWine();

// Starts a program (hidden), waits up to `timeoutMs`, returns its exit code (or -1000 on a failure to
// start, -1001 on time-out after killing it). With `output`, its standard output goes there.
int RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& currentDirectory,
               DWORD timeoutMs = 60000, std::string* output = nullptr);

std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8);
std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8);

}  // namespace testsupport
