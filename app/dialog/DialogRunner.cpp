#include "app/dialog/DialogRunner.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "app/ScanControllerEngine.h"
#include "app/controls/AppModule.h"
#include "app/dialog/DetectionPage.h"

namespace {
constexpr DWORD kWorkerGraceMs = 30000;
}  // namespace

int RunDetectionDialog() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Loads the window manager's library before any window exists.
    DefWindowProcW(nullptr, 0, 0, 0);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    CAppModule module;
    module.Init(GetModuleHandleW(nullptr));  // E_OUTOFMEMORY only leaves the loop registry out

    // Shared ownership: a worker still running when the dialog closes keeps the page alive until it ends.
    auto page = std::make_shared<CDetectionPage>(module.ResourceInstance(),
                                                 [] { return std::make_shared<ScanControllerEngine>(); });
    INT_PTR result = page->DoModal(GetActiveWindow());
    // Closed while busy: the window is gone, but a worker may be inside the plug-in with a service key
    // taken over or a thread suspended. Only its own return puts those back, so the process waits for
    // it - within reason.
    page->WaitForWorkers(kWorkerGraceMs);

    module.Term();
    CoUninitialize();
    page.reset();
    return static_cast<int>(result);
}
