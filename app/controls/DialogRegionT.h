#pragma once
#include <windows.h>

#include "app/controls/SkinRegion.h"

// Mixed into a dialog (T derives from it and has Hwnd()): turns the window into a borderless one shaped
// and painted by a skin bitmap, which can be dragged from any point.
template <class T>
class CDialogRegionT {
public:
    CDialogRegionT() = default;
    ~CDialogRegionT() {
        if (memoryDc_) {
            SelectObject(memoryDc_, oldBitmap_);
            DeleteDC(memoryDc_);
        }
        if (skin_) DeleteObject(skin_);
        if (region_) DeleteObject(region_);  // only while it was never handed to the window
    }
    CDialogRegionT(const CDialogRegionT&) = delete;
    CDialogRegionT& operator=(const CDialogRegionT&) = delete;

    // Once, while the dialog initialises. Leaves the window as it is when the skin cannot be used.
    bool SetupSkin(HINSTANCE instance, UINT bitmapId, COLORREF transparentColour) {
        HWND window = static_cast<T*>(this)->Hwnd();
        transparentColour_ = transparentColour;
        skin_ = static_cast<HBITMAP>(
            LoadImageW(instance, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (!skin_) return false;
        GetObjectW(skin_, sizeof(bitmapInfo_), &bitmapInfo_);

        const LONG_PTR oldStyle = GetWindowLongPtrW(window, GWL_STYLE);
        const LONG_PTR oldExStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
        // Popup and system menu only: no caption, no border. The frame that a modal dialog gets as extended
        // style goes too, so that the client area is the whole window and the skin lines up with it.
        SetWindowLongPtrW(window, GWL_STYLE, oldStyle & static_cast<LONG_PTR>(WS_POPUP | WS_SYSMENU));
        SetWindowLongPtrW(window, GWL_EXSTYLE,
                          oldExStyle & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE |
                                                              WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
        region_ = SkinRegion::Build(skin_, transparentColour_);
        if (!region_) {
            SetWindowLongPtrW(window, GWL_STYLE, oldStyle);
            SetWindowLongPtrW(window, GWL_EXSTYLE, oldExStyle);
            SetWindowPos(window, nullptr, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
            return false;
        }

        HDC screen = GetDC(window);
        memoryDc_ = CreateCompatibleDC(screen);
        ReleaseDC(window, screen);
        if (memoryDc_) oldBitmap_ = static_cast<HBITMAP>(SelectObject(memoryDc_, skin_));

        const int width = bitmapInfo_.bmWidth;
        const int height = bitmapInfo_.bmHeight;
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        if (SetWindowRgn(window, region_, TRUE)) region_ = nullptr;  // the window owns it now
        SetWindowPos(window, HWND_NOTOPMOST, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2,
                     GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2, width, height, SWP_NOACTIVATE);
        shaped_ = 1;
        regionBuilt_ = 1;
        return true;
    }

    bool IsShaped() const { return shaped_ != 0; }

    // The skin's part of the dialog's messages; false leaves the message to the default handling.
    bool HandleSkinMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
        if (!shaped_) return false;
        switch (message) {
            case WM_ERASEBKGND:
                if (memoryDc_) {
                    BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, bitmapInfo_.bmWidth, bitmapInfo_.bmHeight, memoryDc_,
                           0, 0, SRCCOPY);
                }
                result = TRUE;
                return true;
            case WM_CTLCOLORSTATIC:
                SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
                result = reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
                return true;
            case WM_NCHITTEST:
                result = HTCAPTION;
                return true;
            default:
                return false;
        }
    }

private:
    HRGN region_ = nullptr;
    BITMAP bitmapInfo_ = {};
    HDC memoryDc_ = nullptr;
    HBITMAP skin_ = nullptr;
    HBITMAP oldBitmap_ = nullptr;
    int shaped_ = 0;
    int regionBuilt_ = 0;
    COLORREF transparentColour_ = RGB(255, 0, 255);
};
