#include "grimlet/hooks/HookJump.h"

#include <cstring>

namespace {

int32_t S32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<int32_t>(v);
}

uint64_t U64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Addresses of a 32-bit process wrap at 4 GB.
uint64_t Wrap(uint64_t address, bool is64) { return is64 ? address : (address & 0xFFFFFFFFu); }

HookJump Direct(uint64_t target, uint32_t length, bool is64) {
    HookJump jump;
    jump.kind = HookJump::Kind::Direct;
    jump.target = Wrap(target, is64);
    jump.length = length;
    return jump;
}

}  // namespace

HookJump HookJump::Decode(const uint8_t* b, std::size_t count, uint64_t address, bool is64) {
    if (count >= 5 && b[0] == 0xE9)  // jmp rel32
        return Direct(address + 5 + static_cast<int64_t>(S32(b + 1)), 5, is64);
    if (count >= 2 && b[0] == 0xEB)  // jmp rel8
        return Direct(address + 2 + static_cast<int8_t>(b[1]), 2, is64);
    if (count >= 6 && b[0] == 0xFF && b[1] == 0x25) {  // jmp [abs32] / jmp [rip + disp32]
        HookJump jump;
        jump.kind = Kind::Indirect;
        jump.pointer = is64 ? address + 6 + static_cast<int64_t>(S32(b + 2)) : static_cast<uint32_t>(S32(b + 2));
        jump.length = 6;
        return jump;
    }
    if (count >= 6 && b[0] == 0x68 && b[5] == 0xC3)  // push imm32; ret (sign-extended on x86-64)
        return Direct(is64 ? static_cast<uint64_t>(static_cast<int64_t>(S32(b + 1))) : static_cast<uint32_t>(S32(b + 1)),
                      6, is64);
    // mov r32, imm32; jmp r32 (zero-extended on x86-64)
    if (count >= 7 && b[0] >= 0xB8 && b[0] <= 0xBF && b[5] == 0xFF && b[6] == 0xE0 + (b[0] - 0xB8))
        return Direct(static_cast<uint32_t>(S32(b + 1)), 7, is64);
    if (is64 && count >= 12 && (b[0] == 0x48 || b[0] == 0x49) && b[1] >= 0xB8 && b[1] <= 0xBF) {
        const uint8_t reg = static_cast<uint8_t>(b[1] - 0xB8);
        // mov rax..rdi, imm64; jmp the same register
        if (b[0] == 0x48 && b[10] == 0xFF && b[11] == 0xE0 + reg) return Direct(U64(b + 2), 12, is64);
        // mov r8..r15, imm64; jmp the same register
        if (b[0] == 0x49 && count >= 13 && b[10] == 0x41 && b[11] == 0xFF && b[12] == 0xE0 + reg)
            return Direct(U64(b + 2), 13, is64);
    }
    return HookJump{};
}
