#pragma once
// The jumps a hook writes over an entry point, decoded from the bytes at the entry. Only the forms that
// send execution elsewhere unconditionally count; anything else is not a jump. No Win32 types: the
// decoder is also built natively.
#include <cstddef>
#include <cstdint>

struct HookJump {
    enum class Kind {
        None,      // the bytes are no jump this decoder knows
        Direct,    // `target` is where it goes
        Indirect,  // it goes where the pointer at `pointer` points (FF 25)
    };
    Kind kind = Kind::None;
    uint64_t target = 0;
    uint64_t pointer = 0;
    uint32_t length = 0;  // bytes of the entry the jump takes up

    // Decodes the bytes at `address` (`count` of them are given). `is64` selects the x86-64 forms:
    // RIP-relative pointers, REX-prefixed moves and 64-bit immediates.
    static HookJump Decode(const uint8_t* bytes, std::size_t count, uint64_t address, bool is64);
};
