#pragma once
#include <windows.h>
#include <commctrl.h>

// An owner-drawn push button painted from an image list: one image per state (normal, pushed, focused,
// disabled). The parent hands it WM_DRAWITEM.
class CBitmapButton {
public:
    CBitmapButton() = default;
    ~CBitmapButton();
    CBitmapButton(const CBitmapButton&) = delete;
    CBitmapButton& operator=(const CBitmapButton&) = delete;

    void Attach(HWND button) { button_ = button; }
    HWND Hwnd() const { return button_; }
    // The button owns the list from now on.
    void SetImageList(HIMAGELIST images);
    void SetImages(int normal, int pushed, int focused, int disabled);
    // Makes the list from a bitmap resource (its height gives the image size; its width as many images as
    // fit) plus further bitmaps, with `maskColour` transparent.
    static HIMAGELIST MakeImageList(HINSTANCE instance, const UINT* bitmapIds, int count, COLORREF maskColour);

    // True when the item was this button's and it is drawn.
    bool DrawItem(const DRAWITEMSTRUCT& item);

private:
    HWND button_ = nullptr;
    HIMAGELIST images_ = nullptr;
    int normal_ = 0;
    int pushed_ = 0;
    int focused_ = 0;
    int disabled_ = 0;
};
