#include "tests/support/TestSupport.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "platform/win32/FindHandle.h"
#include "platform/win32/KernelHandle.h"
#include "platform/win32/RegistryKey.h"

namespace testsupport {

namespace {

void RemoveTreeForTests(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find.IsValid()) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTreeForTests(full);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(full.c_str());
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find.Get(), &entry));
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD got = GetEnvironmentVariableW(name, buffer, 4096);
    if (got == 0 || got >= 4096) return std::wstring();
    return std::wstring(buffer, got);
}

const wchar_t kSkerryKey[] = L"SOFTWARE\\Quorvel\\Skerry";

}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& hint) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        _snwprintf(name, MAX_PATH, L"%s%s-%lu-%ld", temp, hint.c_str(), GetCurrentProcessId(),
                   InterlockedIncrement(&counter));
        name[MAX_PATH - 1] = 0;
        if (CreateDirectoryW(name, nullptr)) {
            path_ = name;
            break;
        }
    }
}

ScratchFolder::~ScratchFolder() { RemoveTreeForTests(path_); }

DebugLevelValue::DebugLevelValue(uint32_t mask) : DebugLevelValue(REG_DWORD, &mask, sizeof mask) {}

DebugLevelValue::DebugLevelValue(DWORD type, const void* data, DWORD size) {
    RegistryKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kSkerryKey, KEY_SET_VALUE) == ERROR_SUCCESS)
        RegSetValueExW(key.Get(), L"DebugLevel", 0, type, static_cast<const BYTE*>(data), size);
}

DebugLevelValue::~DebugLevelValue() { Remove(); }

void DebugLevelValue::Remove() {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSkerryKey, KEY_SET_VALUE) == ERROR_SUCCESS) RegDeleteValueW(key.Get(), L"DebugLevel");
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

std::string ReadFileBytes(const std::wstring& path) {
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file.IsValid()) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::set<std::wstring> FilesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find.IsValid()) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(entry.cFileName);
    } while (FindNextFileW(find.Get(), &entry));
    return names;
}

std::set<std::wstring> EntriesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find.IsValid()) return names;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) names.insert(entry.cFileName);
    } while (FindNextFileW(find.Get(), &entry));
    return names;
}

std::wstring MachineDataFolder(const std::wstring& leaf) {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    return std::wstring(common) + L"\\Quorvel\\Tidewash\\" + leaf;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> children;
    RegistryKey key;
    if (key.Open(root, path, KEY_READ) == ERROR_SUCCESS) key.SubkeyNames(children);
    return children;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::wstring ThisProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD got = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, got);
    return full.substr(0, full.rfind(L'\\'));
}

std::wstring BinFolder() {
    std::wstring value = EnvironmentValue(L"TW_BIN_DIR");
    return value.empty() ? ThisProgramFolder() : value;
}

std::wstring ProductFolder() {
    std::wstring value = EnvironmentValue(L"TW_PRODUCT_DIR");
    return value.empty() ? ThisProgramFolder() : value;
}

bool IsI686Tier() { return sizeof(void*) == 4; }

bool RunningOnWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

int RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& currentDirectory,
               DWORD timeoutMs, std::string* output) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // Standard output goes to a file, read once the program has ended (a pipe could fill up).
    KernelHandle outputFile;
    wchar_t outputPath[MAX_PATH] = {};
    if (output) {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"out", 0, outputPath);
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        outputFile.Attach(CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY, nullptr));
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = outputFile.IsValid() ? outputFile.Get() : INVALID_HANDLE_VALUE;
    }
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr,
                                  currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process);
    outputFile.Close();
    if (!started) {
        if (output) DeleteFileW(outputPath);
        return -1000;
    }
    KernelHandle thread(process.hThread);
    thread.Close();
    KernelHandle child(process.hProcess);
    int result;
    if (WaitForSingleObject(child.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.Get(), 1);
        WaitForSingleObject(child.Get(), 5000);
        result = -1001;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(child.Get(), &code);
        result = static_cast<int>(code);
    }
    child.Close();
    if (output) {
        *output = ReadFileBytes(outputPath);
        DeleteFileW(outputPath);
    }
    return result;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

}  // namespace testsupport

namespace testsupport {

WineVersionForProgram::WineVersionForProgram(const std::wstring& program, const std::wstring& version)
    : key_(L"Software\\Wine\\AppDefaults\\" + program) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

WineVersionForProgram::~WineVersionForProgram() { RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }

std::set<DWORD> ProcessAndDescendants(DWORD root) {
    std::set<DWORD> tree = {root};
    std::vector<std::pair<DWORD, DWORD>> parents;  // process, parent
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return tree;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    CloseHandle(snapshot);
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& process : parents)
            if (tree.count(process.second) && tree.insert(process.first).second) grew = true;
    }
    return tree;
}

NativeFirstDllsForProgram::NativeFirstDllsForProgram(const std::wstring& program, const std::vector<std::wstring>& names)
    : program_(L"Software\\Wine\\AppDefaults\\" + program) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (program_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring order = L"native,builtin";
    for (const std::wstring& name : names)
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                       static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

NativeFirstDllsForProgram::~NativeFirstDllsForProgram() {
    RegDeleteKeyW(HKEY_CURRENT_USER, (program_ + L"\\DllOverrides").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, program_.c_str());
}

}  // namespace testsupport
