#include "app/dialog/DetectionPage.h"

#include <commctrl.h>

#include <new>
#include <vector>

#include "app/Resource.h"
#include "app/controls/DataExchange.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"DlgDetection";

namespace {

const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kFoundPrefix[] = L"共发现威胁:";
const wchar_t kScanning[] = L"正在扫描...";
const wchar_t kCleaning[] = L"正在清除...";
const wchar_t kNeedsCleaning[] = L"需要清除";
const wchar_t kNotChecked[] = L"未能检查";
// The item data of a row without a check box (information, not a threat).
constexpr LPARAM kInformationRow = 1;
const wchar_t kScanFinished[] = L"扫描完成";
const wchar_t kCloseWhileBusy[] = L"正在运行中，您是否希望取消？";
const wchar_t kCleanFinished[] =
    L"               清除完成。\n\nGRIMLET病毒主要通过MS08-067漏洞、网络共享、U盘传播。\n"
    L"建议安装KB958644补丁、使用强密码、禁用U盘自动播放。";

constexpr COLORREF kTransparentSkin = 0x00FFFF;
constexpr COLORREF kCloseMask = 0x00FF00;
constexpr COLORREF kBusyBackground = 0xF0F0F0;
constexpr int kChoiceByHand = 1;
constexpr int kBaseDpi = 96;

// Pixel sizes of the controls for displays that are not at 96 DPI.
struct ControlSize {
    int id;
    int width;
    int height;
};
constexpr ControlSize kControlSizes[] = {
    {IDC_AUTO_CLEAN, 180, 20}, {IDC_MANUAL_CLEAN, 180, 20}, {IDC_SCAN, 150, 50},
    {IDC_THREAT_LIST, 535, 140}, {IDC_CLEAN, 76, 26},        {IDC_FOUND_COUNT, 200, 20},
    {IDC_FOOTER, 270, 20},       {IDC_CLOSE_BUTTON, 50, 30}, {IDC_BUSY_PICTURE, 16, 16},
    {IDC_ACTIVITY, 300, 20},  // room for the patch status line
};

struct Column {
    const wchar_t* title;
    int width;
};
constexpr Column kColumns[] = {{L"威胁名称", 130}, {L"描述", 270}, {L"处理结果", 110}};

std::wstring OutcomeText(int32_t outcome) {
    switch (outcome) {
        case 1: return L"清除成功";
        case 2: return L"清除失败";
        case 3: return L"重启后清除";
        default: return L"";
    }
}

UINT StateImage(UINT state) { return (state & LVIS_STATEIMAGEMASK) >> 12; }

struct WorkerStart {
    std::shared_ptr<CDetectionPage> page;  // keeps the page alive while the worker runs
    std::shared_ptr<WorkerTracker> workers;
    int work;
};

}  // namespace

CDetectionPage::CDetectionPage(HINSTANCE resources, EngineFactory makeEngine)
    : resources_(resources), makeEngine_(std::move(makeEngine)),
      patchStatus_([] { return ReadKb958644Status().state; }) {
    controller_ = makeEngine_ ? makeEngine_() : nullptr;
}

CDetectionPage::~CDetectionPage() = default;

INT_PTR CDetectionPage::DoModal(HWND owner) { return CModalDialog::DoModal(resources_, IDD_DETECTION, owner); }

bool CDetectionPage::WaitForWorkers(DWORD timeoutMs) {
    if (workers_->WaitUntilNoneRuns(timeoutMs)) return true;
    TW_LOG(LogLevel::Warning, "CDetectionPage: a worker still runs after %u ms; the program ends without it",
           static_cast<unsigned>(timeoutMs));
    return false;
}

bool CDetectionPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_INITDIALOG:
            result = OnInitDialog() ? TRUE : FALSE;
            return true;
        case WM_CLOSE:
            OnClose();
            return true;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return true;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_THREAT_LIST && header->code == LVN_ITEMCHANGED) {
                OnItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam));
                return true;
            }
            return false;
        }
        case WM_DRAWITEM:
            result = closeButton_.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
            return result != FALSE;
        default:
            return HandleSkinMessage(message, wParam, lParam, result);
    }
}

bool CDetectionPage::OnInitDialog() {
    SetupSkin(resources_, IDB_SKIN, kTransparentSkin);

    const UINT closeImages[] = {IDB_CLOSE_NORMAL, IDB_CLOSE_PUSHED};
    closeButton_.Attach(Item(IDC_CLOSE_BUTTON));
    closeButton_.SetImageList(CBitmapButton::MakeImageList(resources_, closeImages, 2, kCloseMask));
    closeButton_.SetImages(0, 1, 1, 0);

    HICON large = static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(IDI_TIDEWASH), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(IDI_TIDEWASH), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                LR_SHARED));
    SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
    SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    list_.Attach(Item(IDC_THREAT_LIST));
    picture_.Attach(Item(IDC_BUSY_PICTURE));

    AdjustForDpi();
    ShowFoundCount();
    DoDataExchange(false);
    InsertColumns();

    EnableWindow(Item(IDC_SCAN), TRUE);
    initialised_ = true;
    return true;
}

