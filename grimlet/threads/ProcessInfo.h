#pragma once
// What the worm-thread search learns about one running process: its image, its command line and,
// for a process that matches the search, its modules.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/KernelHandle.h"

struct ModuleInfo {
    std::wstring path;
    uintptr_t base = 0;
    uint32_t size = 0;

    // The end itself counts as inside: the start-up code of some systems points there.
    bool Contains(uintptr_t address) const { return address >= base && address - base <= size; }
};

class ProcessInfo {
public:
    // Opens the process and reads its image and command line. A process that cannot be opened keeps
    // its id and empty texts.
    explicit ProcessInfo(DWORD processId);
    // Only opens the process: all that reading its threads' stacks needs, without the texts, whose
    // long-path look-up alone can cost milliseconds.
    struct HandleOnly {};
    ProcessInfo(DWORD processId, HandleOnly);
    ProcessInfo(const ProcessInfo&) = delete;
    ProcessInfo& operator=(const ProcessInfo&) = delete;

    // Matches when `imageName` is empty or equals the base name (case ignored), and `commandFilter` is
    // empty or occurs in the lower-cased command line (the filter is taken as it is).
    bool Matches(const std::wstring& imageName, const std::wstring& commandFilter) const;

    // Lists the process's modules. False when they could not be listed.
    bool FillModuleList();
    bool InAnyModule(uintptr_t address) const;

    DWORD Id() const { return processId_; }
    HANDLE Handle() const { return handle_.Get(); }
    const std::wstring& ImagePath() const { return imagePath_; }
    const std::wstring& BaseName() const { return baseName_; }
    const std::wstring& CommandLine() const { return commandLine_; }
    const std::vector<ModuleInfo>& Modules() const { return modules_; }

private:
    DWORD processId_;
    KernelHandle handle_;
    std::wstring imagePath_;
    std::wstring commandLine_;
    std::wstring baseName_;
    std::vector<ModuleInfo> modules_;
};

// The command line of another process, read from its process parameters. Empty when it cannot be
// read or is longer than 2048 bytes.
std::wstring ReadProcessCommandLine(HANDLE process);
