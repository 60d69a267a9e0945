#pragma once
// The test for hooked entry points: the first bytes of an exported function in a process's memory
// compared with the same bytes of the module file on disk, and their repair.
#include <windows.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

// Results of CheckApiHook.
namespace ApiHookResult {
constexpr int kClean = 0;           // not hooked, or (repair mode) the file's bytes were written back
constexpr int kHooked = 1;          // detection mode only
constexpr int kUnresolved = 2;      // the module is loaded but the entry could not be resolved
constexpr int kUnreadable = 3;      // the process's modules or memory could not be read
constexpr int kBadModuleFile = 4;   // the module file could not be opened, parsed or read
constexpr int kRepairFailed = 5;    // repair mode: the file's bytes could not be written back
}  // namespace ApiHookResult

// One entry point that the worm is known to hook; `kind` is the kind of its API-hook finding.
struct HookedEntry {
    uint32_t kind;
    const char* entry;
    const char* module;
    const wchar_t* displayName;
};

constexpr std::size_t kHookedEntryCount = 7;
extern const HookedEntry kHookedEntries[kHookedEntryCount];  // in the order of testing

// Tests (or, with `repair`, restores) the first 5 bytes of `entry` in the first module of `process`
// named `module`. A process without that module gives kClean. Takes ownership of `process` and
// closes it on every path.
int CheckApiHook(const char* entry, const char* module, bool repair, HANDLE process);

constexpr std::size_t kPatchSize = 5;  // a near jump: the size of the worm's hooks
using PatchBytes = std::array<unsigned char, kPatchSize>;

// The first bytes of entries as module files hold them, each (file, entry) read once.
class ModuleFileBytes {
public:
    // False when the file cannot be opened or parsed as a PE file, or the bytes cannot be read from it.
    bool Read(const std::string& path, uint32_t rva, PatchBytes& bytes);

private:
    struct Outcome {
        bool read;
        PatchBytes bytes;
    };
    std::map<std::pair<std::string, uint32_t>, Outcome> outcomes_;
};

// The hook test of every entry of the table in one process, as one scan runs it: the process's
// modules are listed once for all entries, each module file's bytes are read once for the whole scan
// (this object's lifetime), and the entry's memory is read without changing its protection unless that
// read fails. Each code is the one CheckApiHook gives in detection mode for the same process.
class ApiHookSweep {
public:
    // `process` is borrowed (opened with PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
    // PROCESS_VM_READ | PROCESS_VM_WRITE). Codes in the order of the table.
    std::array<int, kHookedEntryCount> CheckProcess(HANDLE process);

private:
    ModuleFileBytes fileBytes_;
};
