#include "app/controls/MyCheckListCtrl.h"

namespace {
bool CtrlHeld() { return (GetKeyState(VK_CONTROL) & 0x8000) != 0; }
}  // namespace

bool CMyCheckListCtrl::Attach(HWND list) {
    if (!SubclassWindow(list)) return false;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, kExtendedStyle, kExtendedStyle);
    return true;
}

bool CMyCheckListCtrl::IsChecked(HWND list, int row) {
    UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state >> 12) == kStateChecked;
}

void CMyCheckListCtrl::SetChecked(HWND list, int row, bool checked) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? kStateChecked : kStateClear);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void CMyCheckListCtrl::RemoveCheckBox(HWND list, int row) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool CMyCheckListCtrl::HasCheckBox(HWND list, int row) {
    return (static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK)) >> 12) != 0;
}

void CMyCheckListCtrl::SpreadToggleToSelection(int row) {
    HWND list = Hwnd();
    if (row < 0) return;
    if (!(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)) return;
    const bool newState = !IsChecked(list, row);
    for (int other = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
         other >= 0; other = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, other, LVNI_SELECTED))) {
        if (other != row && HasCheckBox(list, other)) SetChecked(list, other, newState);
    }
}

LRESULT CMyCheckListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            LRESULT result = DefaultProc(message, wParam, lParam);
            SendMessageW(Hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, kExtendedStyle, kExtendedStyle);
            return result;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE && !CtrlHeld()) {
                SpreadToggleToSelection(
                    static_cast<int>(SendMessageW(Hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
            }
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (!CtrlHeld()) {
                LVHITTESTINFO hit = {};
                hit.pt.x = static_cast<short>(LOWORD(lParam));
                hit.pt.y = static_cast<short>(HIWORD(lParam));
                int row = static_cast<int>(SendMessageW(Hwnd(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
                if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON)) SpreadToggleToSelection(row);
            }
            break;
        default:
            break;
    }
    return DefaultProc(message, wParam, lParam);
}
