#pragma once
// What makes a changed entry point the worm's. Security products and compatibility layers also put
// relays in front of system functions, some of them in private memory, so a difference alone proves
// nothing. A hook counts as the worm's only when, in a process where a worm thread was proven:
// - the entry's bytes differ from the system folder's file;
// - they decode as a jump, followed for a few hops through further jumps;
// - and it lands in committed, executable, private memory (no module, no file view) that is the very
//   allocation in which a proven worm thread started.
// It is tested at scan, and again while the host's threads stand still, just before the bytes are
// written back.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "grimlet/hooks/ApiHookCheck.h"

enum class HookVerdict {
    Worm,
    NotAJump,         // the changed bytes are no jump
    IntoModule,       // the jump leads into a module image
    IntoOtherMemory,  // into a file view, or memory that is not committed executable code
    ForeignRelay,     // into private code that no worm thread of the process shares
    TooManyHops,
    Unreadable,       // the jump's pointer or the memory it leads to cannot be read
};

class WormHookProof {
public:
    // `state` is an entry that Differs; `wormStarts` the start addresses of the process's proven worm
    // threads. `restoreLength` is how many of the entry's bytes the hook took (the jump, and every
    // changed byte after it): what a repair writes back.
    static HookVerdict Examine(HANDLE process, const EntryState& state, const std::vector<uintptr_t>& wormStarts,
                               bool is64, uint32_t& restoreLength);
    static const char* Describe(HookVerdict verdict);
};
