#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/IDetectionEngine.h"
#include "app/Resource.h"
#include "app/controls/MyCheckListCtrl.h"
#include "app/dialog/DetectionPage.h"
#include "platform/log/Logger.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// The pages under test read a machine that lacks the patch; the line closes the clean-finished box.
const wchar_t kPatchMissing[] = L"本机尚未安装KB958644补丁，请尽快安装。";
const wchar_t kCleanFinished[] =
    L"               清除完成。\n\nGRIMLET病毒主要通过MS08-067漏洞、网络共享、U盘传播。\n"
    L"建议安装KB958644补丁、使用强密码、禁用U盘自动播放。\n本机尚未安装KB958644补丁，请尽快安装。";

// What the scripted engine finds and how its cleans end; shared by every engine the page makes.
struct EngineScript {
    std::vector<FoundItemRecord> threats;
    std::map<int32_t, int32_t> outcomes;  // item id -> outcome code
    std::vector<CleanOutcomeRecord> extraResults;  // reported after the chosen ones
    bool initialiseSucceeds = true;
    HANDLE scanGate = nullptr;  // when set, the scan waits for it before reporting anything
    HANDLE cleanGate = nullptr;  // when set, the clean waits for it before cleaning anything

    std::mutex lock;
    int enginesMade = 0;
    int deinitialised = 0;
    std::atomic<int> scans{0};
    std::atomic<int> stops{0};
    std::atomic<bool> cleanStarted{false};
    std::vector<std::vector<int32_t>> cleans;  // the id lists the page handed over
};

class ScriptedEngine final : public IDetectionEngine {
public:
    explicit ScriptedEngine(std::shared_ptr<EngineScript> script) : script_(std::move(script)) {}
    bool Initialize(IUiProgressCB* ui) override {
        ui_ = ui;
        return script_->initialiseSucceeds;
    }
    void Deinitialize() override {
        std::lock_guard<std::mutex> guard(script_->lock);
        ++script_->deinitialised;
    }
    bool Scan() override {
        ++script_->scans;
        if (script_->scanGate) WaitForSingleObject(script_->scanGate, INFINITE);
        for (const FoundItemRecord& threat : script_->threats) ui_->OnItemFound(threat);
        return true;
    }
    void Clean(const std::vector<int32_t>& itemIds) override {
        script_->cleanStarted = true;
        if (script_->cleanGate) WaitForSingleObject(script_->cleanGate, INFINITE);
        {
            std::lock_guard<std::mutex> guard(script_->lock);
            script_->cleans.push_back(itemIds);
        }
        for (int32_t id : itemIds) {
            CleanOutcomeRecord result;
            result.itemId = id;
            result.outcome = script_->outcomes.count(id) ? script_->outcomes[id] : 1;
            ui_->ReportCleanResult(result);
        }
        for (const CleanOutcomeRecord& extra : script_->extraResults) ui_->ReportCleanResult(extra);
    }
    void Stop() override { ++script_->stops; }  // like a plug-in busy with one step: the scan goes on

private:
    std::shared_ptr<EngineScript> script_;
    IUiProgressCB* ui_ = nullptr;
};

