#pragma once
// A short-lived thread of the plug-in's own process whose start routine and parameter are known. It
// parks itself at once inside its start routine, so that its stack holds what the system's thread
// start-up code leaves there, exactly as on a worm thread; the layout of the worm-thread search is
// checked, and where need be learned, on such threads.
#include <windows.h>

#include "grimlet/threads/NativeLayout.h"
#include "platform/win32/KernelHandle.h"

class ProcessInfo;
class StackImage;

class StackLayoutProbe {
public:
    // Parameters that are not NULL and that no stack slot holds by chance.
    static void* const kParameter;
    static void* const kOtherParameter;

    // How the probe is started: the plain kind by CreateThread with a small start routine; the other
    // kind by CreateRemoteThread on this process, the way an injected thread is started, with a start
    // routine whose frame goes deeper. A layout learned from one kind must read the other too.
    enum class Kind { Plain, Remote };

    // Starts the thread with `parameter`.
    explicit StackLayoutProbe(void* parameter, Kind kind = Kind::Plain);
    // Lets the thread return and waits (bounded) for its end, so that its code is not unloaded under it.
    ~StackLayoutProbe();
    StackLayoutProbe(const StackLayoutProbe&) = delete;
    StackLayoutProbe& operator=(const StackLayoutProbe&) = delete;

    // Waits (bounded) until the thread has parked itself. False when it could not be started or did
    // not park within the bound: nothing can be read from it then.
    bool WaitUntilParked();
    bool Parked() const { return parked_; }
    // Lets the parked thread go on to its end; the destructor waits for that. Several probes released
    // before the first is destroyed end side by side.
    void Release();
    HANDLE Thread() const { return thread_.Get(); }

    // The probe's start routine, the address that its stack must give back.
    StackWord StartAddress() const { return start_; }

    // True when the worm-thread search's own reading (the start address the system keeps, and the one
    // that StackShowsStart looks for with the layout in force) gives back the start routine. `self` is
    // the ProcessInfo of this process.
    bool ReadsBackItsStart(const ProcessInfo& self) const;
    bool CaptureStack(const ProcessInfo& self, StackImage& image) const;

private:
    static DWORD WINAPI Park(LPVOID parameter);
    static DWORD WINAPI ParkDeep(LPVOID parameter);

    StackWord start_;
    KernelHandle thread_;
    bool parked_ = false;
};
