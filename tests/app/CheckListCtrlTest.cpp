#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/controls/MyCheckListCtrl.h"

namespace {

// A plain window holding a report-view list made the way a dialog template makes it.
class CheckListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        host_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(host_, nullptr);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | WS_BORDER, 0, 0, 380, 260,
                                host_, nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        ASSERT_TRUE(control_.Attach(list_));
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = 200;
        column.pszText = const_cast<wchar_t*>(L"威胁名称");
        SendMessageW(list_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
        for (int row = 0; row < 5; ++row) {
            wchar_t text[16];
            wsprintfW(text, L"row %d", row);
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = text;
            SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            CMyCheckListCtrl::SetChecked(list_, row, false);
        }
        ShowWindow(host_, SW_SHOW);
        UpdateWindow(host_);
        SetCtrl(false);
    }
    void TearDown() override {
        SetCtrl(false);
        if (host_) DestroyWindow(host_);
    }

    void Select(std::initializer_list<int> rows, int focused) {
        LVITEMW none = {};
        none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        for (int row : rows) {
            LVITEMW item = {};
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = LVIS_SELECTED | (row == focused ? LVIS_FOCUSED : 0);
            SendMessageW(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        }
    }

    // A point on the row's check box, found by hit-testing along the row.
    POINT CheckBoxPoint(int row) {
        RECT bounds = {};
        bounds.left = LVIR_BOUNDS;
        SendMessageW(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        for (int x = bounds.left; x < bounds.left + 40; ++x) {
            LVHITTESTINFO hit = {};
            hit.pt = {x, (bounds.top + bounds.bottom) / 2};
            if (SendMessageW(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
                (hit.flags & LVHT_ONITEMSTATEICON))
                return hit.pt;
        }
        ADD_FAILURE() << "no check box found on row " << row;
        return {0, 0};
    }

    void ClickCheckBox(int row) {
        POINT at = CheckBoxPoint(row);
        const WPARAM keys = MK_LBUTTON | (ctrl_ ? MK_CONTROL : 0);
        SendMessageW(list_, WM_LBUTTONDOWN, keys, MAKELPARAM(at.x, at.y));
        SendMessageW(list_, WM_LBUTTONUP, keys & ~MK_LBUTTON, MAKELPARAM(at.x, at.y));
    }

    void PressSpace() {
        SendMessageW(list_, WM_KEYDOWN, VK_SPACE, 0x00390001);
        SendMessageW(list_, WM_CHAR, L' ', 0x00390001);
        SendMessageW(list_, WM_KEYUP, VK_SPACE, 0xC0390001);
    }

    // The control reads the Ctrl key from this thread's keyboard state.
    void SetCtrl(bool down) {
        ctrl_ = down;
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = keys[VK_LCONTROL] = down ? 0x80 : 0;
        SetKeyboardState(keys);
    }

    std::string Checks() {
        std::string marks;
        for (int row = 0; row < 5; ++row) marks += CMyCheckListCtrl::IsChecked(list_, row) ? 'x' : '.';
        return marks;
    }

    HWND host_ = nullptr;
    HWND list_ = nullptr;
    bool ctrl_ = false;
    CMyCheckListCtrl control_;
};

TEST_F(CheckListFixture, ListGetsGridLinesCheckBoxesAndOneClickActivation) {
    DWORD style = static_cast<DWORD>(SendMessageW(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(style & 0x45u, 0x45u);
}

TEST_F(CheckListFixture, ClickOnASelectedRowsBoxGivesEverySelectedRowTheNewState) {
    Select({0, 2, 4}, 2);
    ClickCheckBox(2);
    EXPECT_EQ(Checks(), "x.x.x");
    ClickCheckBox(4);
    EXPECT_EQ(Checks(), ".....");
}

TEST_F(CheckListFixture, SelectedRowsFollowTheClickedRowEvenWhenTheirStatesDiffered) {
    CMyCheckListCtrl::SetChecked(list_, 0, true);
    Select({0, 1, 3}, 1);
    ClickCheckBox(1);  // row 1 becomes checked: so do 0 (already) and 3
    EXPECT_EQ(Checks(), "xx.x.");
}

TEST_F(CheckListFixture, ClickOnAnUnselectedRowTogglesOnlyThatRow) {
    Select({0, 2}, 0);
    ClickCheckBox(3);
    EXPECT_EQ(Checks(), "...x.");
}

TEST_F(CheckListFixture, WithCtrlHeldOnlyTheClickedRowChanges) {
    Select({0, 2, 4}, 2);
    SetCtrl(true);
    ClickCheckBox(2);
    SetCtrl(false);
    EXPECT_EQ(Checks(), "..x..");
}

TEST_F(CheckListFixture, SpaceTogglesEverySelectedRowWithTheFocusedOne) {
    Select({1, 3}, 3);
    PressSpace();
    EXPECT_EQ(Checks(), ".x.x.");
    SetCtrl(true);
    PressSpace();
    SetCtrl(false);
    EXPECT_EQ(Checks(), ".x...");
}

}  // namespace
