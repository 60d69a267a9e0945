#include "tests/support/MessageBoxAnswerer.h"

#include <set>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

// The program runs on a desktop of its own: Wine then starts that desktop's window manager from the
// program's environment (the display of this run), whatever desktop other programs of the prefix use.
class TestDesktop {
public:
    TestDesktop() {
        wchar_t name[64];
        wsprintfW(name, L"TidewashTest%lu-%lu", GetCurrentProcessId(), GetTickCount());
        name_ = name;
        desktop_ = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    }
    ~TestDesktop() {
        if (desktop_ != nullptr) CloseDesktop(desktop_);
    }
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;
    HDESK Get() const { return desktop_; }
    const std::wstring& Name() const { return name_; }

private:
    std::wstring name_;
    HDESK desktop_ = nullptr;
};

struct BoxSearch {
    std::set<DWORD> processes;  // the started process and its copy
    const std::wstring* caption;
    bool withCaption;
    HWND found;
};

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, static_cast<int>(sizeof text / sizeof text[0]));
    return text;
}

BOOL CALLBACK MatchBox(HWND window, LPARAM context) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // The window's own style: IsWindowVisible also asks the desktop window, which is hidden on a desktop
    // nobody looks at.
    const bool shown = (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
    if (search->processes.count(owner) && shown &&
        (WindowText(window) == *search->caption) == search->withCaption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (lstrcmpiW(className, L"Static") == 0) {
        std::wstring text = WindowText(child);
        if (!text.empty()) {
            std::wstring* all = reinterpret_cast<std::wstring*>(context);
            if (!all->empty()) *all += L"\n";
            *all += text;
        }
    }
    return TRUE;
}

}  // namespace

HWND MessageBoxAnswerer::FindWindowOf(HDESK desktop, DWORD processId, bool withCaption) const {
    BoxSearch search = {testsupport::ProcessAndDescendants(processId), &caption_, withCaption, nullptr};
    EnumDesktopWindows(desktop, MatchBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring MessageBoxAnswerer::ReadText(HWND box) {
    std::wstring text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

MessageBoxAnswerer::Outcome MessageBoxAnswerer::Run(const std::wstring& exe, const std::wstring& currentDirectory,
                                                    bool closeOtherWindows, DWORD timeoutMs,
                                                    const std::wstring& arguments) const {
    Outcome outcome;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    TestDesktop desktop;
    if (desktop.Get() == nullptr) return outcome;
    std::wstring desktopName = desktop.Name();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = &desktopName[0];
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process)) {
        return outcome;
    }
    CloseHandle(process.hThread);
    const DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
        if (!outcome.boxSeen) {
            if (HWND box = FindWindowOf(desktop.Get(), process.dwProcessId, true)) {
                outcome.boxSeen = true;
                outcome.boxText = ReadText(box);
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
        }
        if (closeOtherWindows) {
            if (HWND other = FindWindowOf(desktop.Get(), process.dwProcessId, false)) PostMessageW(other, WM_CLOSE, 0, 0);
        }
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            outcome.exitCode = -1001;
            CloseHandle(process.hProcess);
            return outcome;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    outcome.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    return outcome;
}