void CDetectionPage::AdjustForDpi() {
    int dpiX = kBaseDpi;
    int dpiY = kBaseDpi;
    if (HDC screen = GetDC(nullptr)) {
        dpiX = GetDeviceCaps(screen, LOGPIXELSX);
        dpiY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    if (dpiX == kBaseDpi && dpiY == kBaseDpi) return;
    // The skin is drawn for 96 DPI: keep every control where it sits on the skin.
    for (const ControlSize& control : kControlSizes) {
        HWND window = Item(control.id);
        if (!window) continue;
        RECT rect;
        GetWindowRect(window, &rect);
        MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(window, nullptr, MulDiv(rect.left, kBaseDpi, dpiX), MulDiv(rect.top, kBaseDpi, dpiY),
                     control.width, control.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CDetectionPage::InsertColumns() {
    HWND list = Item(IDC_THREAT_LIST);
    int index = 0;
    for (const Column& column : kColumns) {
        LVCOLUMNW format = {};
        format.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        format.fmt = LVCFMT_LEFT;
        format.cx = column.width;
        format.pszText = const_cast<wchar_t*>(column.title);
        SendMessageW(list, LVM_INSERTCOLUMNW, index++, reinterpret_cast<LPARAM>(&format));
    }
}

void CDetectionPage::OnCommand(int id) {
    switch (id) {
        case IDCLOSE:
        case IDC_CLOSE_BUTTON:
            OnClose();
            break;
        case IDC_SCAN:
            StartScan();
            break;
        case IDC_CLEAN:
            // Also reached by the Esc key (the clean button has the cancel id): only what the button allows.
            if (IsWindowEnabled(Item(IDC_CLEAN))) StartClean();
            break;
        case IDC_AUTO_CLEAN:
        case IDC_MANUAL_CLEAN:
            if (initialised_) DoDataExchange(true);
            break;
        default:
            break;
    }
}

void CDetectionPage::OnClose() {
    if (IsBusy()) {
        if (MessageBoxW(Hwnd(), kCloseWhileBusy, kCaption, MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) != IDYES)
            return;
    }
    closed_ = true;
    // The window goes at once; a running scan ends at its next check. The program itself waits for the
    // worker (WaitForWorkers) once the dialog has gone.
    if (IsBusy() && controller_) controller_->Stop();
    if (controllerInitFailed_ && controller_ && !IsBusy()) {
        controller_->Deinitialize();
        controllerInitFailed_ = 0;
    }
    EndDialog(1);
}

void CDetectionPage::OnItemChanged(const NMLISTVIEW& change) {
    if (!(change.uChanged & LVIF_STATE)) return;
    // Information is never chosen: a row without a box gets none (the list's own space-bar toggle).
    if (change.lParam == kInformationRow && StateImage(change.uNewState) != 0) {
        CMyCheckListCtrl::RemoveCheckBox(Item(IDC_THREAT_LIST), change.iItem);
        return;
    }
    const bool wasChecked = StateImage(change.uOldState) == CMyCheckListCtrl::kStateChecked;
    const bool isChecked = StateImage(change.uNewState) == CMyCheckListCtrl::kStateChecked;
    if (wasChecked == isChecked) return;
    if (!checkBoxesLocked_) {
        if (change.iItem >= 0) checkedCount_ += isChecked ? 1 : -1;
        UpdateButtons();
        return;
    }
    if (reverting_) {
        reverting_ = false;  // our own undo coming back
        return;
    }
    reverting_ = true;
    CMyCheckListCtrl::SetChecked(Item(IDC_THREAT_LIST), change.iItem, wasChecked);
    TW_LOG(LogLevel::Detail, "CheckBox disabled; cancel status change");
}

void CDetectionPage::StartScan() {
    // A clean still running uses the controller that a new scan would replace.
    if (scanning_ || cleaning_) return;
    ResetPage();
    scanning_ = true;
    EnterBusy(kScanning);
    if (!StartWorker(Work::Scan)) {
        scanning_ = false;
        LeaveBusy();
        UpdateButtons();
    }
}

void CDetectionPage::StartClean() {
    if (scanning_ || cleaning_) return;
    BeginClean();
}

// Takes the cleaning state and starts the clean worker; undone when the worker cannot start. Called with
// the page idle (the clean button) or from the scan worker, which still holds the scanning state.
bool CDetectionPage::BeginClean() {
    const bool requestedBefore = cleanRequested_;
    const bool lockedBefore = checkBoxesLocked_;
    cleanRequested_ = true;
    checkBoxesLocked_ = true;
    cleaning_ = true;
    EnterBusy(kCleaning);
    if (StartWorker(Work::Clean)) return true;
    cleaning_ = false;
    cleanRequested_ = requestedBefore;
    checkBoxesLocked_ = lockedBefore;
    LeaveBusy();
    UpdateButtons();
    return false;
}

bool CDetectionPage::StartWorker(Work work) {
    WorkerStart* start = nullptr;
    try {
        start = new WorkerStart{shared_from_this(), workers_, static_cast<int>(work)};
    } catch (const std::exception&) {
        return false;  // not owned by a shared pointer, or out of memory
    }
    workers_->Started();
    // The worker runs on its own; its handle is not kept.
    KernelHandle thread(CreateThread(nullptr, 0, &CDetectionPage::WorkerProc, start, 0, nullptr));
    if (!thread.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateThread() Error=%d", static_cast<int>(GetLastError()));
        delete start;
        workers_->Ended();
        return false;
    }
    return true;
}

DWORD WINAPI CDetectionPage::WorkerProc(void* parameter) {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    int code = start->work == static_cast<int>(Work::Scan) ? start->page->WorkThreadScan()
                                                            : start->page->WorkThreadClean();
    // The page - and with it, if it was the last reference, the engine and its plug-ins - goes before
    // the worker counts as ended.
    std::shared_ptr<WorkerTracker> workers = std::move(start->workers);
    start.reset();
    workers->Ended();
    return static_cast<DWORD>(code);
}

void CDetectionPage::ResetPage() {
    SendMessageW(Item(IDC_THREAT_LIST), LVM_DELETEALLITEMS, 0, 0);
    rowOfItem_.clear();
    checkedCount_ = 0;
    foundCount_ = 0;
    rowCount_ = 0;
    ShowFoundCount();
    ShowValues();
    cleanRequested_ = false;
    checkBoxesLocked_ = false;
    if (controllerInitFailed_ && controller_) {
        controller_->Deinitialize();
        controllerInitFailed_ = 0;
    }
    controller_.reset();
    controller_ = makeEngine_ ? makeEngine_() : nullptr;
}

int CDetectionPage::WorkThreadScan() {
    TW_LOG(LogLevel::Enter, "CDetectionPage::workThreadScan()");
    // The worker's own reference: the controller stays whole until the scan is over.
    std::shared_ptr<IDetectionEngine> controller = controller_;
    int code = 0;
    if (!controller) {
        TW_LOG(LogLevel::Error, "Failed to get ScanController()");
        code = -1;
    } else if (!controller->Initialize(this)) {
        controllerInitFailed_ = 1;
        TW_LOG(LogLevel::Error, "ScanController init failed");
        code = -1;
    } else {
        controller->Scan();
        TW_LOG(LogLevel::Leave, "CDetectionPage::workThreadScan()");
    }
    // Read after every scan: whether the hole the worm came through is still open.
    if (patchStatus_) patchLine_ = PatchStatusLine(patchStatus_());

    LeaveBusy();
    const bool cleanAtOnce = !closed_ && foundCount_ != 0 && cleanChoice_ != kChoiceByHand;
    if (cleanAtOnce && BeginClean()) {
        scanning_ = false;  // the clean worker holds the page busy and sets the buttons when it ends
        return code;
    }
    scanning_ = false;
    if (!closed_ && !cleanAtOnce) ShowMessage(kScanFinished, MB_ICONINFORMATION);
    UpdateButtons();
    return code;
}

int CDetectionPage::WorkThreadClean() {
    TW_LOG(LogLevel::Enter, "CDetectionPage::workThreadClean()");
    std::shared_ptr<IDetectionEngine> controller = controller_;
    int code = 0;
    if (!controller) {
        TW_LOG(LogLevel::Error, "Failed to get ScanController()");
        code = -1;
    } else {
        HWND list = Item(IDC_THREAT_LIST);
        std::vector<int32_t> chosen;
        for (int row = 0; row < static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); ++row) {
            UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
            if (StateImage(state) == CMyCheckListCtrl::kStateClear) {
                SetRowResult(row, L"");
                continue;
            }
            if (StateImage(state) != CMyCheckListCtrl::kStateChecked) continue;  // information: no box
            for (const auto& entry : rowOfItem_) {
                if (entry.second == row) {
                    chosen.push_back(entry.first);
                    break;
                }
            }
        }
        ShowValues();
        controller->Clean(chosen);
        TW_LOG(LogLevel::Leave, "CDetectionPage::workThreadClean()");
    }

    cleaning_ = false;
    LeaveBusy();
    if (!closed_) {
        const std::wstring finished = patchLine_.empty() ? std::wstring(kCleanFinished)
                                                         : std::wstring(kCleanFinished) + L"\n" + patchLine_;
        ShowMessage(finished.c_str(), MB_ICONINFORMATION);
    }
    UpdateButtons();
    return code;
}

int CDetectionPage::OnNotify(int32_t) { return 1; }

void CDetectionPage::OnItemFound(const FoundItemRecord& found) {
    // A note says what lies out of the worm's reach by design: the report keeps it for administrators;
    // the user's list is for threats and for what could not be checked.
    if (found.information && found.threatClass == L"Note") return;
    const int32_t row = rowCount_;
    rowOfItem_[found.itemId] = row;

    HWND list = Item(IDC_THREAT_LIST);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(found.threatName.c_str());
    item.lParam = found.information ? kInformationRow : 0;
    int inserted = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted >= 0) {
        LVITEMW column = {};
        column.iSubItem = 1;
        column.pszText = const_cast<wchar_t*>(found.description.c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, inserted, reinterpret_cast<LPARAM>(&column));
        column.iSubItem = 2;
        column.pszText = const_cast<wchar_t*>(found.information ? kNotChecked : kNeedsCleaning);
        SendMessageW(list, LVM_SETITEMTEXTW, inserted, reinterpret_cast<LPARAM>(&column));
    }
    rowCount_ = row + 1;
    if (found.information) {
        // Shown, never chosen, not counted among the threats.
        CMyCheckListCtrl::RemoveCheckBox(list, row);
        ShowValues();
        return;
    }

    // A setting (AutoRun left on) is ticked like a threat but is none: the count is of threats.
    if (!found.setting) {
        foundCount_ = foundCount_ + 1;
        ShowFoundCount();
    }
    ShowValues();
    // The check goes through the check-box rule, which counts it.
    CMyCheckListCtrl::SetChecked(list, row, true);
}

int CDetectionPage::ReportCleanResult(const CleanOutcomeRecord& result) {
    const std::wstring text = OutcomeText(result.outcome);
    TW_LOG(LogLevel::Detail, "CDetectionPage::ReportCleanResult(%d) %S", static_cast<int>(result.itemId),
           text.c_str());
    auto found = rowOfItem_.find(result.itemId);
    if (found == rowOfItem_.end()) {
        TW_LOG(LogLevel::Critical, "Corrupted data:Got clean result of unknown record");
        return 0;
    }
    SetRowResult(found->second, text);
    ShowValues();
    return 1;
}

void CDetectionPage::SetRowResult(int row, const std::wstring& text) {
    LVITEMW column = {};
    column.iSubItem = 2;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(Item(IDC_THREAT_LIST), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&column));
}

void CDetectionPage::EnterBusy(const wchar_t* activity) {
    // Buttons first: the busy flag already keeps a second worker out; the user sees it at once.
    UpdateButtons();
    if (picture_.Load(resources_, IDR_BUSY_GIF, L"GIF")) {
        picture_.SetBackground(kBusyBackground);
        picture_.Draw();
    }
    activityText_ = activity;
    ShowValues();
}

void CDetectionPage::LeaveBusy() {
    picture_.Stop();
    picture_.Unload();
    RedrawControl(IDC_BUSY_PICTURE);
    activityText_ = patchLine_;
    ShowValues();
}

void CDetectionPage::UpdateButtons() {
    const bool idle = !scanning_ && !cleaning_;
    EnableWindow(Item(IDC_SCAN), idle);
    EnableWindow(Item(IDC_AUTO_CLEAN), idle);
    EnableWindow(Item(IDC_MANUAL_CLEAN), idle);
    EnableWindow(Item(IDC_CLEAN), idle && checkedCount_ > 0 && !cleanRequested_);
}

void CDetectionPage::ShowFoundCount() { foundText_ = std::wstring(kFoundPrefix) + L" " + std::to_wstring(foundCount_); }

void CDetectionPage::DoDataExchange(bool save) {
    DataExchange::Text(Hwnd(), IDC_FOUND_COUNT, foundText_, save);
    DataExchange::Text(Hwnd(), IDC_ACTIVITY, activityText_, save);
    DataExchange::Radio(Hwnd(), IDC_AUTO_CLEAN, cleanChoice_, save);
}

void CDetectionPage::ShowValues() {
    DoDataExchange(false);
    // The statics draw with a transparent background over the skin: repaint the skin under them, or
    // the new text lands on top of the old one.
    RedrawControl(IDC_FOUND_COUNT);
    RedrawControl(IDC_ACTIVITY);
}

void CDetectionPage::RedrawControl(int id) {
    HWND control = Item(id);
    if (!control || !Hwnd()) return;
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    RedrawWindow(Hwnd(), &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CDetectionPage::ShowMessage(const wchar_t* text, UINT style) { MessageBoxW(Hwnd(), text, kCaption, style); }
