#include "grimlet/StackCalibration.h"

#include <windows.h>
#include <psapi.h>

#include <cwchar>

#include "grimlet/DescribeOs.h"
#include "grimlet/GrimletSteps.h"
#include "grimlet/NtApi.h"
#include "grimlet/OsInfo.h"
#include "grimlet/Wow64.h"
#include "platform/Logger.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kCalibrationWaitMs = 3000;

bool LiesInNtdll(StackWord address) {
    wchar_t path[MAX_PATH] = {};
    if (!GetMappedFileNameW(GetCurrentProcess(), reinterpret_cast<LPVOID>(address), path, MAX_PATH)) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    return _wcsicmp(name ? name + 1 : path, L"ntdll.dll") == 0;
}

// The word `depth` words below `anchor` on this thread's own stack, or 0 when that would lie below
// `lowest` (the part of the stack this thread is using right now).
StackWord OwnStackWord(const StackWord* anchor, int32_t depth, const volatile void* lowest) {
    if (depth < 0) return 0;
    const StackWord* slot = anchor - depth;
    if (reinterpret_cast<uintptr_t>(slot) <= reinterpret_cast<uintptr_t>(lowest)) return 0;
    return *slot;
}

DWORD WINAPI CalibrationThread(LPVOID) {
    CalibrateStack(2);
    return 0;
}

}  // namespace

void CalibrateStack(int mode) {
    volatile int lowest = 0;  // everything above this local is the live part of this thread's stack
    uintptr_t teb = 0;
    if (!NtApi::ThreadEnvironmentBlock(GetCurrentThread(), teb)) return;
    const auto* stackBase = reinterpret_cast<const StackWord*>(
        *reinterpret_cast<const StackWord*>(teb + NativeLayout::kTebStackBase));
    OsInfo& os = OsInfo::Instance();

    if (!os.StartsWithZeroWalk()) {
        if (mode == 1) os.markA = OwnStackWord(stackBase, os.depthA, &lowest);
        if (mode == 2) os.markB = OwnStackWord(stackBase, os.depthB, &lowest);
        return;
    }

    const StackWord* anchor = stackBase - 1;
    while (*anchor == 0 && reinterpret_cast<uintptr_t>(anchor) > reinterpret_cast<uintptr_t>(&lowest)) --anchor;
    for (int32_t depth : {os.depthA, os.depthB}) {
        const StackWord word = OwnStackWord(anchor, depth, &lowest);
        if (word != 0 && LiesInNtdll(word)) {
            os.markA = word;
            os.markB = word;
            return;
        }
    }
    os.markB = os.markA;
}

void SetUpOsInfo() {
    OsInfo& os = OsInfo::Instance();
    OsDescription description;
    if (DescribeOs(description)) {
        os.majorVersion = description.majorVersion;
        os.versionCode = description.versionCode;
    }
    os.SetStackConstants(RunsUnderWow64());
    CalibrateStack(1);
    if (os.majorVersion < 6) {
        HANDLE thread = CreateThread(nullptr, 0, CalibrationThread, nullptr, 0, nullptr);
        if (thread) {
            WaitForSingleObject(thread, kCalibrationWaitMs);
            CloseHandle(thread);
        }
    }
    TW_LOG(LogLevel::Detail, "Stack marks [%p] [%p] for system code [0x%08X]", reinterpret_cast<void*>(os.markA),
           reinterpret_cast<void*>(os.markB), os.versionCode);
}
