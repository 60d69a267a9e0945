#include "grimlet/threads/NtApi.h"

namespace {

typedef LONG(WINAPI* QueryInformationFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

constexpr ULONG kBasicInformation = 0;
constexpr ULONG kThreadWin32StartAddress = 9;

// The layouts of THREAD_BASIC_INFORMATION and PROCESS_BASIC_INFORMATION at this build's pointer size.
struct ThreadBasicInformation {
    LONG exitStatus;
    PVOID tebBaseAddress;
    PVOID uniqueProcess;
    PVOID uniqueThread;
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};

struct ProcessBasicInformation {
    LONG exitStatus;
    PVOID pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
};

#ifndef _WIN64
static_assert(sizeof(ThreadBasicInformation) == 28, "32-bit THREAD_BASIC_INFORMATION is 28 bytes");
static_assert(sizeof(ProcessBasicInformation) == 24, "32-bit PROCESS_BASIC_INFORMATION is 24 bytes");
#endif

QueryInformationFn Lookup(const char* name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    return reinterpret_cast<QueryInformationFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

// ntdll stays loaded for the life of every process: each query is looked up once, on first use.
QueryInformationFn QueryThread() {
    static const QueryInformationFn query = Lookup("NtQueryInformationThread");
    return query;
}

QueryInformationFn QueryProcess() {
    static const QueryInformationFn query = Lookup("NtQueryInformationProcess");
    return query;
}

}  // namespace

bool NtApi::ThreadEnvironmentBlock(HANDLE thread, uintptr_t& teb) {
    const QueryInformationFn query = QueryThread();
    if (!query) return false;
    ThreadBasicInformation information = {};
    if (query(thread, kBasicInformation, &information, sizeof information, nullptr) < 0) return false;
    teb = reinterpret_cast<uintptr_t>(information.tebBaseAddress);
    return teb != 0;
}

bool NtApi::ThreadProcessId(HANDLE thread, DWORD& processId) {
    const QueryInformationFn query = QueryThread();
    if (!query) return false;
    ThreadBasicInformation information = {};
    if (query(thread, kBasicInformation, &information, sizeof information, nullptr) < 0) return false;
    processId = static_cast<DWORD>(reinterpret_cast<uintptr_t>(information.uniqueProcess));
    return true;
}

bool NtApi::Win32StartAddress(HANDLE thread, uintptr_t& start) {
    const QueryInformationFn query = QueryThread();
    if (!query) return false;
    // The status is not looked at: a refused query leaves 0, and the thread test never takes 0 for a start.
    PVOID address = nullptr;
    query(thread, kThreadWin32StartAddress, &address, sizeof address, nullptr);
    start = reinterpret_cast<uintptr_t>(address);
    return true;
}

bool NtApi::ProcessEnvironmentBlock(HANDLE process, uintptr_t& peb) {
    const QueryInformationFn query = QueryProcess();
    if (!query) return false;
    ProcessBasicInformation information = {};
    if (query(process, kBasicInformation, &information, sizeof information, nullptr) < 0) return false;
    peb = reinterpret_cast<uintptr_t>(information.pebBaseAddress);
    return peb != 0;
}
