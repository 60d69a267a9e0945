#include "grimlet/hooks/WormHookProof.h"

#include "grimlet/hooks/HookJump.h"
#include "grimlet/threads/WormThreadProof.h"

namespace {

constexpr int kMaxHops = 4;

bool Query(HANDLE process, uint64_t address, MEMORY_BASIC_INFORMATION& memory) {
    return VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &memory,
                          sizeof memory) == sizeof memory;
}

bool ReadPointer(HANDLE process, uint64_t at, bool is64, uint64_t& value) {
    value = 0;
    SIZE_T read = 0;
    const SIZE_T size = is64 ? 8 : 4;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(at)), &value, size, &read) &&
           read == size;
}

// True when `address` lies in the allocation in which one of the worm's threads started, and that
// allocation is still the worm's private code.
bool InWormAllocation(HANDLE process, const MEMORY_BASIC_INFORMATION& landing,
                      const std::vector<uintptr_t>& wormStarts) {
    for (uintptr_t start : wormStarts) {
        MEMORY_BASIC_INFORMATION worm = {};
        if (!Query(process, start, worm) || !WormThreadProof::IsPrivateCode(process, start)) continue;
        if (worm.AllocationBase == landing.AllocationBase) return true;
    }
    return false;
}

}  // namespace

HookVerdict WormHookProof::Examine(HANDLE process, const EntryState& state, const std::vector<uintptr_t>& wormStarts,
                                   bool is64, uint32_t& restoreLength) {
    restoreLength = 0;
    HookJump jump = HookJump::Decode(state.memory.data(), state.length, state.address, is64);
    if (jump.kind == HookJump::Kind::None) return HookVerdict::NotAJump;
    // The jump, and every changed byte after it.
    restoreLength = jump.length;
    for (uint32_t i = jump.length; i < state.length; ++i)
        if (state.memory[i] != state.file[i]) restoreLength = i + 1;
    if (restoreLength > state.length) restoreLength = state.length;

    for (int hop = 0; hop < kMaxHops; ++hop) {
        uint64_t target = jump.target;
        if (jump.kind == HookJump::Kind::Indirect && !ReadPointer(process, jump.pointer, is64, target))
            return HookVerdict::Unreadable;
        MEMORY_BASIC_INFORMATION landing = {};
        if (!Query(process, target, landing)) return HookVerdict::Unreadable;
        if (landing.Type == MEM_IMAGE) return HookVerdict::IntoModule;
        if (!WormThreadProof::IsPrivateCode(process, static_cast<uintptr_t>(target))) return HookVerdict::IntoOtherMemory;
        if (InWormAllocation(process, landing, wormStarts)) return HookVerdict::Worm;
        // Private code of someone else: a relay of its own, or one more jump on the way.
        unsigned char next[kEntryCompareSize] = {};
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(target)), next, sizeof next,
                               &read) || read == 0)
            return HookVerdict::Unreadable;
        jump = HookJump::Decode(next, read, target, is64);
        if (jump.kind == HookJump::Kind::None) return HookVerdict::ForeignRelay;
    }
    return HookVerdict::TooManyHops;
}

const char* WormHookProof::Describe(HookVerdict verdict) {
    switch (verdict) {
        case HookVerdict::Worm: return "the worm's hook";
        case HookVerdict::NotAJump: return "the changed bytes are no jump";
        case HookVerdict::IntoModule: return "it jumps into a module";
        case HookVerdict::IntoOtherMemory: return "it jumps into memory that is not private code";
        case HookVerdict::ForeignRelay: return "it jumps into private code that no worm thread shares";
        case HookVerdict::TooManyHops: return "its jumps lead on too far";
        case HookVerdict::Unreadable: return "where it jumps cannot be read";
    }
    return "unknown";
}
