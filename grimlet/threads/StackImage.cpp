#include "grimlet/threads/StackImage.h"

#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"

namespace {

// No thread start-up leaves that much used stack; a larger range means the context or the thread
// block read was not what it seemed.
constexpr StackWord kMaxStackCopy = 32u * 1024 * 1024;

bool ReadRemote(HANDLE process, StackWord address, void* buffer, std::size_t size) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &read) && read == size;
}

bool ReadStackPointer(HANDLE thread, StackWord& stackPointer) {
    // Resuming a thread we did not suspend would release someone else's suspension.
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    const bool read = GetThreadContext(thread, &context) != FALSE;
    ResumeThread(thread);
    if (!read) return false;
    stackPointer = NativeLayout::StackPointer(context);
    return true;
}

}  // namespace

bool StackImage::Capture(HANDLE process, HANDLE thread, StackImage& image) {
    uintptr_t teb = 0;
    if (!NtApi::ThreadEnvironmentBlock(thread, teb)) return false;
    unsigned char tib[2 * sizeof(void*)];
    if (!ReadRemote(process, teb, tib, sizeof tib)) return false;
    const StackWord stackBase = NativeLayout::ReadField<StackWord>(tib, NativeLayout::kTebStackBase);

    StackWord stackPointer = 0;
    if (!ReadStackPointer(thread, stackPointer)) return false;
    if (stackPointer >= stackBase || stackBase - stackPointer > kMaxStackCopy) return false;

    std::vector<StackWord> words;
    try {
        words.resize((stackBase - stackPointer) / sizeof(StackWord));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const StackWord first = stackBase - words.size() * sizeof(StackWord);
    if (!ReadRemote(process, first, words.data(), words.size() * sizeof(StackWord))) return false;
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
