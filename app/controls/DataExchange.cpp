#include "app/controls/DataExchange.h"

#include <vector>

namespace DataExchange {

void Text(HWND dialog, int id, std::wstring& value, bool save) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return;
    if (!save) {
        SetWindowTextW(control, value.c_str());
        return;
    }
    int length = GetWindowTextLengthW(control);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    int copied = GetWindowTextW(control, buffer.data(), length + 1);
    value.assign(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void Radio(HWND dialog, int firstId, int& value, bool save) {
    HWND first = GetDlgItem(dialog, firstId);
    if (!first) return;
    if (save) value = -1;
    // The group runs from the button with WS_GROUP up to the next control that starts a group.
    int index = 0;
    HWND button = first;
    do {
        if (save) {
            if (SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
        } else {
            SendMessageW(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        ++index;
        button = GetWindow(button, GW_HWNDNEXT);
    } while (button && !(GetWindowLongW(button, GWL_STYLE) & WS_GROUP) &&
             (SendMessageW(button, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON));
}

}  // namespace DataExchange
