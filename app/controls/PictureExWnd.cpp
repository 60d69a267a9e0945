#include "app/controls/PictureExWnd.h"

#include "app/controls/GifSplitter.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"PictureExWnd";

namespace {

constexpr DWORD kStopTimeoutMs = 5000;
constexpr uint8_t kDisposeToBackground = 2;
constexpr uint8_t kDisposeToPrevious = 3;

// The system picture loader reads from a stream over movable global memory.
IPicture* DecodePicture(const uint8_t* data, std::size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return nullptr;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return nullptr;
    }
    memcpy(target, data, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(hr)) {
        TW_LOG(LogLevel::Error, "OleLoadPicture() failed hr=0x%08X", static_cast<unsigned>(hr));
        return nullptr;
    }
    return picture;
}

RECT MakeRect(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

}  // namespace

CPictureExWnd::CPictureExWnd() : exitEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CPictureExWnd::~CPictureExWnd() {
    Unload();
}

bool CPictureExWnd::Attach(HWND staticControl) { return SubclassWindow(staticControl); }

bool CPictureExWnd::Load(HINSTANCE instance, UINT resourceId, const wchar_t* resourceType) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), resourceType);
    if (!found) {
        TW_LOG(LogLevel::Error, "FindResourceW(%u) Error=%d", resourceId, static_cast<int>(GetLastError()));
        return false;
    }
    DWORD size = SizeofResource(instance, found);
    HGLOBAL loaded = LoadResource(instance, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return false;
    return LoadFromMemory(static_cast<const uint8_t*>(bytes), size);
}

bool CPictureExWnd::LoadFromMemory(const uint8_t* data, std::size_t size) {
    Unload();
    if (!data || size == 0) return false;
    if (!LoadData(data, size) || !PrepareSurface()) {
        Unload();
        return false;
    }
    return true;
}

bool CPictureExWnd::LoadData(const uint8_t* data, std::size_t size) {
    isGif_ = GifSplitter::HasSignature(data, size);
    if (!isGif_) {
        single_ = DecodePicture(data, size);
        if (!single_) return false;
        OLE_XSIZE_HIMETRIC width = 0;
        OLE_YSIZE_HIMETRIC height = 0;
        single_->get_Width(&width);
        single_->get_Height(&height);
        HDC screen = GetDC(nullptr);
        int dpiX = GetDeviceCaps(screen, LOGPIXELSX);
        int dpiY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        pictureWidth_ = MulDiv(width, dpiX, 2540);
        pictureHeight_ = MulDiv(height, dpiY, 2540);
        return pictureWidth_ > 0 && pictureHeight_ > 0;
    }

    GifSplitter splitter;
    if (!splitter.Split(data, size)) {
        TW_LOG(LogLevel::Error, "malformed GIF (%u bytes)", static_cast<unsigned>(size));
        return false;
    }
    pictureWidth_ = splitter.ScreenWidth();
    pictureHeight_ = splitter.ScreenHeight();
    if (splitter.HasBackgroundColour()) {
        uint32_t rgb = splitter.BackgroundRgb();
        background_ = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    }
    if (pictureWidth_ <= 0 || pictureHeight_ <= 0) return false;

    if (splitter.Frames().size() == 1) {
        single_ = DecodePicture(data, size);
        return single_ != nullptr;
    }
    for (const GifFrameData& part : splitter.Frames()) {
        Frame frame;
        frame.picture = DecodePicture(part.gif.data(), part.gif.size());
        if (!frame.picture) continue;  // a frame the loader rejects is left out
        frame.width = part.width;
        frame.height = part.height;
        frame.left = part.left;
        frame.top = part.top;
        frame.delay = part.delay;
        frame.disposal = part.disposal;
        frames_.push_back(frame);
    }
    return !frames_.empty();
}

