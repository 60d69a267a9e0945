#pragma once
// The test for hooked entry points: the first bytes of an exported function in a process's memory
// compared with the same bytes of the module file, and their repair. The file is always the system
// folder's copy for the process's bitness, and the entry's address comes from that file's exports:
// nothing that the process itself says (its loader list's paths, its own exports) is taken for it.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "grimlet/hooks/SystemModules.h"

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
    const char* entry;    // the exported name looked up
    const char* module;
    const wchar_t* displayName;  // the name the finding shows
};

constexpr std::size_t kHookedEntryCount = 7;
extern const HookedEntry kHookedEntries[kHookedEntryCount];  // in the order of testing
const HookedEntry* HookedEntryOfKind(uint32_t kind);

// Room for the longest jump that the proof decodes.
constexpr std::size_t kEntryCompareSize = 16;
using EntryBytes = std::array<unsigned char, kEntryCompareSize>;

// One entry of one process as it stands: where it is, what the file holds there, what memory holds.
struct EntryState {
    enum class Outcome {
        Clean,          // memory holds the file's bytes
        Differs,        // it does not
        NotLoaded,      // the process has no mapping of the system folder's module
        Unresolved,     // the file does not export the entry (after forwarders)
        BadModuleFile,  // the system folder's file cannot be read, parsed or relocated
        Unreadable,     // the process's modules or the entry's memory cannot be read
    };
    Outcome outcome = Outcome::Unreadable;
    uintptr_t address = 0;
    uint32_t length = 0;  // bytes compared: what the file holds for the entry, up to kEntryCompareSize
    EntryBytes file = {};
    EntryBytes memory = {};
};
const char* DescribeEntryOutcome(EntryState::Outcome outcome);

// Reads entries of processes; the system folders' files are read once for the object's lifetime.
class EntryReader {
public:
    // `modules` lists `process`, which needs PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
    EntryState Read(HANDLE process, RemoteSystemModules& modules, SystemFolder folder, const HookedEntry& entry);
    SystemModuleFiles& Files() { return files_; }

private:
    SystemModuleFiles files_;
};

// Tests (or, with `repair`, restores) `entry` of the system folder's `module` in `process`. A process
// without that module gives kClean. Takes ownership of `process` and closes it on every path.
int CheckApiHook(const char* entry, const char* module, bool repair, HANDLE process);

// The hook test of every entry of the table in one process, as one scan runs it: the process's modules
// are listed once for all entries, each module file is read once for the whole scan (this object's
// lifetime). Each code is the one CheckApiHook gives in detection mode for the same process.
class ApiHookSweep {
public:
    // `process` is borrowed. Codes in the order of the table.
    std::array<int, kHookedEntryCount> CheckProcess(HANDLE process);

private:
    EntryReader reader_;
};

// Writes `bytes` over the first `count` bytes at `address`, flushes and reads them back: true only when
// memory then holds exactly those bytes.
bool WriteEntryBytes(HANDLE process, uintptr_t address, const unsigned char* bytes, uint32_t count);
