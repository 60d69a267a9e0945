#pragma once
// A copy of the top of a thread's stack, where the system's start-up code leaves its words, and the
// reading of the thread's start address from it.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "grimlet/threads/NativeLayout.h"
#include "grimlet/threads/OsInfo.h"

class ProcessInfo;

class StackImage {
public:
    StackImage() = default;
    // Words in address order: words.back() lies just below the stack base.
    explicit StackImage(std::vector<StackWord> words) : words_(std::move(words)) {}

    // Copies the top of the stack of `thread` (a thread of `process`): one read of its committed part,
    // at most 4 KiB below the base. The thread is not stopped for it.
    static bool Capture(HANDLE process, HANDLE thread, StackImage& image);

    // The start address that the system's start-up code left on the stack, found with the calibrated
    // marks of `os`. False when neither mark is where it is expected.
    bool FindStart(const OsInfo& os, StackWord& start) const;
    // True when either mark stands in its slot and its pick holds `start`. Unlike FindStart, a first
    // mark found in its slot does not keep the second from being tried.
    bool ShowsStart(const OsInfo& os, StackWord start) const;

    const std::vector<StackWord>& Words() const { return words_; }

    // Where the marks and picks are counted down from: the word `d` below the anchor is
    // words_[anchor - d]. Before Vista the anchor lies just past the top word; from Vista on it is the
    // top non-zero word. False when the stack holds no non-zero word to anchor on.
    bool FindAnchor(const OsInfo& os, std::size_t& anchor) const;
    // False when that word lies outside the copy.
    bool WordBelow(std::size_t anchor, int32_t distance, StackWord& word) const;

private:
    std::vector<StackWord> words_;
};

// True when the stack of `thread` shows `start` as its start address with the layout in force; false
// too when the stack cannot be read.
bool StackShowsStart(const ProcessInfo& process, HANDLE thread, StackWord start);
