#include "grimlet/threads/StackImage.h"

#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"

namespace {

// The system's thread start-up code keeps its words at the very top of a stack, a few dozen words at
// most: this much below the stack base holds them on every system seen, with room to spare.
constexpr StackWord kStackWindow = 4096;

bool ReadRemote(HANDLE process, StackWord address, void* buffer, std::size_t size) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &read) && read == size;
}

}  // namespace

bool StackImage::Capture(HANDLE process, HANDLE thread, StackImage& image) {
    uintptr_t teb = 0;
    if (!NtApi::ThreadEnvironmentBlock(thread, teb)) return false;
    unsigned char tib[3 * sizeof(void*)];
    if (!ReadRemote(process, teb, tib, sizeof tib)) return false;
    const StackWord stackBase = NativeLayout::ReadField<StackWord>(tib, NativeLayout::kTebStackBase);
    const StackWord stackLimit = NativeLayout::ReadField<StackWord>(tib, NativeLayout::kTebStackLimit);
    if (stackLimit >= stackBase) return false;
    // The thread runs on while its top is read: it never returns into the start-up code's frame, so
    // those words stay as they are, and a scan that dies midway leaves no thread suspended.
    const StackWord first = stackBase - stackLimit > kStackWindow ? stackBase - kStackWindow : stackLimit;
    std::vector<StackWord> words((stackBase - first) / sizeof(StackWord));
    if (!ReadRemote(process, stackBase - words.size() * sizeof(StackWord), words.data(),
                    words.size() * sizeof(StackWord)))
        return false;
    image.words_ = std::move(words);
    return true;
}

bool StackImage::FindAnchor(const OsInfo& os, std::size_t& anchor) const {
    std::size_t end = words_.size();
    if (!os.StartsWithZeroWalk()) {
        anchor = end;
        return true;
    }
    while (end > 0 && words_[end - 1] == 0) --end;
    if (end == 0) return false;
    anchor = end - 1;
    return true;
}

bool StackImage::WordBelow(std::size_t anchor, int32_t distance, StackWord& word) const {
    if (distance < 0 || static_cast<std::size_t>(distance) > anchor) return false;
    const std::size_t index = anchor - static_cast<std::size_t>(distance);
    if (index >= words_.size()) return false;
    word = words_[index];
    return true;
}

bool StackImage::FindStart(const OsInfo& os, StackWord& start) const {
    std::size_t anchor = 0;
    if (!FindAnchor(os, anchor)) return false;
    // A mark of 0 was never calibrated: zero words are padding, not a return address, and must not
    // pass for one.
    StackWord word = 0;
    if (os.markA != 0 && WordBelow(anchor, os.depthA, word) && word == os.markA)
        return WordBelow(anchor, os.pickA, start);
    if (os.markB != 0 && WordBelow(anchor, os.depthB, word) && word == os.markB)
        return WordBelow(anchor, os.pickB, start);
    return false;
}

bool StackImage::ShowsStart(const OsInfo& os, StackWord start) const {
    std::size_t anchor = 0;
    if (start == 0 || !FindAnchor(os, anchor)) return false;
    // Each kind on its own: a first mark that happens to stand in its slot must not hide the second.
    StackWord word = 0, picked = 0;
    if (os.markA != 0 && WordBelow(anchor, os.depthA, word) && word == os.markA &&
        WordBelow(anchor, os.pickA, picked) && picked == start)
        return true;
    return os.markB != 0 && WordBelow(anchor, os.depthB, word) && word == os.markB &&
           WordBelow(anchor, os.pickB, picked) && picked == start;
}

bool StackShowsStart(const ProcessInfo& process, HANDLE thread, StackWord start) {
    StackImage image;
    return StackImage::Capture(process.Handle(), thread, image) && image.ShowsStart(OsInfo::Instance(), start);
}
