#pragma once
// The two process-status calls that list another process's modules, behind an interface so that a
// test can make a listing fail, grow or change part-way.
#include <windows.h>
#include <psapi.h>

class ModuleLister {
public:
    virtual ~ModuleLister() = default;

    // EnumProcessModules: fills up to `bytes` bytes of `modules`; `needed` is what the whole list takes.
    virtual bool Enumerate(HANDLE process, HMODULE* modules, DWORD bytes, DWORD& needed) const = 0;
    // GetModuleInformation for one module handle of that list.
    virtual bool Describe(HANDLE process, HMODULE module, MODULEINFO& information) const = 0;

    // The system's own calls.
    static const ModuleLister& System();
};