FoundItemRecord Threat(const wchar_t* name, const wchar_t* description, int32_t id) {
    FoundItemRecord record;
    record.threatName = name;
    record.description = description;
    record.itemId = id;
    return record;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    // WM_GETTEXT rather than GetWindowText: the latter does not ask windows of other processes.
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// Runs the real page modally on a UI thread of its own and drives it the way a user's clicks and keys
// reach it: through window messages.
class PageHost {
public:
    // `sharedPage` false: the page has no shared owner, so that no worker of it can start.
    explicit PageHost(std::shared_ptr<EngineScript> script, bool sharedPage = true)
        : script_(std::move(script)), sharedPage_(sharedPage) {
        thread_ = std::thread([this] { Run(); });
        WaitUntil([this] { return dialog_.load() != nullptr; });
    }
    ~PageHost() {
        if (dialog_ && IsWindow(dialog_)) PostMessageW(dialog_, WM_COMMAND, IDC_CLOSE_BUTTON, 0);
        if (thread_.joinable()) thread_.join();
    }

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool Ended() const { return ended_; }
    INT_PTR Result() const { return result_; }
    std::weak_ptr<CDetectionPage> Page() const { return page_; }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    void Command(int id) { PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(Item(id))); }
    // Returns once the page's thread has handled every message posted to it before: a marker posted
    // behind them (a column width) shows when it has got that far.
    void WaitForPostedMessages() {
        HWND list = Item(IDC_THREAT_LIST);
        const int marker = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)) + 1;
        PostMessageW(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(marker, 0));
        EXPECT_TRUE(WaitUntil([&] { return SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0) == marker; }));
    }
    void ChooseByHand() { SendMessageW(Item(IDC_MANUAL_CLEAN), BM_CLICK, 0, 0); }
    void ChooseAutomatic() { SendMessageW(Item(IDC_AUTO_CLEAN), BM_CLICK, 0, 0); }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }

    int Rows() { return static_cast<int>(SendMessageW(Item(IDC_THREAT_LIST), LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column) {
        wchar_t buffer[512] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 512;
        SendMessageW(Item(IDC_THREAT_LIST), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
    bool Checked(int row) { return CMyCheckListCtrl::IsChecked(Item(IDC_THREAT_LIST), row); }
    // A click on the row's check box, as the mouse would make it.
    void ClickCheckBox(int row) {
        HWND list = Item(IDC_THREAT_LIST);
        RECT bounds = {};
        bounds.left = LVIR_BOUNDS;
        SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        for (int x = bounds.left; x < bounds.left + 40; ++x) {
            LVHITTESTINFO hit = {};
            hit.pt = {x, (bounds.top + bounds.bottom) / 2};
            if (SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
                (hit.flags & LVHT_ONITEMSTATEICON)) {
                SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
                SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(hit.pt.x, hit.pt.y));
                return;
            }
        }
        ADD_FAILURE() << "no check box on row " << row;
    }
    std::wstring Text(int id) { return WindowText(Item(id)); }

    // The message box the page shows (owned by the dialog), once it is there.
    HWND WaitForMessageBox(DWORD timeoutMs = 30000) {
        HWND box = nullptr;
        WaitUntil(
            [&] {
                box = FindMessageBox();
                return box != nullptr;
            },
            timeoutMs);
        return box;
    }
    HWND FindMessageBox() {
        BoxSearch search = {dialog_, nullptr};
        EnumWindows(&PageHost::MatchBox, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    struct BoxSearch {
        HWND owner;
        HWND found;
    };
    static BOOL CALLBACK MatchBox(HWND window, LPARAM parameter) {
        auto* search = reinterpret_cast<BoxSearch*>(parameter);
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        if (std::wstring(className) == L"#32770" && window != search->owner && IsWindowVisible(window) &&
            GetWindow(window, GW_OWNER) == search->owner) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }
    // The box's message: its longest static text.
    static std::wstring MessageText(HWND box) {
        std::wstring longest;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[64] = {};
            GetClassNameW(child, className, 64);
            if (_wcsicmp(className, L"Static") != 0) continue;
            std::wstring text = WindowText(child);
            if (text.size() > longest.size()) longest = text;
        }
        return longest;
    }
    static void Answer(HWND box, int button) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }
    // Waits for the box, checks its caption, answers OK and returns its text.
    std::wstring AcknowledgeMessage() {
        HWND box = WaitForMessageBox();
        if (!box) return L"(no message box)";
        EXPECT_EQ(WindowText(box), L"GRIMLET专杀工具");
        std::wstring text = MessageText(box);
        Answer(box, IDOK);
        WaitUntil([&] { return !IsWindow(box); });
        return text;
    }

private:
    void Run() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        auto script = script_;
        auto makeEngine = [script] {
            {
                std::lock_guard<std::mutex> guard(script->lock);
                ++script->enginesMade;
            }
            return std::make_shared<ScriptedEngine>(script);
        };
        std::shared_ptr<CDetectionPage> shared;
        std::unique_ptr<CDetectionPage> unshared;
        if (sharedPage_)
            shared = std::make_shared<CDetectionPage>(GetModuleHandleW(nullptr), makeEngine);
        else
            unshared.reset(new CDetectionPage(GetModuleHandleW(nullptr), makeEngine));
        CDetectionPage* page = shared ? shared.get() : unshared.get();
        page->SetPatchStatusSource([] { return PatchState::Missing; });
        page_ = shared;
        // The dialog's window is known once it is initialised; watch for it from here.
        std::thread watcher([this, page] {
            WaitUntil([&] { return page->Hwnd() != nullptr && IsWindowVisible(page->Hwnd()); });
            dialog_ = page->Hwnd();
        });
        result_ = page->DoModal(nullptr);
        watcher.join();
        ended_ = true;
        shared.reset();
        unshared.reset();
        CoUninitialize();
    }

    std::shared_ptr<EngineScript> script_;
    bool sharedPage_;
    std::thread thread_;
    std::atomic<HWND> dialog_{nullptr};
    std::atomic<bool> ended_{false};
    INT_PTR result_ = 0;
    std::weak_ptr<CDetectionPage> page_;
};

std::shared_ptr<EngineScript> ThreeThreats() {
    auto script = std::make_shared<EngineScript>();
    script->threats = {Threat(L"Worm.Grimlet.Thread", L"svchost.exe(1044) 线程 2212", 0),
                       Threat(L"Worm.Grimlet.Service", L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\wmisvc", 1),
                       Threat(L"Worm.Grimlet.File", L"C:\\WINDOWS\\system32\\kbdcsq.dll", 2)};
    script->outcomes = {{0, 1}, {1, 2}, {2, 3}};
    return script;
}

std::string LogText() {
    return ReadFileBytes(ThisProgramFolder() + L"\\qvcleantool.log");
}

class DetectionPage : public ::testing::Test {
protected:
    void SetUp() override {
        level_.reset(new DebugLevelValue(0x2200007F));  // file output, program category, every level
        logger_.reset(new Logger());
    }
    void TearDown() override {
        logger_.reset();
        level_.reset();
    }
    std::unique_ptr<DebugLevelValue> level_;
    std::unique_ptr<Logger> logger_;
};

TEST_F(DetectionPage, OpensAsAShapedSkinnedWindowWithItsControlsReady) {
    PageHost host(std::make_shared<EngineScript>());
    ASSERT_NE(host.Dialog(), nullptr);
    EXPECT_EQ(WindowText(host.Dialog()), L"Quorvel Tidewash Fix Tool");
    LONG style = GetWindowLongW(host.Dialog(), GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, 0);
    EXPECT_NE(style & WS_POPUP, 0);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetWindowRgn(host.Dialog(), region), COMPLEXREGION);
    DeleteObject(region);
    RECT window;
    GetWindowRect(host.Dialog(), &window);
    HBITMAP skin = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info;
    GetObjectW(skin, sizeof(info), &info);
    DeleteObject(skin);
    EXPECT_EQ(window.right - window.left, info.bmWidth);
    EXPECT_EQ(window.bottom - window.top, info.bmHeight);
    // Dragging works from anywhere: the whole window answers as caption.
    POINT inside = {window.left + info.bmWidth / 2, window.top + info.bmHeight - 20};
    EXPECT_EQ(SendMessageW(host.Dialog(), WM_NCHITTEST, 0, MAKELPARAM(inside.x, inside.y)), HTCAPTION);

    EXPECT_EQ(host.Text(IDC_FOUND_COUNT), L"共发现威胁: 0");
    EXPECT_EQ(host.Text(IDC_ACTIVITY), L"");
    EXPECT_TRUE(host.Enabled(IDC_SCAN));
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));
    EXPECT_EQ(SendMessageW(host.Item(IDC_AUTO_CLEAN), BM_GETCHECK, 0, 0), BST_CHECKED);
    HWND header = reinterpret_cast<HWND>(SendMessageW(host.Item(IDC_THREAT_LIST), LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
    LVCOLUMNW column = {};
    wchar_t title[64] = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = 64;
    SendMessageW(host.Item(IDC_THREAT_LIST), LVM_GETCOLUMNW, 2, reinterpret_cast<LPARAM>(&column));
    EXPECT_EQ(std::wstring(title), L"处理结果");
    EXPECT_EQ(column.cx, 110);
    DWORD extended = static_cast<DWORD>(SendMessageW(host.Item(IDC_THREAT_LIST), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & 0x45u, 0x45u);

    // Closing an idle page asks nothing and ends it with 1.
    host.Command(IDC_CLOSE_BUTTON);
    ASSERT_TRUE(WaitUntil([&] { return host.Ended(); }));
    EXPECT_EQ(host.Result(), 1);
}

TEST_F(DetectionPage, ScanByHandListsCheckedThreatsAndWaitsForTheCleanButton) {
    auto script = ThreeThreats();
    PageHost host(script);
    host.ChooseByHand();
    host.Command(IDC_SCAN);
    EXPECT_EQ(host.AcknowledgeMessage(), L"扫描完成");

    ASSERT_EQ(host.Rows(), 3);
    EXPECT_EQ(host.Cell(0, 0), L"Worm.Grimlet.Thread");
    EXPECT_EQ(host.Cell(1, 1), L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\wmisvc");
    EXPECT_EQ(host.Cell(2, 1), L"C:\\WINDOWS\\system32\\kbdcsq.dll");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(host.Cell(row, 2), L"需要清除") << row;
        EXPECT_TRUE(host.Checked(row)) << row;
    }
    EXPECT_EQ(host.Text(IDC_FOUND_COUNT), L"共发现威胁: 3");
    EXPECT_EQ(host.Text(IDC_ACTIVITY), kPatchMissing) << "the patch status after every scan";
    EXPECT_TRUE(host.Enabled(IDC_SCAN));
    EXPECT_TRUE(host.Enabled(IDC_CLEAN));
    // Only the scan's worker could start a clean by itself: once it is done, none can come.
    std::shared_ptr<CDetectionPage> page = host.Page().lock();
    ASSERT_TRUE(page && page->WaitForWorkers(30000));
    page.reset();
    EXPECT_TRUE(script->cleans.empty()) << "cleaned without the clean button";

    // The user clears the service row and presses 清除.
    host.ClickCheckBox(1);
    EXPECT_FALSE(host.Checked(1));
    EXPECT_TRUE(host.Enabled(IDC_CLEAN));
    host.Command(IDC_CLEAN);
    EXPECT_EQ(host.AcknowledgeMessage(), kCleanFinished);

    ASSERT_EQ(script->cleans.size(), 1u);
    EXPECT_EQ(script->cleans[0], (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(host.Cell(0, 2), L"清除成功");
    EXPECT_EQ(host.Cell(1, 2), L"") << "an unchecked row keeps no 需要清除";
    EXPECT_EQ(host.Cell(2, 2), L"重启后清除");
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));
    EXPECT_TRUE(host.Enabled(IDC_SCAN));
}

// What the scan could not check is listed without a check box, never counted among the threats and never
// handed to the clean, also when the user presses the space bar on it.
TEST_F(DetectionPage, WhatCouldNotBeCheckedIsShownWithoutABoxAndNeverCleaned) {
    auto script = ThreeThreats();
    FoundItemRecord unchecked = Threat(L"it is a registry link; not followed", L"registry key X", 3);
    unchecked.information = true;
    unchecked.threatClass = L"Unchecked";
    script->threats.insert(script->threats.begin() + 1, unchecked);
    PageHost host(script);
    host.ChooseByHand();
    host.Command(IDC_SCAN);
    EXPECT_EQ(host.AcknowledgeMessage(), L"扫描完成");
    ASSERT_EQ(host.Rows(), 4);
    EXPECT_EQ(host.Cell(1, 1), L"registry key X");
    EXPECT_EQ(host.Cell(1, 2), L"未能检查");
    EXPECT_FALSE(CMyCheckListCtrl::HasCheckBox(host.Item(IDC_THREAT_LIST), 1));
    EXPECT_EQ(host.Text(IDC_FOUND_COUNT), L"共发现威胁: 3");
    HWND list = host.Item(IDC_THREAT_LIST);
    LVITEMW focus = {};
    focus.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    focus.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&focus));
    SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(list, WM_KEYUP, VK_SPACE, 0);
    EXPECT_FALSE(CMyCheckListCtrl::HasCheckBox(list, 1));
    host.Command(IDC_CLEAN);
    EXPECT_EQ(host.AcknowledgeMessage(), kCleanFinished);
    ASSERT_EQ(script->cleans.size(), 1u);
    EXPECT_EQ(script->cleans[0], (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(host.Cell(1, 2), L"未能检查");
}

TEST_F(DetectionPage, AutomaticCleaningCleansEveryThreatWithoutAClick) {
    auto script = ThreeThreats();
    script->extraResults = {CleanOutcomeRecord{77, 1, 0}};  // an id the page never listed
    PageHost host(script);
    host.ChooseAutomatic();
    host.Command(IDC_SCAN);
    // No 扫描完成 in between: the clean starts by itself and ends with its own message.
    EXPECT_EQ(host.AcknowledgeMessage(), kCleanFinished);

    ASSERT_EQ(script->cleans.size(), 1u);
    EXPECT_EQ(script->cleans[0], (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(host.Cell(0, 2), L"清除成功");
    EXPECT_EQ(host.Cell(1, 2), L"清除失败");
    EXPECT_EQ(host.Cell(2, 2), L"重启后清除");
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));

    std::string log = LogText();
    EXPECT_NE(log.find("CDetectionPage::ReportCleanResult(1) "), std::string::npos);
    EXPECT_NE(log.find("Corrupted data:Got clean result of unknown record"), std::string::npos);
    EXPECT_NE(log.find("CDetectionPage::workThreadScan()"), std::string::npos);
    EXPECT_NE(log.find("CDetectionPage::workThreadClean()"), std::string::npos);
}

TEST_F(DetectionPage, AfterACleanTickingABoxIsUndoneAndLogged) {
    auto script = ThreeThreats();
    PageHost host(script);
    host.ChooseByHand();
    host.Command(IDC_SCAN);
    host.AcknowledgeMessage();
    host.ClickCheckBox(2);
    host.Command(IDC_CLEAN);
    EXPECT_EQ(host.AcknowledgeMessage(), kCleanFinished);

    host.ClickCheckBox(0);  // checked: stays checked
    host.ClickCheckBox(2);  // clear: stays clear
    EXPECT_TRUE(host.Checked(0));
    EXPECT_FALSE(host.Checked(2));
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));
    EXPECT_NE(LogText().find("CheckBox disabled; cancel status change"), std::string::npos);

    // A new scan starts from a fresh engine and an empty list; the boxes work again.
    host.Command(IDC_SCAN);
    host.AcknowledgeMessage();
    EXPECT_EQ(script->enginesMade, 3);  // the page's first, and one per scan
    ASSERT_EQ(host.Rows(), 3);
    host.ClickCheckBox(0);
    EXPECT_FALSE(host.Checked(0));
    EXPECT_TRUE(host.Enabled(IDC_CLEAN));
}

