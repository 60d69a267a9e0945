#pragma once
// Test fixture programs started under a chosen name (svchost.exe, services.exe, ...) and ended again.
#include <windows.h>

#include <string>
#include <vector>

namespace grimlettest {

class FixtureProcess {
public:
    // Copies the fixture `program` of the bin folder to `folder`\`runAs` and starts it there with
    // `arguments` (the copy's own name comes first on its command line).
    FixtureProcess(const std::wstring& program, const std::wstring& folder, const std::wstring& runAs,
                   const std::wstring& arguments);
    ~FixtureProcess();  // ends the process
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return processId_; }
    HANDLE Handle() const { return process_; }
    bool Running() const;
    const std::wstring& CommandLine() const { return commandLine_; }

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    std::wstring commandLine_;
};

// Waits until `path` exists (a fixture writes it when it is ready); false after `timeoutMs`.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs = 20000);

// The threads a fake worm reports in its ready file.
struct FakeWormThreads {
    std::vector<DWORD> foreign;  // started in memory it allocated
    std::vector<DWORD> own;      // started in its own module
    std::vector<DWORD> edge;     // started exactly at the end of its image (absent where it could not)
    std::vector<DWORD> imageView;  // started in an image view outside the loader's list (--look-alike)
    std::vector<DWORD> locker;     // foreign, and holding the loader lock (--hold-loader-lock)
    std::vector<DWORD> busy;       // foreign, and running on in the image's code (--busy-in-module)
};
FakeWormThreads ReadFakeWormThreads(const std::wstring& readyFile);

// A running fake worm under `runAs` with `group` on its command line, ready when constructed.
class FakeWorm {
public:
    FakeWorm(const std::wstring& folder, const std::wstring& runAs, const std::wstring& arguments);
    bool Ready() const { return ready_; }
    const FixtureProcess& Process() const { return process_; }
    const FakeWormThreads& Threads() const { return threads_; }

private:
    std::wstring readyFile_;
    FixtureProcess process_;
    bool ready_ = false;
    FakeWormThreads threads_;
};

// What a fake worm host with --hook-dns last wrote: its calls of DnsQuery_A, the worm handler's runs and
// the last result.
struct DnsHookStatus {
    unsigned long calls = 0;
    unsigned long hookRuns = 0;
    long last = 0;
};
DnsHookStatus ReadDnsHookStatus(const std::wstring& path);
constexpr long kWormsDnsAnswer = 9003;  // what the worm's handler answers

// True while the thread exists and has not ended.
bool ThreadRunning(DWORD threadId);
// Waits until none of the threads runs any more; false after `timeoutMs`.
bool WaitForThreadsToEnd(const std::vector<DWORD>& threadIds, DWORD timeoutMs = 10000);

}  // namespace grimlettest
