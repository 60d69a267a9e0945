#include "app/controls/BitmapButton.h"

CBitmapButton::~CBitmapButton() {
    if (images_) ImageList_Destroy(images_);
}

void CBitmapButton::SetImageList(HIMAGELIST images) {
    if (images_ && images_ != images) ImageList_Destroy(images_);
    images_ = images;
}

void CBitmapButton::SetImages(int normal, int pushed, int focused, int disabled) {
    normal_ = normal;
    pushed_ = pushed;
    focused_ = focused;
    disabled_ = disabled;
    if (button_) InvalidateRect(button_, nullptr, FALSE);
}

HIMAGELIST CBitmapButton::MakeImageList(HINSTANCE instance, const UINT* bitmapIds, int count,
                                        COLORREF maskColour) {
    if (count <= 0) return nullptr;
    HBITMAP first = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(bitmapIds[0]), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!first) return nullptr;
    BITMAP info = {};
    GetObjectW(first, sizeof(info), &info);
    HIMAGELIST images = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, count, 0);
    if (images) {
        ImageList_AddMasked(images, first, maskColour);
        for (int i = 1; i < count; ++i) {
            HBITMAP next = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(bitmapIds[i]), IMAGE_BITMAP,
                                                           0, 0, LR_CREATEDIBSECTION));
            if (!next) continue;
            ImageList_AddMasked(images, next, maskColour);
            DeleteObject(next);
        }
    }
    DeleteObject(first);
    return images;
}

bool CBitmapButton::DrawItem(const DRAWITEMSTRUCT& item) {
    if (!button_ || item.hwndItem != button_) return false;
    int image = normal_;
    if (item.itemState & ODS_DISABLED) {
        image = disabled_;
    } else if (item.itemState & ODS_SELECTED) {
        image = pushed_;
    } else if (item.itemState & ODS_FOCUS) {
        image = focused_;
    }
    if (images_) ImageList_Draw(images_, image, item.hDC, item.rcItem.left, item.rcItem.top, ILD_NORMAL);
    return true;
}