bool CPictureExWnd::PrepareSurface() {
    if (Hwnd()) {
        SetWindowPos(Hwnd(), nullptr, 0, 0, pictureWidth_, pictureHeight_,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    HDC screen = GetDC(Hwnd());
    memoryDc_ = CreateCompatibleDC(screen);
    memoryBitmap_ = CreateCompatibleBitmap(screen, pictureWidth_, pictureHeight_);
    ReleaseDC(Hwnd(), screen);
    if (!memoryDc_ || !memoryBitmap_) return false;
    memoryOldBitmap_ = static_cast<HBITMAP>(SelectObject(memoryDc_, memoryBitmap_));
    bool restoresPrevious = false;
    for (const Frame& frame : frames_) restoresPrevious = restoresPrevious || frame.disposal == kDisposeToPrevious;
    if (restoresPrevious) {
        HDC windowDc = GetDC(Hwnd());
        savedDc_ = CreateCompatibleDC(windowDc);
        savedBitmap_ = CreateCompatibleBitmap(windowDc, pictureWidth_, pictureHeight_);
        ReleaseDC(Hwnd(), windowDc);
        if (!savedDc_ || !savedBitmap_) return false;
        savedOldBitmap_ = static_cast<HBITMAP>(SelectObject(savedDc_, savedBitmap_));
    }
    background_ = GetSysColor(COLOR_BTNFACE);
    Fill(MakeRect(0, 0, pictureWidth_, pictureHeight_), background_);
    return true;
}

void CPictureExWnd::SetBackground(COLORREF colour) {
    background_ = colour;
    if (memoryDc_) Fill(MakeRect(0, 0, pictureWidth_, pictureHeight_), background_);
}

bool CPictureExWnd::Draw() {
    if (!memoryDc_) return false;
    if (isGif_ && frames_.size() > 1) {
        if (playThread_) return true;
        InterlockedExchange(&exitRequested_, 0);
        InterlockedExchange(&framesShown_, 0);
        ResetEvent(exitEvent_.Get());
        HANDLE thread = CreateThread(nullptr, 0, &CPictureExWnd::PlayThreadProc, this, CREATE_SUSPENDED, nullptr);
        if (!thread) {
            TW_LOG(LogLevel::Error, "CreateThread() Error=%d", static_cast<int>(GetLastError()));
            return false;
        }
        playThread_ = thread;
        ResumeThread(thread);
        return true;
    }
    if (!single_) return false;
    Render(single_, 0, 0, pictureWidth_, pictureHeight_);
    Invalidate();
    return true;
}

DWORD WINAPI CPictureExWnd::PlayThreadProc(void* self) {
    static_cast<CPictureExWnd*>(self)->PlayLoop();
    return 0;
}

void CPictureExWnd::PlayLoop() {
    InterlockedExchange(&playing_, 1);
    while (!exitRequested_) {
        const Frame& frame = frames_[currentFrame_];
        const RECT area = MakeRect(frame.left, frame.top, frame.width, frame.height);
        if (frame.disposal == kDisposeToPrevious && savedDc_) {
            CLockGuard guard(imageLock_);
            BitBlt(savedDc_, area.left, area.top, frame.width, frame.height, memoryDc_, area.left, area.top, SRCCOPY);
        }
        Render(frame.picture, frame.left, frame.top, frame.width, frame.height);
        InterlockedIncrement(&framesShown_);
        Invalidate();
        if (exitRequested_) break;
        WaitForSingleObject(exitEvent_.Get(), GifFrameWaitMilliseconds(frame.delay));
        if (exitRequested_) break;
        if (frame.disposal == kDisposeToBackground) {
            Fill(area, background_);
        } else if (frame.disposal == kDisposeToPrevious && savedDc_) {
            CLockGuard guard(imageLock_);
            BitBlt(memoryDc_, area.left, area.top, frame.width, frame.height, savedDc_, area.left, area.top, SRCCOPY);
        }
        if (++currentFrame_ >= frames_.size()) {
            currentFrame_ = 0;
            Fill(MakeRect(0, 0, pictureWidth_, pictureHeight_), background_);
        }
    }
    InterlockedExchange(&playing_, 0);
}

bool CPictureExWnd::Stop() {
    InterlockedExchange(&playing_, 0);
    InterlockedExchange(&exitRequested_, 1);
    if (exitEvent_.IsValid()) SetEvent(exitEvent_.Get());
    bool ended = true;
    // Whoever takes the handle waits for the thread and closes it.
    KernelHandle thread(
        static_cast<HANDLE>(InterlockedExchangePointer(const_cast<PVOID volatile*>(&playThread_), nullptr)));
    if (thread.IsValid()) {
        if (WaitForSingleObject(thread.Get(), kStopTimeoutMs) != WAIT_OBJECT_0) {
            TW_LOG(LogLevel::Error, "play thread did not end within %u ms", static_cast<unsigned>(kStopTimeoutMs));
            ended = false;
        }
    }
    if (exitEvent_.IsValid()) ResetEvent(exitEvent_.Get());
    InterlockedExchange(&exitRequested_, 0);
    return ended;
}

void CPictureExWnd::Unload() {
    Stop();
    if (single_) {
        single_->Release();
        single_ = nullptr;
    }
    for (Frame& frame : frames_) {
        if (frame.picture) frame.picture->Release();
    }
    frames_.clear();
    CLockGuard guard(imageLock_);
    if (memoryDc_) {
        SelectObject(memoryDc_, memoryOldBitmap_);
        DeleteDC(memoryDc_);
        memoryDc_ = nullptr;
    }
    if (memoryBitmap_) DeleteObject(memoryBitmap_);
    memoryBitmap_ = nullptr;
    if (savedDc_) {
        SelectObject(savedDc_, savedOldBitmap_);
        DeleteDC(savedDc_);
        savedDc_ = nullptr;
    }
    if (savedBitmap_) DeleteObject(savedBitmap_);
    savedBitmap_ = nullptr;
    pictureWidth_ = pictureHeight_ = 0;
    isGif_ = false;
    currentFrame_ = 0;
    framesShown_ = 0;
    paintRect_ = {};
    background_ = RGB(255, 255, 255);
}

void CPictureExWnd::Render(IPicture* picture, int x, int y, int width, int height) {
    if (!picture) return;
    OLE_XSIZE_HIMETRIC sourceWidth = 0;
    OLE_YSIZE_HIMETRIC sourceHeight = 0;
    picture->get_Width(&sourceWidth);
    picture->get_Height(&sourceHeight);
    CLockGuard guard(imageLock_);
    if (!memoryDc_) return;
    picture->Render(memoryDc_, x, y, width, height, 0, sourceHeight, sourceWidth, -sourceHeight, nullptr);
}

void CPictureExWnd::Fill(const RECT& area, COLORREF colour) {
    CLockGuard guard(imageLock_);
    if (!memoryDc_) return;
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(memoryDc_, &area, brush);
    DeleteObject(brush);
}

void CPictureExWnd::Invalidate() {
    if (Hwnd()) InvalidateRect(Hwnd(), nullptr, FALSE);
}

COLORREF CPictureExWnd::PixelAt(int x, int y) {
    CLockGuard guard(imageLock_);
    return memoryDc_ ? GetPixel(memoryDc_, x, y) : CLR_INVALID;
}

void CPictureExWnd::Paint() {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(Hwnd(), &paint);
    {
        CLockGuard guard(imageLock_);
        if (memoryDc_) {
            RECT source = paintRect_;
            if (IsRectEmpty(&source)) source = MakeRect(0, 0, pictureWidth_, pictureHeight_);
            BitBlt(target, 0, 0, source.right - source.left, source.bottom - source.top, memoryDc_, source.left,
                   source.top, SRCCOPY);
        }
    }
    EndPaint(Hwnd(), &paint);
}

LRESULT CPictureExWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_DESTROY:
            Stop();
            break;
        default:
            break;
    }
    return DefaultProc(message, wParam, lParam);
}
