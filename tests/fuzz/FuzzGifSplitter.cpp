// The GIF splitter behind CPictureExWnd::Load: logical screen, colour tables, extensions, image blocks
// and the stand-alone frames rebuilt from them. The input is the GIF itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/controls/GifSplitter.h"

namespace {

// Frames checked in depth per input (a GIF of thousands of tiny frames would make every run slow).
constexpr std::size_t kFramesChecked = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GifSplitter splitter;
    const bool parsed = splitter.Split(data, size);
    if (!parsed) {
        if (!splitter.Frames().empty()) abort();  // nothing of a failed parse is kept
        return 0;
    }
    if (!GifSplitter::HasSignature(data, size) || splitter.Frames().empty()) abort();

    const auto& frames = splitter.Frames();
    for (std::size_t i = 0; i < frames.size() && i < kFramesChecked; ++i) {
        const GifFrameData& frame = frames[i];
        // A stand-alone GIF: the input's signature, a screen of the frame's size, the trailer last.
        const std::vector<uint8_t>& gif = frame.gif;
        if (gif.size() < 13 + 10 + 2 || gif.size() > size + 1) abort();
        if (memcmp(gif.data(), data, 6) != 0 || gif.back() != 0x3B) abort();
        if ((gif[6] | (gif[7] << 8)) != frame.width || (gif[8] | (gif[9] << 8)) != frame.height) abort();

        // Split again, the frame is itself a GIF of exactly one image at (0, 0) with the same timing.
        GifSplitter again;
        if (!again.Split(gif.data(), gif.size()) || again.Frames().size() != 1) abort();
        const GifFrameData& copy = again.Frames()[0];
        if (copy.left != 0 || copy.top != 0 || copy.width != frame.width || copy.height != frame.height ||
            copy.delay != frame.delay || copy.disposal != frame.disposal || copy.gif != gif) {
            abort();
        }
        const uint32_t wait = GifFrameWaitMilliseconds(frame.delay);
        if (wait < 50 || wait > 655350) abort();
    }
    return 0;
}
