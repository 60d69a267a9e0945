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
    // Nothing may leave a thread that nobody waits for: memory running out ends this piece, not the host.
    try {
        job->work();
    } catch (...) {
    }
    const HMODULE module = job->module;
    job.reset();
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

HANDLE BoundedWork::Start(std::function<void()> work) {
    auto job = std::make_unique<Job>();
    job->work = std::move(work);
    // Without its own reference to this module the thread is not started: given up, it could outlive
    // the plug-in's code.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunJob),
                            &job->module))
        return nullptr;
    const HMODULE module = job->module;
    HANDLE thread = CreateThread(nullptr, 0, &RunJob, job.get(), 0, nullptr);
    if (!thread) {
        FreeLibrary(module);
        return nullptr;
    }
    job.release();  // the thread's now
    return thread;
}

BoundedWork::Outcome BoundedWork::Run(std::function<void()> work, DWORD boundMs) {
    std::vector<std::function<void()>> works;
    works.push_back(std::move(work));
    return RunAll(std::move(works), boundMs).front();
}

std::vector<BoundedWork::Outcome> BoundedWork::RunAll(std::vector<std::function<void()>> works, DWORD boundMs) {
    std::vector<KernelHandle> threads;
    for (auto& work : works) threads.emplace_back(Start(std::move(work)));
    const DWORD started = GetTickCount();  // XP has no 64-bit count; the difference survives a wrap
    std::vector<Outcome> outcomes;
    for (const KernelHandle& thread : threads) {
        if (!thread.IsValid()) {
            outcomes.push_back(Outcome::NotStarted);
            continue;
        }
        const DWORD spent = GetTickCount() - started;
        const DWORD left = spent >= boundMs ? 0 : boundMs - spent;
        outcomes.push_back(WaitForSingleObject(thread.Get(), left) == WAIT_OBJECT_0 ? Outcome::Done : Outcome::GivenUp);
    }
    return outcomes;
}
