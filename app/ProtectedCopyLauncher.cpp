#include "app/ProtectedCopyLauncher.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "app/StartUp.h"
#include "app/unattended/UnattendedStartUp.h"
#include "platform/log/Logger.h"
#include "platform/payload/ProgramCopyCheck.h"
#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/FindHandle.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"ProtectedCopyLauncher";

namespace {

// Far more than the program and its payload; a file beyond it is not the program.
constexpr LONGLONG kLargestProgram = 256LL * 1024 * 1024;
const wchar_t kLogName[] = L"qvcleantool.log";
const wchar_t kEngineLogName[] = L"RunMendrel.log";

// Whatever lies at `path` now; what it is, is checked afterwards on the bytes read.
bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& bytes, std::wstring& failure) {
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        failure = path + L" cannot be read (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    if (size.QuadPart <= 0 || size.QuadPart > kLargestProgram) {
        failure = path + L" is " + std::to_wstring(size.QuadPart) + L" bytes long, beyond what is read";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!ReadFile(file.Get(), bytes.data() + done, wanted, &got, nullptr) || got == 0) {
            failure = path + L" cannot be read (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
        done += got;
    }
    return true;
}

// The standard handles, as inheritable duplicates for the copy: a script's redirection (Tidewash.exe
// /quarantine > list.txt) reaches the copy as it would have reached this process.
class InheritableStandardHandles {
public:
    InheritableStandardHandles() {
        const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (int i = 0; i < 3; ++i) {
            const HANDLE own = GetStdHandle(which[i]);
            HANDLE duplicate = nullptr;
            if (own && own != INVALID_HANDLE_VALUE &&
                DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &duplicate, 0, TRUE,
                                DUPLICATE_SAME_ACCESS))
                handles_[i].Attach(duplicate);
        }
    }
    bool Any() const { return handles_[0].IsValid() || handles_[1].IsValid() || handles_[2].IsValid(); }
    void PutInto(STARTUPINFOW& startup) const {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = handles_[0].Get();
        startup.hStdOutput = handles_[1].Get();
        startup.hStdError = handles_[2].Get();
    }

private:
    KernelHandle handles_[3];
};

// A job that ends the copy when this process ends, so that a first process that is stopped never leaves
// its copy at work. Where this process is in a job of its own already (before Windows 8 one job only)
// the copy is not put in one.
KernelHandle JobThatEndsWithThisProcess() {
    KernelHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job.IsValid() && !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.Close();
    return job;
}

int Refuse(const CommandLineOptions& options, const std::wstring& why) {
    TW_LOG(LogLevel::Error, "The program is not run: %S", why.c_str());
    if (options.mode == CommandLineOptions::Mode::Dialog) return startup::ShowPrepareFailed();
    return unattended::RunThatCouldNotStart(options, why);
}

}  // namespace

ProtectedCopyLauncher::ProtectedCopyLauncher() : folder_(WorkFolder::Purpose::ForACopy) {
    if (!folder_.IsReady()) {
        failure_ = folder_.Failure();
        return;
    }
    bool stamped = false;
    const ProgramCopyCheck check = ProgramCopyCheck::OfThisProgram(stamped);
    if (!stamped) {
        failure_ = L"the program carries no stamp of its image and payload";
        return;
    }
    // The program's path may name another file by now (the folder is its user's): only bytes that are
    // this very image and its payload are copied.
    const std::wstring program = ProtectedCopy::ThisProgramPath();
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(program, bytes, failure_)) return;
    const ProgramCopyCheck::Verdict verdict = check.Judge(bytes.data(), bytes.size());
    if (verdict != ProgramCopyCheck::Verdict::Same) {
        failure_ = program + L" holds " + ProgramCopyCheck::Describe(verdict);
        return;
    }
    copyPath_ = folder_.Path() + L"\\" + ProtectedCopy::kCopyName;
    WriteCopy(bytes);
}

bool ProtectedCopyLauncher::WriteCopy(const std::vector<unsigned char>& bytes) {
    DWORD error = 0;
    KernelHandle file = ProtectedDataFolder::OpenFileInside(folder_.Handle(), ProtectedCopy::kCopyName, error);
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart != 0) {
        failure_ = copyPath_ + L" cannot be made (error " + std::to_wstring(file.IsValid() ? ERROR_FILE_EXISTS : error) +
                   L")";
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) || written != chunk) {
            failure_ = copyPath_ + L" cannot be written (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
        done += written;
    }
    if (!FlushFileBuffers(file.Get()) || !file.Close()) {
        failure_ = copyPath_ + L" cannot be written (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    return true;
}

int ProtectedCopyLauncher::RunCopy() {
    STARTUPINFOW startup = {};
    GetStartupInfoW(&startup);
    startup.cb = sizeof startup;
    startup.lpReserved = nullptr;
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;
    startup.dwFlags &= ~STARTF_USESTDHANDLES;
    const InheritableStandardHandles standard;
    if (standard.Any()) standard.PutInto(startup);
    std::wstring line = GetCommandLineW();
    line.push_back(L'\0');
    SetEnvironmentVariableW(ProtectedCopy::kStartedAsCopy, L"1");
    const KernelHandle job = JobThatEndsWithThisProcess();
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(copyPath_.c_str(), &line[0], nullptr, nullptr, standard.Any() ? TRUE : FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started)) {
        failure_ = copyPath_ + L" cannot be started (error " + std::to_wstring(GetLastError()) + L")";
        return -1;
    }
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    if (job.IsValid()) AssignProcessToJobObject(job.Get(), process.Get());
    // The dialog is the copy's: it may come to the front as this process's own window would.
    AllowSetForegroundWindow(started.dwProcessId);
    ResumeThread(thread.Get());
    thread.Close();
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

void ProtectedCopyLauncher::HandOverLogs() const {
    if (!folder_.IsReady()) return;
    char program[MAX_PATH] = {};
    const DWORD got = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (got == 0 || got >= MAX_PATH) return;
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW((folder_.Path() + L"\\*.log").c_str(), &entry));
    if (!search.IsValid()) return;
    do {
        const std::wstring name = entry.cFileName;
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
            _wcsicmp(name.c_str(), kEngineLogName) == 0)
            continue;
        char narrow[MAX_PATH] = {};
        char target[MAX_PATH] = {};
        if (!WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr) ||
            !Logger::BuildFilePath(program, narrow, target))
            continue;
        std::vector<unsigned char> text;
        std::wstring failure;
        if (!ReadWholeFile(folder_.Path() + L"\\" + name, text, failure)) continue;
        Logger::AppendToFile(target, std::string(text.begin(), text.end()), _wcsicmp(name.c_str(), kLogName) != 0);
    } while (FindNextFileW(search.Get(), &entry));
}

int RunFromProtectedCopy(const CommandLineOptions& options) {
    // A command line that was not understood runs nothing and unpacks nothing: its answer is given here.
    if (options.mode == CommandLineOptions::Mode::Usage) return unattended::Run(options);
    Logger logger;  // the log beside the program, as always; the copy's lines are added when it ends
    ProtectedCopyLauncher launcher;
    if (!launcher.IsReady()) return Refuse(options, launcher.Failure());
    const int code = launcher.RunCopy();
    if (!launcher.IsReady()) return Refuse(options, launcher.Failure());
    launcher.HandOverLogs();
    return code;
}

int RefuseUntrustedCopy(const CommandLineOptions& options) {
    Logger logger;
    return Refuse(options, L"this copy of the program lies in no folder that only administrators could have made");
}
