#include "app/unattended/EngineCommand.h"

#include <windows.h>

#include "platform/system/Utf8.h"
#include "platform/win32/KernelHandle.h"

namespace {

// The engine's listing is a few hundred bytes an item; anything beyond this is not the engine's.
constexpr std::size_t kMaxOutputBytes = 16u << 20;

std::wstring ErrorText(DWORD error) { return L"error " + std::to_wstring(error); }

}  // namespace

bool EngineCommand::Run(const std::wstring& arguments, int& exitCode) {
    lines_.clear();
    failure_.clear();
    const std::wstring folder = workFolder_ + L"\\plugin";
    const std::wstring engine = folder + L"\\RunMendrel.exe";
    std::wstring commandLine = L"\"" + engine + L"\" " + arguments;

    // Only the pipe's writing end is inherited, and only by this child.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 64 * 1024)) {
        failure_ = L"no pipe for the engine's output (" + ErrorText(GetLastError()) + L")";
        return false;
    }
    KernelHandle output(readEnd);
    KernelHandle childOutput(writeEnd);
    SetHandleInformation(output.Get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = childOutput.Get();
    PROCESS_INFORMATION started = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    // The full path of the engine this run unpacked: never looked up along the search path.
    if (!CreateProcessW(engine.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        folder.c_str(), &startup, &started)) {
        failure_ = engine + L" could not be started (" + ErrorText(GetLastError()) + L")";
        return false;
    }
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    childOutput.Close();  // the pipe ends when the engine (the last writer) ends

    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        if (bytes.size() < kMaxOutputBytes) bytes.append(buffer, got);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code)) {
        failure_ = L"the engine's exit code cannot be read (" + ErrorText(GetLastError()) + L")";
        return false;
    }
    exitCode = static_cast<int>(code);
    lines_ = SplitOutput(bytes);
    return true;
}

std::vector<std::wstring> EngineCommand::SplitOutput(const std::string& bytes) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::size_t stop = end;
        if (stop > start && bytes[stop - 1] == '\r') --stop;
        lines.push_back(WideFromUtf8(bytes.substr(start, stop - start)));
        start = end + 1;
    }
    return lines;
}
