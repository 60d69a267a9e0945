// The jump forms a hook writes, decoded on bytes the test builds, for both kinds of process; and the
// system folder's module files read as the hook test reads them: forwarders followed, relocated bytes
// as mapped elsewhere.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "grimlet/hooks/HookJump.h"
#include "grimlet/hooks/SystemModules.h"

namespace {

HookJump Decode(std::vector<uint8_t> bytes, uint64_t at, bool is64) {
    return HookJump::Decode(bytes.data(), bytes.size(), at, is64);
}

TEST(HookJump, DecodesEveryFormTheWormsHooksTake) {
    // jmp rel32, forward and backward, wrapping at 4 GB in a 32-bit process.
    HookJump j = Decode({0xE9, 0x10, 0x00, 0x00, 0x00}, 0x1000, false);
    EXPECT_EQ(HookJump::Kind::Direct, j.kind);
    EXPECT_EQ(0x1015u, j.target);
    EXPECT_EQ(5u, j.length);
    EXPECT_EQ(0xFFFFF005u, Decode({0xE9, 0x00, 0xF0, 0xFF, 0xFF}, 0x0000, false).target);
    EXPECT_EQ(0xFFFFFFFFFFFFF005ull, Decode({0xE9, 0x00, 0xF0, 0xFF, 0xFF}, 0x0000, true).target);
    // jmp rel8.
    j = Decode({0xEB, 0xFE}, 0x2000, false);
    EXPECT_EQ(0x2000u, j.target);
    EXPECT_EQ(2u, j.length);
    // jmp [pointer]: absolute in a 32-bit process, RIP-relative in a 64-bit one.
    j = Decode({0xFF, 0x25, 0x00, 0x30, 0x40, 0x00}, 0x1000, false);
    EXPECT_EQ(HookJump::Kind::Indirect, j.kind);
    EXPECT_EQ(0x403000u, j.pointer);
    j = Decode({0xFF, 0x25, 0x00, 0x00, 0x00, 0x00}, 0x7FF000001000ull, true);
    EXPECT_EQ(0x7FF000001006ull, j.pointer);
    EXPECT_EQ(6u, j.length);
    // push imm32; ret.
    j = Decode({0x68, 0x78, 0x56, 0x34, 0x12, 0xC3}, 0, false);
    EXPECT_EQ(0x12345678u, j.target);
    EXPECT_EQ(6u, j.length);
    // mov reg, imm; jmp reg, for eax, for rcx and for r11.
    EXPECT_EQ(0x12345678u, Decode({0xB8, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xE0}, 0, false).target);
    j = Decode({0x48, 0xB9, 8, 7, 6, 5, 4, 3, 2, 1, 0xFF, 0xE1}, 0, true);
    EXPECT_EQ(0x0102030405060708ull, j.target);
    EXPECT_EQ(12u, j.length);
    j = Decode({0x49, 0xBB, 8, 7, 6, 5, 4, 3, 2, 1, 0x41, 0xFF, 0xE3}, 0, true);
    EXPECT_EQ(0x0102030405060708ull, j.target);
    EXPECT_EQ(13u, j.length);
}

TEST(HookJump, AnythingElseIsNoJump) {
    const std::vector<std::vector<uint8_t>> others = {
        {0x8B, 0xFF, 0x55, 0x8B, 0xEC},        // the usual prologue
        {0xE9, 0x00, 0x00},                    // cut short
        {0xB8, 1, 2, 3, 4, 0xFF, 0xE1},        // mov eax, jmp ecx: another register
        {0x68, 1, 2, 3, 4, 0x90},              // push without ret
        {0xFF, 0x15, 0, 0, 0, 0},              // a call, not a jump
        {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xD0},  // mov rax; call rax
    };
    for (const auto& bytes : others)
        for (bool is64 : {false, true}) EXPECT_EQ(HookJump::Kind::None, Decode(bytes, 0x1000, is64).kind);
    // The 64-bit forms mean nothing in a 32-bit process.
    EXPECT_EQ(HookJump::Kind::None, Decode({0x48, 0xB8, 8, 7, 6, 5, 4, 3, 2, 1, 0xFF, 0xE0}, 0, false).kind);
}

SystemFolder OwnFolder() {
    SystemFolder folder;
    EXPECT_TRUE(SystemFolderOf(GetCurrentProcess(), folder));
    return folder;
}

TEST(SystemModuleFiles, ResolvesAsTheLoaderDoesForwardersIncluded) {
    SystemModuleFiles files;
    const SystemFolder folder = OwnFolder();
    // kernel32's HeapAlloc is served by ntdll: the loader follows the forwarder, and so does the reader.
    for (const char* name : {"HeapAlloc", "GetProcAddress", "Sleep"}) {
        SystemModuleFiles::Entry entry;
        ASSERT_TRUE(files.Resolve(folder, "KERNEL32.dll", name, entry)) << name;
        const HMODULE module = GetModuleHandleA(entry.module.c_str());
        ASSERT_NE(nullptr, module) << entry.module;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)),
                  reinterpret_cast<uintptr_t>(module) + entry.rva)
            << name << " in " << entry.module;
    }
    SystemModuleFiles::Entry entry;
    EXPECT_FALSE(files.Resolve(folder, "kernel32.dll", "NoSuchEntryPoint", entry));
    EXPECT_FALSE(files.Resolve(folder, "no-such-module.dll", "Sleep", entry));
    EXPECT_EQ(nullptr, files.File(folder, "..\\kernel32.dll")) << "a name, never a path";
}

