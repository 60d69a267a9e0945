#pragma once
#include <windows.h>

// Takes over the window procedure of an existing window (a control made by a dialog template) and hands
// every message to a virtual handler; what the handler does not take goes on to the original procedure.
class CWindowSubclass {
public:
    CWindowSubclass() = default;
    virtual ~CWindowSubclass();
    CWindowSubclass(const CWindowSubclass&) = delete;
    CWindowSubclass& operator=(const CWindowSubclass&) = delete;

    bool SubclassWindow(HWND window);
    // Gives the window its original procedure back (also done when the window is destroyed).
    void UnsubclassWindow();
    HWND Hwnd() const { return window_; }

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefaultProc(message, wParam, lParam);
    }
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK Thunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    WNDPROC original_ = nullptr;
};
