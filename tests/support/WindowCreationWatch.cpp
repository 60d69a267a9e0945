#include "tests/support/WindowCreationWatch.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace testsupport {

namespace {

constexpr BYTE kInt3 = 0xCC;
constexpr DWORD kWow64Breakpoint = 0x4000001F;  // STATUS_WX86_BREAKPOINT

struct WatchedFunction {
    const char* module;
    const char* name;
};

const WatchedFunction kWatched[] = {
    {"win32u.dll", "NtUserCreateWindowEx"},
    {"user32.dll", "CreateWindowExA"}, {"user32.dll", "CreateWindowExW"},
    {"user32.dll", "CreateDialogParamA"}, {"user32.dll", "CreateDialogParamW"},
    {"user32.dll", "CreateDialogIndirectParamA"}, {"user32.dll", "CreateDialogIndirectParamW"},
    {"user32.dll", "DialogBoxParamA"}, {"user32.dll", "DialogBoxParamW"},
    {"user32.dll", "DialogBoxIndirectParamA"}, {"user32.dll", "DialogBoxIndirectParamW"},
    {"user32.dll", "MessageBoxA"}, {"user32.dll", "MessageBoxW"},
    {"user32.dll", "MessageBoxExA"}, {"user32.dll", "MessageBoxExW"},
    {"user32.dll", "MessageBoxIndirectA"}, {"user32.dll", "MessageBoxIndirectW"},
    {"user32.dll", "MessageBoxTimeoutA"}, {"user32.dll", "MessageBoxTimeoutW"},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The functions' offsets in their modules, taken from this process's copy of the same system
// libraries (the program under test has this process's bitness).
struct Target {
    uintptr_t offset;
    std::string label;
};
std::map<std::string, std::vector<Target>> TargetsByModule() {
    std::map<std::string, std::vector<Target>> targets;
    for (const WatchedFunction& watched : kWatched) {
        HMODULE module = LoadLibraryA(watched.module);
        if (!module) continue;
        const auto base = reinterpret_cast<uintptr_t>(module);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto address = reinterpret_cast<uintptr_t>(GetProcAddress(module, watched.name));
        // A forwarded export lands in another module: that module's own entry is watched instead.
        if (!address || address < base || address >= base + nt->OptionalHeader.SizeOfImage) continue;
        targets[Lower(watched.module)].push_back({address - base, std::string(watched.module) + "!" + watched.name});
    }
    return targets;
}

template <typename T>
bool ReadRemote(HANDLE process, uintptr_t address, T& value) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<void*>(address), &value, sizeof value, &read) &&
           read == sizeof value;
}

// The module's own name from its export directory, read from the other process.
std::string RemoteModuleName(HANDLE process, uintptr_t base) {
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!ReadRemote(process, base, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return {};
    if (!ReadRemote(process, base + dos.e_lfanew, nt) || nt.Signature != IMAGE_NT_SIGNATURE) return {};
    const IMAGE_DATA_DIRECTORY& exports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!exports.VirtualAddress) return {};
    IMAGE_EXPORT_DIRECTORY directory;
    if (!ReadRemote(process, base + exports.VirtualAddress, directory) || !directory.Name) return {};
    char name[64] = {};
    SIZE_T read = 0;
    ReadProcessMemory(process, reinterpret_cast<void*>(base + directory.Name), name, sizeof name - 1, &read);
    return Lower(name);
}

bool WriteByte(HANDLE process, uintptr_t address, BYTE value) {
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, reinterpret_cast<void*>(address), &value, 1, &written) || written != 1) return false;
    FlushInstructionCache(process, reinterpret_cast<void*>(address), 1);
    return true;
}

struct Breakpoint {
    BYTE original = 0;
    std::string label;
};

struct LoadedModule {
    uintptr_t base = 0;
    uintptr_t size = 0;
    std::string name;
};

struct Debuggee {
    HANDLE process = nullptr;
    std::vector<LoadedModule> modules;
    std::map<DWORD, HANDLE> threads;
    std::map<uintptr_t, Breakpoint> breakpoints;
};

LoadedModule RemoteModule(HANDLE process, uintptr_t base, const char* fallbackName) {
    LoadedModule module;
    module.base = base;
    module.name = RemoteModuleName(process, base);
    if (module.name.empty()) module.name = fallbackName;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (ReadRemote(process, base, dos) && ReadRemote(process, base + dos.e_lfanew, nt))
        module.size = nt.OptionalHeader.SizeOfImage;
    return module;
}

std::string Where(const Debuggee& debuggee, uintptr_t address) {
    char text[96];
    for (const LoadedModule& module : debuggee.modules) {
        if (address < module.base || address >= module.base + module.size) continue;
        snprintf(text, sizeof text, "%s+0x%lx", module.name.c_str(), static_cast<unsigned long>(address - module.base));
        return text;
    }
    return std::string();
}

