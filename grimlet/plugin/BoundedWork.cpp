#include "grimlet/plugin/BoundedWork.h"

#include <memory>

#include "platform/win32/KernelHandle.h"

namespace {

struct Job {
    std::function<void()> work;
    HMODULE module = nullptr;  // the reference the thread gives back as it exits
};

DWORD WINAPI RunJob(LPVOID parameter) {
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    job->work();
    const HMODULE module = job->module;
    job.reset();
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

BoundedWork::Outcome BoundedWork::Run(std::function<void()> work, DWORD boundMs) {
    auto job = std::make_unique<Job>();
    job->work = std::move(work);
    // Without its own reference to this module the thread is not started: given up, it could outlive
    // the plug-in's code.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunJob),
                            &job->module))
        return Outcome::NotStarted;
    const HMODULE module = job->module;
    KernelHandle thread(CreateThread(nullptr, 0, &RunJob, job.get(), 0, nullptr));
    if (!thread.IsValid()) {
        FreeLibrary(module);
        return Outcome::NotStarted;
    }
    job.release();  // the thread's now
    return WaitForSingleObject(thread.Get(), boundMs) == WAIT_OBJECT_0 ? Outcome::Done : Outcome::GivenUp;
}
