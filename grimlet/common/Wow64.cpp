#include "grimlet/common/Wow64.h"

namespace {

// IsWow64Process on `process`, looked up at run time. False when the system lacks the query or it fails.
bool AskIsWow64(HANDLE process, bool& wow64) {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = LoadLibraryW(L"kernel32.dll");
    if (!kernel) return false;
    auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL answer = FALSE;
    const bool asked = isWow64Process && isWow64Process(process, &answer);
    FreeLibrary(kernel);
    wow64 = asked && answer;
    return asked;
}

}  // namespace

bool RunsUnderWow64() {
    bool wow64 = false;
    return AskIsWow64(GetCurrentProcess(), wow64) && wow64;
}

bool IsBeyondWow64View(HANDLE process) {
    if (!process || !RunsUnderWow64()) return false;
    // A process whose kind cannot be asked is examined as before: the reads themselves then decide.
    bool wow64 = false;
    return AskIsWow64(process, wow64) && !wow64;
}