TEST_F(DetectionPage, ScanThatFindsNothingSaysSoEvenWithAutomaticCleaning) {
    auto script = std::make_shared<EngineScript>();
    PageHost host(script);
    host.ChooseAutomatic();
    host.Command(IDC_SCAN);
    EXPECT_EQ(host.AcknowledgeMessage(), L"扫描完成");
    EXPECT_EQ(host.Rows(), 0);
    EXPECT_TRUE(script->cleans.empty());
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));
}

TEST_F(DetectionPage, FailedEngineStartIsLoggedAndStillEndsTheScanAndIsUndoneLater) {
    auto script = std::make_shared<EngineScript>();
    script->initialiseSucceeds = false;
    PageHost host(script);
    host.Command(IDC_SCAN);
    EXPECT_EQ(host.AcknowledgeMessage(), L"扫描完成");
    EXPECT_NE(LogText().find("ScanController init failed"), std::string::npos);
    EXPECT_EQ(script->deinitialised, 0);
    host.Command(IDC_CLOSE_BUTTON);
    ASSERT_TRUE(WaitUntil([&] { return host.Ended(); }));
    EXPECT_EQ(script->deinitialised, 1);
}

TEST_F(DetectionPage, ClosingWhileBusyAsksAndNoKeepsTheDialog) {
    auto script = ThreeThreats();
    script->scanGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PageHost host(script);
    host.ChooseAutomatic();
    host.Command(IDC_SCAN);
    ASSERT_TRUE(WaitUntil([&] { return host.Text(IDC_ACTIVITY) == L"正在扫描..."; }));
    EXPECT_FALSE(host.Enabled(IDC_SCAN));
    EXPECT_FALSE(host.Enabled(IDC_AUTO_CLEAN));
    EXPECT_FALSE(host.Enabled(IDC_CLEAN));
    RECT picture;
    GetClientRect(host.Item(IDC_BUSY_PICTURE), &picture);
    EXPECT_EQ(picture.right, 16);  // the busy animation is up

    PostMessageW(host.Dialog(), WM_CLOSE, 0, 0);
    HWND question = host.WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(PageHost::MessageText(question), L"正在运行中，您是否希望取消？");
    PageHost::Answer(question, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    host.WaitForPostedMessages();  // the close has been handled to its end
    EXPECT_FALSE(host.Ended());
    EXPECT_TRUE(IsWindowVisible(host.Dialog()));

    // 是 closes the window at once and asks the scan to stop.
    EXPECT_EQ(script->stops, 0);
    host.Command(IDC_CLOSE_BUTTON);
    question = host.WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    PageHost::Answer(question, IDYES);
    ASSERT_TRUE(WaitUntil([&] { return host.Ended(); }));
    EXPECT_EQ(host.Result(), 1);
    EXPECT_EQ(script->stops, 1);
    host.Join();

    // A scan that does not stop at once keeps the page: the wait for it is bounded and says so.
    std::shared_ptr<CDetectionPage> page = host.Page().lock();
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->WaitForWorkers(50));
    EXPECT_NE(LogText().find("CDetectionPage: a worker still runs after 50 ms; the program ends without it"),
              std::string::npos);
    // Findings that arrive now land in a page whose window is gone; nothing is shown or cleaned any more.
    SetEvent(script->scanGate);
    EXPECT_TRUE(page->WaitForWorkers(30000));
    std::weak_ptr<CDetectionPage> watched = page;
    page.reset();
    EXPECT_TRUE(watched.expired()) << "the worker let go of the page before it counted as ended";
    EXPECT_TRUE(script->cleans.empty());
    CloseHandle(script->scanGate);
}

