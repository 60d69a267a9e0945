#include "grimlet/threads/CalibrationThread.h"

#include "grimlet/threads/StackCalibration.h"

CalibrationThread::CalibrationThread(const OsInfo& layout, HANDLE gate) : block_(std::make_shared<Block>()) {
    block_->layout = layout;
    HANDLE ownGate = nullptr;
    if (gate && DuplicateHandle(GetCurrentProcess(), gate, GetCurrentProcess(), &ownGate, SYNCHRONIZE, FALSE, 0))
        block_->gate.Attach(ownGate);
    // The thread's share of the block, handed over with the thread or taken back when it cannot start.
    auto* share = new std::shared_ptr<Block>(block_);
    thread_.Attach(CreateThread(nullptr, 0, &Run, share, 0, nullptr));
    if (!thread_.IsValid()) delete share;
}

DWORD WINAPI CalibrationThread::Run(LPVOID parameter) {
    const std::unique_ptr<std::shared_ptr<Block>> share(static_cast<std::shared_ptr<Block>*>(parameter));
    Block& block = **share;
    if (block.gate.IsValid()) WaitForSingleObject(block.gate.Get(), INFINITE);
    block.mark = CalibrateStack(block.layout, 2);
    return 0;
}

bool CalibrationThread::Wait(DWORD timeoutMs, StackWord& mark) {
    if (!thread_.IsValid() || WaitForSingleObject(thread_.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
    mark = block_->mark;
    return true;
}
