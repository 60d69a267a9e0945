#pragma once
// The native thread and process queries, looked up in ntdll at run time (they are not in the import
// libraries of every system the plug-in runs on).
#include <windows.h>

#include <cstdint>

class NtApi {
public:
    // The address of a thread's environment block (information class 0). False when the query is
    // missing or refused.
    static bool ThreadEnvironmentBlock(HANDLE thread, uintptr_t& teb);
    // The Win32 start address of a thread (information class 9), the value the system keeps from the
    // thread's creation. 0 when the query is refused. False only when ntdll lacks the query.
    static bool Win32StartAddress(HANDLE thread, uintptr_t& start);
    // The id of the process that owns a thread.
    static bool ThreadProcessId(HANDLE thread, DWORD& processId);
    // The address of a process's environment block (information class 0).
    static bool ProcessEnvironmentBlock(HANDLE process, uintptr_t& peb);
};
