#pragma once
// The test for hooked entry points: the first bytes of an exported function in a process's memory
// compared with the same bytes of the module file on disk, and their repair.
#include <windows.h>

#include <cstdint>

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
