#pragma once
#include <windows.h>

// A modal dialog made from a dialog template. Derived classes see every message in OnMessage; the object
// reaches its window through DWLP_USER, set from the creation parameter on WM_INITDIALOG.
class CModalDialog {
public:
    CModalDialog() = default;
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog; returns the result given to EndDialog, or -1 when it could not be made.
    INT_PTR DoModal(HINSTANCE instance, UINT templateId, HWND owner);
    void EndDialog(INT_PTR result);

    HWND Hwnd() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }

protected:
    // Returns true when the message was handled; `result` is then the dialog procedure's answer (for
    // WM_INITDIALOG: whether the system sets the focus).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};