TEST_F(DetectionPage, TwoScanClicksPostedBackToBackStartOneScan) {
    auto script = ThreeThreats();
    script->scanGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PageHost host(script);
    host.ChooseByHand();
    host.Command(IDC_SCAN);
    host.Command(IDC_SCAN);
    host.WaitForPostedMessages();
    SetEvent(script->scanGate);
    EXPECT_EQ(host.AcknowledgeMessage(), L"扫描完成");
    EXPECT_EQ(script->scans, 1);
    EXPECT_EQ(script->enginesMade, 2);  // the page's first, and the one scan's
    EXPECT_EQ(host.Rows(), 3);
    CloseHandle(script->scanGate);
}

TEST_F(DetectionPage, AScanWhoseWorkerCannotStartLeavesThePageIdle) {
    auto script = ThreeThreats();
    PageHost host(script, false);
    host.Command(IDC_SCAN);
    host.WaitForPostedMessages();
    EXPECT_EQ(script->scans, 0);
    EXPECT_TRUE(host.Enabled(IDC_SCAN));
    EXPECT_TRUE(host.Enabled(IDC_MANUAL_CLEAN));
    EXPECT_EQ(host.Text(IDC_ACTIVITY), L"");
    host.Command(IDC_CLOSE_BUTTON);  // idle: closes without a question
    ASSERT_TRUE(WaitUntil([&] { return host.Ended(); }));
}

TEST_F(DetectionPage, ScanClicksBetweenAnAutomaticScanAndItsCleanAreIgnored) {
    auto script = ThreeThreats();
    script->cleanGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PageHost host(script);
    host.ChooseAutomatic();
    // Clicks keep coming through the whole scan, its end and the start of its clean.
    host.Command(IDC_SCAN);
    const DWORD start = GetTickCount();
    while (!script->cleanStarted && GetTickCount() - start < 30000) {
        host.Command(IDC_SCAN);
        Sleep(1);
    }
    ASSERT_TRUE(script->cleanStarted);
    host.WaitForPostedMessages();  // every click handled while the clean still runs
    SetEvent(script->cleanGate);
    EXPECT_EQ(host.AcknowledgeMessage(), kCleanFinished);
    EXPECT_EQ(script->scans, 1);
    EXPECT_EQ(script->enginesMade, 2);
    ASSERT_EQ(script->cleans.size(), 1u);
    EXPECT_EQ(script->cleans[0], (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(host.Cell(2, 2), L"重启后清除");
    CloseHandle(script->cleanGate);
}

}  // namespace
