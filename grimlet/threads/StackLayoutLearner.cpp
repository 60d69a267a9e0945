#include "grimlet/threads/StackLayoutLearner.h"

#include <windows.h>
#include <psapi.h>

#include <cwchar>

#include "grimlet/threads/StackImage.h"

namespace {

// The start-up code keeps the start address among its top few words and calls the start routine
// within a few dozen words below it (Wine's 64-bit start-up, the deepest seen, leaves 26).
constexpr int32_t kPickReach = 32;
constexpr int32_t kMarkReach = 48;

// Where one probe's stack keeps the start address.
struct StartSlot {
    std::size_t anchor = 0;
    int32_t pick = 0;
};

bool FindStartSlot(const StackImage& image, const OsInfo& os, StackWord start, StartSlot& slot) {
    if (!image.FindAnchor(os, slot.anchor)) return false;
    // Before Vista the anchor lies just past the copy, so the first distance may read nothing.
    for (int32_t distance = 0; distance <= kPickReach; ++distance) {
        StackWord word = 0;
        if (image.WordBelow(slot.anchor, distance, word) && word == start) {
            slot.pick = distance;
            return true;
        }
    }
    return false;
}

bool ReadsBack(const StackImage& image, const OsInfo& os, StackWord start) {
    StackWord found = 0;
    return image.FindStart(os, found) && found == start;
}

}  // namespace

bool StackLayoutLearner::Learn(const StackImage& withoutParameter, const StackImage& withParameter, StackWord start,
                               OsInfo& os) const {
    StartSlot bare, carrying;
    if (!FindStartSlot(withoutParameter, os, start, bare) || !FindStartSlot(withParameter, os, start, carrying))
        return false;
    for (int32_t below = 1; below <= kMarkReach; ++below) {
        StackWord first = 0, second = 0;
        if (!withoutParameter.WordBelow(bare.anchor, bare.pick + below, first) ||
            !withParameter.WordBelow(carrying.anchor, carrying.pick + below, second))
            return false;
        if (first == 0 || first != second || !isSystemCode_(first)) continue;
        OsInfo candidate = os;
        candidate.depthA = bare.pick + below;
        candidate.pickA = bare.pick;
        candidate.depthB = carrying.pick + below;
        candidate.pickB = carrying.pick;
        candidate.markA = first;
        candidate.markB = first;
        // The search tries the first kind before the second: a slot that lets one stack pass for the
        // other kind would misread its start, so such a candidate is passed over.
        if (ReadsBack(withoutParameter, candidate, start) && ReadsBack(withParameter, candidate, start)) {
            os = candidate;
            return true;
        }
    }
    return false;
}

bool IsSystemReturnAddress(StackWord word) {
    MEMORY_BASIC_INFORMATION memory = {};
    if (!VirtualQuery(reinterpret_cast<LPCVOID>(word), &memory, sizeof memory)) return false;
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (memory.State != MEM_COMMIT || memory.Type != MEM_IMAGE || (memory.Protect & executable) == 0) return false;
    return LiesInMappedFile(word, L"ntdll.dll") || LiesInMappedFile(word, L"kernel32.dll");
}

bool LiesInMappedFile(StackWord address, const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = {};
    if (!GetMappedFileNameW(GetCurrentProcess(), reinterpret_cast<LPVOID>(address), path, MAX_PATH)) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    return _wcsicmp(name ? name + 1 : path, fileName) == 0;
}
