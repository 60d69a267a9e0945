#include "tests/support/FixtureProcess.h"

#include <sstream>

#include "tests/support/TestSupport.h"

namespace grimlettest {

FixtureProcess::FixtureProcess(const std::wstring& program, const std::wstring& folder, const std::wstring& runAs,
                               const std::wstring& arguments) {
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring image = folder + L"\\" + runAs;
    // Several processes may run from one copy.
    if (!testsupport::FileExists(image) &&
        !CopyFileW((testsupport::BinFolder() + L"\\" + program).c_str(), image.c_str(), FALSE))
        return;
    commandLine_ = L"\"" + image + L"\" " + arguments;
    std::wstring mutableLine = commandLine_;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information = {};
    if (!CreateProcessW(image.c_str(), &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &information))
        return;
    CloseHandle(information.hThread);
    process_ = information.hProcess;
    processId_ = information.dwProcessId;
}

FixtureProcess::~FixtureProcess() {
    if (!process_) return;
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, 10000);
    CloseHandle(process_);
}

bool FixtureProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    return testsupport::WaitUntil([&] { return testsupport::FileExists(path); }, timeoutMs);
}

FakeWormThreads ReadFakeWormThreads(const std::wstring& readyFile) {
    FakeWormThreads threads;
    std::istringstream lines(testsupport::ReadFileBytes(readyFile));
    std::string kind;
    DWORD id = 0;
    while (lines >> kind >> id) {
        if (kind == "foreign") threads.foreign.push_back(id);
        if (kind == "own") threads.own.push_back(id);
        if (kind == "edge") threads.edge.push_back(id);
        if (kind == "imageview") threads.imageView.push_back(id);
        if (kind == "locker") threads.locker.push_back(id);
        if (kind == "busy") threads.busy.push_back(id);
    }
    return threads;
}

namespace {
std::wstring ReadyFileFor(const std::wstring& folder, const std::wstring& runAs) {
    static LONG counter = 0;
    return folder + L"\\" + runAs + L"." + std::to_wstring(InterlockedIncrement(&counter)) + L".ready";
}
}  // namespace

FakeWorm::FakeWorm(const std::wstring& folder, const std::wstring& runAs, const std::wstring& arguments)
    : readyFile_(ReadyFileFor(folder, runAs)),
      process_(L"fake_worm.exe", folder, runAs, arguments + L" --ready \"" + readyFile_ + L"\"") {
    ready_ = process_.Started() && WaitForFile(readyFile_);
    if (ready_) threads_ = ReadFakeWormThreads(readyFile_);
}

DnsHookStatus ReadDnsHookStatus(const std::wstring& path) {
    DnsHookStatus status;
    std::istringstream in(testsupport::ReadFileBytes(path));
    std::string word;
    in >> word >> status.calls >> word >> status.hookRuns >> word >> status.last;
    return status;
}

bool ThreadRunning(DWORD threadId) {
    HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread) return false;
    DWORD code = 0;
    const bool running = GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
    CloseHandle(thread);
    return running;
}

bool WaitForThreadsToEnd(const std::vector<DWORD>& threadIds, DWORD timeoutMs) {
    return testsupport::WaitUntil(
        [&] {
            for (DWORD id : threadIds)
                if (ThreadRunning(id)) return false;
            return true;
        },
        timeoutMs);
}

}  // namespace grimlettest
