#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/IDetectionEngine.h"
#include "app/controls/BitmapButton.h"
#include "app/controls/DialogRegionT.h"
#include "app/controls/ModalDialog.h"
#include "app/controls/MyCheckListCtrl.h"
#include "app/controls/PictureExWnd.h"
#include "app/dialog/WorkerTracker.h"
#include "engine/IUiProgressCB.h"
#include "platform/system/PatchStatus.h"

// The program's one window: choose how to clean, scan, see the threats, choose them and clean them.
// Scans and cleans run on worker threads of the page; the engine reports back through IUiProgressCB on
// its own threads, and the page updates its controls directly.
//
// The page must be owned by a std::shared_ptr: each worker holds a reference for as long as it runs, so
// a worker that outlives the dialog (closed while busy) never touches a destroyed page.
//
// The busy state (scanning or cleaning) is taken on the thread that starts a worker, before the worker
// exists, and an automatic clean takes it over from the scan before the scan lets go: the page is never
// idle while a worker runs, so no click can start a second worker that swaps the engine under the first.
class CDetectionPage : public CModalDialog,
                       public CDialogRegionT<CDetectionPage>,
                       public IUiProgressCB,
                       public std::enable_shared_from_this<CDetectionPage> {
public:
    using EngineFactory = std::function<std::shared_ptr<IDetectionEngine>()>;

    // `makeEngine` makes the engine for each scan (the program's: a ScanController).
    CDetectionPage(HINSTANCE resources, EngineFactory makeEngine);
    // Where the machine's patch status comes from: the running system unless a test says otherwise.
    using PatchStatusSource = std::function<PatchState()>;
    void SetPatchStatusSource(PatchStatusSource source) { patchStatus_ = std::move(source); }
    ~CDetectionPage() override;

    INT_PTR DoModal(HWND owner);
    // After the dialog has ended: waits until no worker runs any more, at most `timeoutMs`. A worker
    // asked to stop by a close may still be inside a plug-in that has changed something for a moment.
    // False (and logged) when one still runs.
    bool WaitForWorkers(DWORD timeoutMs);
    HWND Hwnd() const { return CModalDialog::Hwnd(); }
    bool IsBusy() const { return scanning_ || cleaning_; }

    // IUiProgressCB
    int OnNotify(int32_t code) override;
    void OnItemFound(const FoundItemRecord& found) override;
    int ReportCleanResult(const CleanOutcomeRecord& result) override;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    enum class Work { Scan, Clean };

    bool OnInitDialog();
    void OnCommand(int id);
    void OnClose();
    void OnItemChanged(const NMLISTVIEW& change);

    void AdjustForDpi();
    void InsertColumns();
    void StartScan();
    void StartClean();
    bool BeginClean();
    bool StartWorker(Work work);
    static DWORD WINAPI WorkerProc(void* parameter);
    int WorkThreadScan();
    int WorkThreadClean();
    void ResetPage();
    void EnterBusy(const wchar_t* activity);
    void LeaveBusy();
    void UpdateButtons();
    void ShowFoundCount();
    void DoDataExchange(bool save);
    void ShowValues();
    void RedrawControl(int id);
    void SetRowResult(int row, const std::wstring& text);
    void ShowMessage(const wchar_t* text, UINT style);

    HINSTANCE resources_;
    EngineFactory makeEngine_;
    PatchStatusSource patchStatus_;
    std::wstring patchLine_;  // shown once a scan has ended, and at the end of the clean-finished box
    std::shared_ptr<IDetectionEngine> controller_;
    std::atomic<int32_t> controllerInitFailed_{0};
    std::atomic<bool> scanning_{false};
    std::atomic<bool> cleaning_{false};
    std::atomic<bool> cleanRequested_{false};
    int cleanChoice_ = 0;
    std::atomic<int32_t> foundCount_{0};  // threats listed ("共发现威胁")
    std::atomic<int32_t> rowCount_{0};    // rows: threats and information (what could not be checked, notes)
    std::atomic<int32_t> checkedCount_{0};
    bool initialised_ = false;
    std::atomic<bool> checkBoxesLocked_{false};
    bool reverting_ = false;
    // Set once the user has closed the dialog: workers still running stay away from message boxes.
    std::atomic<bool> closed_{false};
    std::map<int32_t, int32_t> rowOfItem_;
    std::wstring foundText_;
    std::wstring activityText_;
    std::shared_ptr<WorkerTracker> workers_ = std::make_shared<WorkerTracker>();

    CMyCheckListCtrl list_;
    CPictureExWnd picture_;
    CBitmapButton closeButton_;
};
