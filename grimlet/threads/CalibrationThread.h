#pragma once
// The second calibration before Vista, on a thread made for the purpose. The thread works on a result
// block of its own, which it shares with this object and which lives as long as either of them. The
// mark leaves that block only through Wait, and only when the thread finished within the wait: a
// thread that came too late can never change the layout afterwards.
#include <windows.h>

#include <memory>

#include "grimlet/threads/OsInfo.h"
#include "platform/win32/KernelHandle.h"

class CalibrationThread {
public:
    // Starts the thread, which calibrates with the constants of `layout`. When `gate` is given, the
    // thread waits for it first (tests hold the thread back with it).
    explicit CalibrationThread(const OsInfo& layout, HANDLE gate = nullptr);
    CalibrationThread(const CalibrationThread&) = delete;
    CalibrationThread& operator=(const CalibrationThread&) = delete;

    // Waits at most `timeoutMs` for the thread. True, with its mark, when it finished in time.
    bool Wait(DWORD timeoutMs, StackWord& mark);
    HANDLE Thread() const { return thread_.Get(); }

private:
    struct Block {
        OsInfo layout;
        KernelHandle gate;
        StackWord mark = 0;
    };
    static DWORD WINAPI Run(LPVOID parameter);

    std::shared_ptr<Block> block_;
    KernelHandle thread_;
};
