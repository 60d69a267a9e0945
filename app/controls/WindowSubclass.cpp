#include "app/controls/WindowSubclass.h"

namespace {
// The object behind a subclassed window lives in a window property, so any number of windows can be
// subclassed without a global table.
const wchar_t kOwnerProperty[] = L"Tidewash.Subclass";
}  // namespace

CWindowSubclass::~CWindowSubclass() { UnsubclassWindow(); }

bool CWindowSubclass::SubclassWindow(HWND window) {
    if (window_ || !window || !IsWindow(window)) return false;
    if (!SetPropW(window, kOwnerProperty, this)) return false;
    window_ = window;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWindowSubclass::Thunk)));
    if (!original_) {
        RemovePropW(window, kOwnerProperty);
        window_ = nullptr;
        return false;
    }
    return true;
}

void CWindowSubclass::UnsubclassWindow() {
    if (!window_) return;
    if (IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        RemovePropW(window_, kOwnerProperty);
    }
    window_ = nullptr;
    original_ = nullptr;
}

LRESULT CWindowSubclass::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(original_, window_, message, wParam, lParam);
}

LRESULT CALLBACK CWindowSubclass::Thunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CWindowSubclass*>(GetPropW(window, kOwnerProperty));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        WNDPROC original = self->original_;
        self->UnsubclassWindow();
        return CallWindowProcW(original, window, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}
