#include "grimlet/threads/StackCalibration.h"

#include <windows.h>

#include "grimlet/common/DescribeOs.h"
#include "grimlet/threads/CalibrationThread.h"
#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/StackImage.h"
#include "grimlet/threads/StackLayoutLearner.h"
#include "grimlet/threads/StackLayoutProbe.h"
#include "platform/log/Logger.h"
#include "platform/system/Wow64.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kCalibrationWaitMs = 3000;

// The word `depth` words below `anchor` on this thread's own stack, or 0 when that would lie below
// `lowest` (the part of the stack this thread is using right now).
StackWord OwnStackWord(const StackWord* anchor, int32_t depth, const volatile void* lowest) {
    if (depth < 0) return 0;
    const StackWord* slot = anchor - depth;
    if (reinterpret_cast<uintptr_t>(slot) <= reinterpret_cast<uintptr_t>(lowest)) return 0;
    return *slot;
}

// A probe without a parameter and one with: the start-up code leaves different top words for them,
// and a worm thread may be either. Starting and ending threads is most of what the check costs, so
// the two start up side by side and end side by side.
class ProbePair {
public:
    ProbePair() : bare_(nullptr), carrying_(StackLayoutProbe::kParameter) {
        bare_.WaitUntilParked();
        carrying_.WaitUntilParked();
    }
    ~ProbePair() {
        bare_.Release();
        carrying_.Release();
    }
    ProbePair(const ProbePair&) = delete;
    ProbePair& operator=(const ProbePair&) = delete;

    bool ReadBack(const ProcessInfo& self) const {
        return bare_.ReadsBackItsStart(self) && carrying_.ReadsBackItsStart(self);
    }
    bool Learn(const ProcessInfo& self, const StackLayoutLearner& learner, OsInfo& os) const {
        StackImage bare, carrying;
        return bare_.CaptureStack(self, bare) && carrying_.CaptureStack(self, carrying) &&
               learner.Learn(bare, carrying, bare_.StartAddress(), os);
    }

private:
    StackLayoutProbe bare_;
    StackLayoutProbe carrying_;
};

bool AnotherKindReadsBack(const ProcessInfo& self) {
    StackLayoutProbe remote(StackLayoutProbe::kOtherParameter, StackLayoutProbe::Kind::Remote);
    const bool readsBack = remote.WaitUntilParked() && remote.ReadsBackItsStart(self);
    remote.Release();
    return readsBack;
}

const char* NameOf(StackLayoutSource source) {
    switch (source) {
        case StackLayoutSource::Table: return "table";
        case StackLayoutSource::Learned: return "learned";
        case StackLayoutSource::None: break;
    }
    return "none";
}

StackLayoutSource CheckOrLearnLayout(const StackLayoutLearner& learner) {
    OsInfo& os = OsInfo::Instance();
    const ProcessInfo self(GetCurrentProcessId(), ProcessInfo::HandleOnly());
    bool learned = false;
    {
        const ProbePair probes;
        if (probes.ReadBack(self)) return StackLayoutSource::Table;
        learned = probes.Learn(self, learner, os);
    }
    // Fresh threads: a layout counts only once it reads stacks that it was not learned from, and a
    // thread of another kind than those it was learned from.
    if (learned && ProbePair().ReadBack(self) && AnotherKindReadsBack(self)) return StackLayoutSource::Learned;
    os.markA = 0;
    os.markB = 0;
    return StackLayoutSource::None;
}

void LogStackLayout(StackLayoutSource source) {
    const OsInfo& os = OsInfo::Instance();
    TW_LOG(LogLevel::Detail,
           "Stack layout [%s]: depths [%d] [%d] picks [%d] [%d] marks [%p] [%p] for system code [0x%08X]", NameOf(source), os.depthA, os.depthB, os.pickA, os.pickB, reinterpret_cast<void*>(os.markA),
           reinterpret_cast<void*>(os.markB), os.versionCode);
    if (source == StackLayoutSource::None)
        TW_LOG(LogLevel::Error,
               "Worm-thread search unavailable: no stack layout gives back the start of this process's own threads");
}

}  // namespace

StackWord CalibrateStack(const OsInfo& layout, int mode) {
    volatile int lowest = 0;  // everything above this local is the live part of this thread's stack
    uintptr_t teb = 0;
    if (!NtApi::ThreadEnvironmentBlock(GetCurrentThread(), teb)) return 0;
    const auto* stackBase = reinterpret_cast<const StackWord*>(
        *reinterpret_cast<const StackWord*>(teb + NativeLayout::kTebStackBase));

    if (!layout.StartsWithZeroWalk()) {
        // A slot of the start-up code may hold a register's leftover instead of a return address
        // (XP's first one does): only a return address into the system's thread start-up is a mark.
        const StackWord word = OwnStackWord(stackBase, mode == 1 ? layout.depthA : layout.depthB, &lowest);
        return IsSystemReturnAddress(word) ? word : 0;
    }

    const StackWord* anchor = stackBase - 1;
    while (*anchor == 0 && reinterpret_cast<uintptr_t>(anchor) > reinterpret_cast<uintptr_t>(&lowest)) --anchor;
    for (int32_t depth : {layout.depthA, layout.depthB}) {
        const StackWord word = OwnStackWord(anchor, depth, &lowest);
        if (word != 0 && LiesInMappedFile(word, L"ntdll.dll")) return word;
    }
    return 0;
}

void SetUpOsInfo() {
    OsInfo& os = OsInfo::Instance();
    OsDescription description;
    if (DescribeOs(description)) {
        os.majorVersion = description.majorVersion;
        os.versionCode = description.versionCode;
    }
    os.SetStackConstants(IsWow64());
    const StackWord first = CalibrateStack(os, 1);
    if (os.StartsWithZeroWalk()) {
        // One return address into ntdll serves both kinds; without one, markB follows markA.
        if (first != 0) os.markA = first;
        os.markB = os.markA;
    } else {
        os.markA = first;
        if (os.majorVersion < 6) {
            CalibrationThread second(os);
            StackWord mark = 0;
            if (second.Wait(kCalibrationWaitMs, mark))
                os.markB = mark;
            else
                TW_LOG(LogLevel::Detail, "Second stack calibration did not finish within %u ms",
                       static_cast<unsigned>(kCalibrationWaitMs));
        }
    }
    // The table describes the start-up code of the Windows versions it names, and the calibration may
    // run on a thread unlike a worm's: neither is trusted before it has read back a known thread.
    ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress));
}

StackLayoutSource ProveStackLayout(const StackLayoutLearner& learner) {
    const StackLayoutSource source = CheckOrLearnLayout(learner);
    LogStackLayout(source);
    return source;
}