// Where each thread of a process that did not end is: its instruction pointer and the stack words near
// its top that point into a module (return addresses, mostly).
std::string DescribeStuck(DWORD processId, const Debuggee& debuggee) {
    std::string text = "process " + std::to_string(processId) + "\n";
    for (const auto& thread : debuggee.threads) {
        SuspendThread(thread.second);
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread.second, &context)) {
#ifdef _WIN64
            const uintptr_t ip = context.Rip, sp = context.Rsp;
#else
            const uintptr_t ip = context.Eip, sp = context.Esp;
#endif
            text += "  thread " + std::to_string(thread.first) + " at " + Where(debuggee, ip) + ":";
            uintptr_t words[256] = {};
            SIZE_T read = 0;
            ReadProcessMemory(debuggee.process, reinterpret_cast<void*>(sp), words, sizeof words, &read);
            for (std::size_t i = 0; i < read / sizeof(uintptr_t); ++i) {
                const std::string where = Where(debuggee, words[i]);
                if (!where.empty()) text += " " + where;
            }
            text += "\n";
        }
        ResumeThread(thread.second);
    }
    return text;
}

}  // namespace

WindowCreationWatch::Outcome WindowCreationWatch::Run(const std::wstring& exe, const std::wstring& arguments,
                                                      const std::wstring& currentDirectory, DWORD timeoutMs) {
    Outcome outcome;
    const auto targets = TargetsByModule();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                        DEBUG_PROCESS, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &started))
        return outcome;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);

    std::map<DWORD, Debuggee> debuggees;
    const DWORD begin = GetTickCount();
    bool ended = false;
    bool timedOut = false;
    bool endedAtAttempt = false;
    while (!ended) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 1000)) {
            if (!timedOut && GetTickCount() - begin > timeoutMs) {
                timedOut = true;
                for (auto& entry : debuggees) outcome.stuck += DescribeStuck(entry.first, entry.second);
                for (auto& entry : debuggees) TerminateProcess(entry.second.process, 1);
            }
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        Debuggee& debuggee = debuggees[event.dwProcessId];
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                debuggee.process = event.u.CreateProcessInfo.hProcess;
                debuggee.threads[event.dwThreadId] = event.u.CreateProcessInfo.hThread;
                debuggee.modules.push_back(RemoteModule(
                    debuggee.process, reinterpret_cast<uintptr_t>(event.u.CreateProcessInfo.lpBaseOfImage), "(program)"));
                if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
                if (endedAtAttempt) TerminateProcess(debuggee.process, 1);
                break;
            case CREATE_THREAD_DEBUG_EVENT:
                debuggee.threads[event.dwThreadId] = event.u.CreateThread.hThread;
                break;
            case EXIT_THREAD_DEBUG_EVENT:
                debuggee.threads.erase(event.dwThreadId);
                break;
            case LOAD_DLL_DEBUG_EVENT: {
                if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
                const auto base = reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll);
                debuggee.modules.push_back(RemoteModule(debuggee.process, base, "(module)"));
                auto found = targets.find(RemoteModuleName(debuggee.process, base));
                if (found == targets.end()) break;
                for (const Target& target : found->second) {
                    const uintptr_t address = base + target.offset;
                    Breakpoint breakpoint;
                    breakpoint.label = target.label;
                    if (debuggee.breakpoints.count(address) || !ReadRemote(debuggee.process, address, breakpoint.original))
                        continue;
                    if (!WriteByte(debuggee.process, address, kInt3)) continue;
                    debuggee.breakpoints[address] = breakpoint;
                    ++outcome.breakpointsArmed;
                }
                break;
            }
            case EXCEPTION_DEBUG_EVENT: {
                const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
                // Any exception on one of the breakpoints is a hit. A real processor reports a breakpoint
                // there; qemu-user gives Wine a signal that it reports as an illegal instruction, at the
                // int3 or just after it.
                auto address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
                if (!debuggee.breakpoints.count(address) && debuggee.breakpoints.count(address - 1)) --address;
                if (debuggee.breakpoints.count(address)) {
                    outcome.attempts.push_back({event.dwProcessId, debuggee.breakpoints[address].label});
                    // The thread stays parked on the breakpoint while everything watched is ended.
                    auto thread = debuggee.threads.find(event.dwThreadId);
                    if (thread != debuggee.threads.end()) SuspendThread(thread->second);
                    if (!endedAtAttempt) {
                        endedAtAttempt = true;
                        for (auto& entry : debuggees) TerminateProcess(entry.second.process, 1);
                    }
                } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT && record.ExceptionCode != kWow64Breakpoint) {
                    continueStatus = DBG_EXCEPTION_NOT_HANDLED;  // the program's own exceptions stay its own
                }
                break;
            }
            case EXIT_PROCESS_DEBUG_EVENT:
                if (event.dwProcessId == started.dwProcessId)
                    outcome.exitCode = static_cast<int>(event.u.ExitProcess.dwExitCode);
                debuggees.erase(event.dwProcessId);
                ended = debuggees.empty();
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    if (timedOut) outcome.exitCode = -1001;
    if (endedAtAttempt) outcome.exitCode = kEndedAtAttempt;
    return outcome;
}

std::string WindowCreationWatch::Describe(const std::vector<Attempt>& attempts) {
    std::string text;
    for (const Attempt& attempt : attempts)
        text += "process " + std::to_string(attempt.processId) + ": " + attempt.function + "\n";
    return text.empty() ? "none" : text;
}

}  // namespace testsupport
