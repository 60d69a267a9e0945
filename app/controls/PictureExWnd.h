#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/controls/WindowSubclass.h"
#include "platform/log/Lock.h"
#include "platform/win32/KernelHandle.h"

// A static control that shows a picture and plays an animated GIF on a thread of its own. Each GIF frame
// is cut out as a stand-alone GIF and decoded by the system picture loader; the frames are composed into
// a memory image (honouring the disposal methods) that WM_PAINT copies to the screen.
class CPictureExWnd : public CWindowSubclass {
public:
    CPictureExWnd();
    ~CPictureExWnd() override;

    bool Attach(HWND staticControl);

    // False (and nothing shown) when the resource is missing or cannot be decoded.
    bool Load(HINSTANCE instance, UINT resourceId, const wchar_t* resourceType);
    bool LoadFromMemory(const uint8_t* data, std::size_t size);
    void SetBackground(COLORREF colour);
    // Starts the play thread for an animated GIF, or shows the still picture.
    bool Draw();
    // Ends the play thread, waiting at most 5000 ms for it. False when the thread did not end in time (it
    // is then left to itself). Safe to call from any thread, also twice at once.
    bool Stop();
    void Unload();

    bool IsPlaying() const { return playing_ != 0; }
    bool IsGif() const { return isGif_; }
    std::size_t FrameCount() const { return frames_.size(); }
    SIZE PictureSize() const { return {pictureWidth_, pictureHeight_}; }
    // Frames rendered by the play thread since Draw (an animation that froze stops counting).
    LONG FramesShown() const { return framesShown_; }
    COLORREF PixelAt(int x, int y);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Frame {
        IPicture* picture = nullptr;
        int width = 0;
        int height = 0;
        int left = 0;
        int top = 0;
        int32_t delay = -1;
        uint8_t disposal = 0;
    };

    static DWORD WINAPI PlayThreadProc(void* self);
    void PlayLoop();
    bool LoadData(const uint8_t* data, std::size_t size);
    bool PrepareSurface();
    void Render(IPicture* picture, int x, int y, int width, int height);
    void Fill(const RECT& area, COLORREF colour);
    void Invalidate();
    void Paint();

    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    COLORREF background_ = RGB(255, 255, 255);
    bool isGif_ = false;
    volatile LONG playing_ = 0;
    volatile LONG exitRequested_ = 0;
    volatile LONG framesShown_ = 0;
    HDC memoryDc_ = nullptr;
    HBITMAP memoryBitmap_ = nullptr;
    HBITMAP memoryOldBitmap_ = nullptr;
    HDC savedDc_ = nullptr;
    HBITMAP savedBitmap_ = nullptr;
    HBITMAP savedOldBitmap_ = nullptr;
    HANDLE volatile playThread_ = nullptr;
    KernelHandle exitEvent_;
    IPicture* single_ = nullptr;
    std::vector<Frame> frames_;
    std::size_t currentFrame_ = 0;
    RECT paintRect_ = {};
    // The play thread draws into the memory image while the window's thread paints from it.
    CCriticalSectionLock imageLock_;
};
