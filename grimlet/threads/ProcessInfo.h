#pragma once
// What the worm-thread search learns about one running process: its image, its command line and,
// for a process that matches the search, its modules. Only the base name is read for every process;
// the rest is read when first asked for, so that the many processes that cannot match cost little.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "grimlet/threads/ModuleLister.h"
#include "platform/win32/KernelHandle.h"

// A module's range. Its path decides nothing, so it is not read: under Wine every module path is a
// walk of the process's whole module list.
struct ModuleInfo {
    uintptr_t base = 0;
    uint32_t size = 0;

    // The end itself counts as inside: the start-up code of some systems points there.
    bool Contains(uintptr_t address) const { return address >= base && address - base <= size; }
};

// How a module listing went. Only a complete one lets the search call a thread foreign.
enum class ModuleListing {
    Complete,
    Unreadable,          // the list, or one module of it, could not be read
    Changed,             // modules came or went while it was read
    LacksSystemModules,  // the image, ntdll or kernel32 is not in it
};
const char* DescribeModuleListing(ModuleListing listing);

class ProcessInfo {
public:
    // Opens the process and reads its base name. A process that cannot be opened keeps its id and
    // empty texts.
    explicit ProcessInfo(DWORD processId);
    // Only opens the process: all that reading its threads' stacks needs, without the texts, whose
    // long-path look-up alone can cost milliseconds.
    struct HandleOnly {};
    ProcessInfo(DWORD processId, HandleOnly);
    ProcessInfo(const ProcessInfo&) = delete;
    ProcessInfo& operator=(const ProcessInfo&) = delete;

    // Matches when `imageName` is empty or equals the base name (case ignored), and `commandFilter` is
    // empty or occurs in the lower-cased command line (the filter is taken as it is). The command line
    // is read only when the base name matches and there is a filter.
    bool Matches(const std::wstring& imageName, const std::wstring& commandFilter) const;

    // Lists the process's modules through `lister`. The list is kept only when complete; otherwise it
    // stays empty.
    ModuleListing FillModuleList(const ModuleLister& lister = ModuleLister::System());
    bool InAnyModule(uintptr_t address) const;

    DWORD Id() const { return processId_; }
    HANDLE Handle() const { return handle_.Get(); }
    const std::wstring& ImagePath() const;  // long-path form
    const std::wstring& BaseName() const { return baseName_; }
    const std::wstring& CommandLine() const;
    const std::vector<ModuleInfo>& Modules() const { return modules_; }

private:
    DWORD processId_;
    KernelHandle handle_;
    mutable bool imagePathRead_ = false;
    mutable std::wstring imagePath_;
    mutable bool commandLineRead_ = false;
    mutable std::wstring commandLine_;
    std::wstring baseName_;
    std::vector<ModuleInfo> modules_;
};

// The id of the thread that holds the loader lock of `process` (0 when free). False when the lock
// cannot be read.
bool ReadLoaderLockOwner(HANDLE process, DWORD& threadId);

// The command line of another process, read from its process parameters. Empty when it cannot be
// read or is longer than 2048 bytes.
std::wstring ReadProcessCommandLine(HANDLE process);
