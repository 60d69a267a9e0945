#include "platform/system/Wow64.h"

namespace {

// IsWow64Process on `process`, looked up at run time. False when the system lacks the query or it fails.
bool AskIsWow64(HANDLE process, bool& wow64) {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto isWow64Process = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                                       reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                                 : nullptr;
    BOOL answer = FALSE;
    const bool asked = isWow64Process && isWow64Process(process, &answer);
    wow64 = asked && answer;
    return asked;
}

}  // namespace

bool IsWow64() {
    // The answer never changes, so a race that computes it twice is harmless.
    static volatile LONG known = 0;
    static volatile LONG answer = 0;
    if (!known) {
        bool wow64 = false;
        answer = AskIsWow64(GetCurrentProcess(), wow64) && wow64 ? 1 : 0;
        known = 1;
    }
    return answer != 0;
}

bool IsBeyondWow64View(HANDLE process) {
    if (!process || !IsWow64()) return false;
    // A process whose kind cannot be asked is examined as before: the reads themselves then decide.
    bool wow64 = false;
    return AskIsWow64(process, wow64) && !wow64;
}
