#include "app/StartUp.h"

#include <windows.h>

#include "app/PreparedWorkFolder.h"
#include "app/SingleRunGuard.h"
#include "app/dialog/DialogRunner.h"

namespace startup {

namespace {

const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kPrepareFailed[] = L"初始化组件失败";
const wchar_t kAlreadyRunningText[] = L"GRIMLET专杀工具已在运行。";
// The detection dialog's caption (dialog template 203).
const wchar_t kDialogCaption[] = L"Quorvel Tidewash Fix Tool";
const wchar_t kDialogClass[] = L"#32770";

// The running dialog, if it is on this desktop, to the front; otherwise a plain word that it runs
// (it may be finishing, or an unattended run in another session).
void ShowTheRunningOne() {
    HWND running = FindWindowW(kDialogClass, kDialogCaption);
    if (running) {
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        if (SetForegroundWindow(running)) return;
    }
    MessageBoxW(nullptr, kAlreadyRunningText, kCaption, MB_ICONINFORMATION);
}

}  // namespace

int ShowPrepareFailed() {
    MessageBoxW(nullptr, kPrepareFailed, kCaption, MB_ICONERROR);
    return -1;
}

int Run() {
    // An empty card reader or a share that is gone must not raise a "no disk" box in the middle of a
    // scan of the drives. Child processes (the cleanup engine) inherit the mode. GetErrorMode is
    // missing on XP, hence the read through SetErrorMode.
    const UINT previousMode = SetErrorMode(0);
    SetErrorMode(previousMode | SEM_FAILCRITICALERRORS);
    SingleRunGuard onlyRun;
    if (!onlyRun.IsOnlyRun()) {
        ShowTheRunningOne();
        return kAlreadyRunning;
    }
    PreparedWorkFolder workFolder;
    if (!workFolder.Prepared()) return ShowPrepareFailed();
    return RunDetectionDialog();
}

}  // namespace startup