TEST(SystemModuleFiles, RelocatedBytesAreTheFilesPlusTheDistance) {
    SystemModuleFiles files;
    const PeFileImage* file = files.File(OwnFolder(), "ws2_32.dll");
    ASSERT_NE(nullptr, file);
    // A relocated value somewhere in the image.
    std::vector<PeFileImage::Fixup> fixups;
    ASSERT_TRUE(file->FixupsIn(0, 0xFFFFFFFFu, fixups));
    ASSERT_FALSE(fixups.empty());
    const PeFileImage::Fixup fixup = fixups.front();
    uint8_t original[16] = {}, moved[16] = {};
    const uintptr_t preferred = static_cast<uintptr_t>(file->Headers().imageBase);
    const uint32_t count = 4u + fixup.width;  // the first value of the table has no other before it
    ASSERT_EQ(count, FileBytesAsMapped(*file, preferred, fixup.rva - 4, count, original));
    ASSERT_EQ(count, FileBytesAsMapped(*file, preferred + 0x10000, fixup.rva - 4, count, moved));
    EXPECT_EQ(0, memcmp(original, moved, 4)) << "bytes before the value stay";
    uint64_t before = 0, after = 0;
    memcpy(&before, original + 4, fixup.width);
    memcpy(&after, moved + 4, fixup.width);
    EXPECT_EQ(before + 0x10000, after);
    // A value that runs past the end of the range shortens it to where the value starts.
    EXPECT_EQ(2u, FileBytesAsMapped(*file, preferred + 0x10000, fixup.rva - 2, 4, moved));
}

TEST(SystemModuleFiles, OnlyPlainLocalFilesAreRead) {
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(ReadPlainLocalFile(L"\\\\.\\pipe\\tidewash-no-such-pipe", 1 << 20, bytes));
    EXPECT_FALSE(ReadPlainLocalFile(SystemFolderPath(OwnFolder()), 1 << 20, bytes)) << "a folder";
    EXPECT_FALSE(ReadPlainLocalFile(L"NUL", 1 << 20, bytes)) << "a device";
    EXPECT_FALSE(ReadPlainLocalFile(SystemFolderPath(OwnFolder()) + L"\\kernel32.dll", 16, bytes)) << "too large";
    EXPECT_TRUE(ReadPlainLocalFile(SystemFolderPath(OwnFolder()) + L"\\kernel32.dll", 64 << 20, bytes));
}

}  // namespace
