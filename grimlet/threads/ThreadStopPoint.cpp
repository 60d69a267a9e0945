#include "grimlet/threads/ThreadStopPoint.h"

#include <psapi.h>

#include <string>

#include "grimlet/hooks/SystemModules.h"
#include "grimlet/threads/WormThreadProof.h"

namespace {

constexpr uint32_t kMaxStubSize = 64;
constexpr SIZE_T kStackWindow = 8192;  // the frames above a wait are a few hundred bytes

// The wait calls a thread sleeping in the worm's code sits in.
const char* const kWaitCalls[] = {
    "NtDelayExecution",         "NtWaitForSingleObject",  "NtWaitForMultipleObjects",
    "NtSignalAndWaitForSingleObject", "NtRemoveIoCompletion", "NtWaitForKeyedEvent",
};

// Modules a wait passes through between the worm's call and the system call.
const wchar_t* const kWaitPathModules[] = {L"ntdll.dll", L"kernel32.dll", L"kernelbase.dll"};


}  // namespace

ThreadStopPoint::ThreadStopPoint(HANDLE process, SystemModuleFiles& files) : process_(process) {
    SystemFolder folder;
    if (!SystemFolderOf(process, folder)) return;
    is64_ = sizeof(void*) == 8 && folder == SystemFolder::System32;
    const PeFileImage* ntdll = files.File(folder, "ntdll.dll");
    if (!ntdll) return;
    RemoteSystemModules modules(process);
    const uintptr_t base = modules.BaseOf("ntdll.dll", *ntdll);
    if (!base) return;
    auto rangeOf = [&](const char* name, Range& range) {
        uint32_t rva = 0;
        std::string forwarder;
        if (ntdll->FindExport(name, rva, forwarder) != PeFileImage::Export::Code) return false;
        uint32_t end = ntdll->NextExportAfter(rva);
        if (end == 0 || end - rva > kMaxStubSize) end = rva + kMaxStubSize;
        range = {base + rva, base + end};
        return true;
    };
    for (const char* name : kWaitCalls) {
        Range range;
        if (rangeOf(name, range)) waitCalls_.push_back(range);
    }
    if (!is64_) rangeOf("KiFastSystemCallRet", fastSystemCallReturn_);
}

bool ThreadStopPoint::InWaitCall(uintptr_t address) const {
    for (const Range& range : waitCalls_)
        if (address >= range.first && address < range.second) return true;
    return false;
}


int ThreadStopPoint::KindOfCode(uintptr_t address) const {
    if (address < 0x10000) return 0;
    MEMORY_BASIC_INFORMATION memory = {};
    if (VirtualQueryEx(process_, reinterpret_cast<LPCVOID>(address), &memory, sizeof memory) != sizeof memory)
        return 0;
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (memory.State != MEM_COMMIT || !(memory.Protect & executable) || (memory.Protect & PAGE_GUARD)) return 0;
    if (memory.Type == MEM_PRIVATE) return 2;
    if (memory.Type != MEM_IMAGE) return 3;
    wchar_t mapped[MAX_PATH * 2] = {};
    if (!GetMappedFileNameW(process_, reinterpret_cast<void*>(address), mapped, MAX_PATH * 2)) return 3;
    const std::wstring tail = LastTwoNames(mapped);
    for (const wchar_t* module : kWaitPathModules)
        if (tail == std::wstring(L"system32\\") + module || tail == std::wstring(L"syswow64\\") + module) return 1;
    return 3;
}

ThreadStopPoint::Place ThreadStopPoint::WalkStack(uintptr_t stackPointer) const {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQueryEx(process_, reinterpret_cast<LPCVOID>(stackPointer), &region, sizeof region) != sizeof region)
        return Place::Unreadable;
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    const SIZE_T size = regionEnd > stackPointer && regionEnd - stackPointer < kStackWindow ? regionEnd - stackPointer
                                                                                             : kStackWindow;
    std::vector<unsigned char> stack(size);
    SIZE_T read = 0;
    if (!ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(stackPointer), stack.data(), size, &read) || read == 0)
        return Place::Unreadable;
    const std::size_t width = is64_ ? 8 : 4;
    for (std::size_t at = 0; at + width <= read; at += width) {
        uint64_t word = 0;
        memcpy(&word, stack.data() + at, width);
        switch (KindOfCode(static_cast<uintptr_t>(word))) {
            case 1: continue;
            case 2: return Place::WaitFromWormCode;
            case 3: return Place::Elsewhere;
            default: continue;  // data, not a return address
        }
    }
    return Place::Elsewhere;
}

ThreadStopPoint::Place ThreadStopPoint::Judge(HANDLE thread) const {
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) return Place::Unreadable;
#ifdef _WIN64
    const uintptr_t next = static_cast<uintptr_t>(context.Rip);
    uintptr_t stackPointer = static_cast<uintptr_t>(context.Rsp);
#else
    const uintptr_t next = static_cast<uintptr_t>(context.Eip);
    uintptr_t stackPointer = static_cast<uintptr_t>(context.Esp);
#endif
    if (WormThreadProof::IsPrivateCode(process_, next)) return Place::WormCode;
    if (InWaitCall(next)) return WalkStack(stackPointer);
    // 32-bit XP to 7: every system call returns through one stub; the word on top of the stack says
    // which call it was.
    if (next >= fastSystemCallReturn_.first && next < fastSystemCallReturn_.second) {
        uint32_t caller = 0;
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(stackPointer), &caller, sizeof caller, &read) ||
            read != sizeof caller)
            return Place::Unreadable;
        if (!InWaitCall(caller)) return Place::Elsewhere;
        return WalkStack(stackPointer + sizeof caller);
    }
    return Place::Elsewhere;
}

const char* ThreadStopPoint::Describe(Place place) {
    switch (place) {
        case Place::WormCode: return "it runs in the worm's code";
        case Place::WaitFromWormCode: return "it waits in a call of the worm's code";
        case Place::Elsewhere: return "it stands in a module's code, where it may hold a lock";
        case Place::Unreadable: return "where it stands cannot be read";
    }
    return "unknown";
}
