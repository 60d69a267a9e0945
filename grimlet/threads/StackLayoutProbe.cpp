#include "grimlet/threads/StackLayoutProbe.h"

#include <cstdint>

#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/StackImage.h"

namespace {

// A thread starts in well under a millisecond; the bounds only keep Initialize from hanging on a system
// that does not start or schedule the probe.
constexpr DWORD kParkBoundMs = 1000;
constexpr DWORD kEndBoundMs = 1000;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);

DWORD MillisecondsSince(DWORD start) { return GetTickCount() - start; }

HANDLE StartProbe(StackLayoutProbe::Kind kind, LPTHREAD_START_ROUTINE start, void* parameter) {
    if (kind == StackLayoutProbe::Kind::Remote)
        return CreateRemoteThread(GetCurrentProcess(), nullptr, 0, start, parameter, 0, nullptr);
    return CreateThread(nullptr, 0, start, parameter, 0, nullptr);
}

}  // namespace

void* const StackLayoutProbe::kParameter = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5EED0B5Eu));
void* const StackLayoutProbe::kOtherParameter = reinterpret_cast<void*>(static_cast<uintptr_t>(0x0DDC0FFEu));

DWORD WINAPI StackLayoutProbe::Park(LPVOID) {
    // Suspending itself needs nothing from its creator, so the probe without a parameter parks just
    // like the one with a parameter.
    SuspendThread(GetCurrentThread());
    return 0;
}

DWORD WINAPI StackLayoutProbe::ParkDeep(LPVOID parameter) {
    // A frame well below the start-up code's words, kept by the volatile writes.
    volatile StackWord frame[64];
    for (volatile StackWord& word : frame) word = reinterpret_cast<StackWord>(parameter) ^ 0x5A5Au;
    SuspendThread(GetCurrentThread());
    return static_cast<DWORD>(frame[0] & 1u);
}

StackLayoutProbe::StackLayoutProbe(void* parameter, Kind kind)
    : start_(reinterpret_cast<StackWord>(kind == Kind::Remote ? &ParkDeep : &Park)),
      thread_(StartProbe(kind, reinterpret_cast<LPTHREAD_START_ROUTINE>(start_), parameter)) {}

StackLayoutProbe::~StackLayoutProbe() {
    if (!thread_.IsValid()) return;
    // Resumed until it ends: a probe that parked only after the bound suspends itself after any single
    // resume that came too early.
    const DWORD start = GetTickCount();
    do {
        ResumeThread(thread_.Get());
    } while (WaitForSingleObject(thread_.Get(), 1) == WAIT_TIMEOUT && MillisecondsSince(start) < kEndBoundMs);
}

bool StackLayoutProbe::WaitUntilParked() {
    if (parked_ || !thread_.IsValid()) return parked_;
    const DWORD start = GetTickCount();
    for (;;) {
        // A suspension that was there before ours can only be the probe's own.
        const DWORD previous = SuspendThread(thread_.Get());
        if (previous == kSuspendFailed) return false;
        ResumeThread(thread_.Get());
        if (previous > 0) {
            parked_ = true;
            return true;
        }
        if (MillisecondsSince(start) > kParkBoundMs) return false;
        // Lets the probe run on this processor too, whatever the priorities.
        if (!SwitchToThread()) Sleep(0);
    }
}

void StackLayoutProbe::Release() {
    if (parked_) ResumeThread(thread_.Get());
}

bool StackLayoutProbe::ReadsBackItsStart(const ProcessInfo& self) const {
    if (!parked_) return false;
    uintptr_t recorded = 0;
    return NtApi::Win32StartAddress(thread_.Get(), recorded) && recorded == start_ &&
           StackShowsStart(self, thread_.Get(), start_);
}

bool StackLayoutProbe::CaptureStack(const ProcessInfo& self, StackImage& image) const {
    return parked_ && StackImage::Capture(self.Handle(), thread_.Get(), image);
}
