#pragma once
#include <windows.h>
#include <commctrl.h>

#include "app/controls/WindowSubclass.h"

// The threat list: a report-view list with a check box per row. Toggling the check box of a selected row
// (space bar or a click on the box) gives every selected row the same new state, so several threats can
// be chosen at once; with Ctrl held only the one row changes.
class CMyCheckListCtrl : public CWindowSubclass {
public:
    // Grid lines, check boxes, one-click activation.
    static constexpr DWORD kExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_ONECLICKACTIVATE;
    static constexpr UINT kStateClear = 1;    // state image of a clear check box
    static constexpr UINT kStateChecked = 2;  // and of a checked one

    // Subclasses a list view made by a dialog template and gives it the extended style (a template-made
    // list never sees our WM_CREATE).
    bool Attach(HWND list);

    static bool IsChecked(HWND list, int row);
    static void SetChecked(HWND list, int row, bool checked);
    // A row without a check box (state image 0), which no toggle gives one.
    static void RemoveCheckBox(HWND list, int row);
    static bool HasCheckBox(HWND list, int row);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Before the list itself toggles `row`: every other selected row gets the state `row` is about to get.
    void SpreadToggleToSelection(int row);
};
