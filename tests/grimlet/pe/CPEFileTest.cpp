#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "grimlet/pe/CPEFile.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::string FixturePath() { return Narrow(BinFolder() + L"\\grimlet_fixture.dll", CP_ACP); }

TEST(CPEFile, ReadsAnExportsFirstBytesAsTheyAreInMemory) {
    HMODULE module = LoadLibraryA(FixturePath().c_str());
    ASSERT_NE(module, nullptr);
    const uint8_t* entry = reinterpret_cast<const uint8_t*>(GetProcAddress(module, "GrimletFixtureProbe"));
    ASSERT_NE(entry, nullptr);

    CPEFile file(FixturePath().c_str());
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.Headers().machine, sizeof(void*) == 4 ? 0x14C : 0x8664);
    uint32_t offset = 0;
    const uint32_t rva = static_cast<uint32_t>(entry - reinterpret_cast<const uint8_t*>(module));
    ASSERT_TRUE(file.RvaToOffset(rva, offset));
    ASSERT_TRUE(file.Seek(offset));
    uint32_t got = 0;
    const uint8_t* bytes = file.Read(5, got);
    ASSERT_NE(bytes, nullptr);
    ASSERT_EQ(got, 5u);
    EXPECT_EQ(memcmp(bytes, entry, 5), 0);
    FreeLibrary(module);
}

TEST(CPEFile, ReadsAtTheEndOfTheFileGiveWhatIsThere) {
    CPEFile file(FixturePath().c_str());
    ASSERT_TRUE(file.Open());
    const std::string whole = ReadFileBytes(BinFolder() + L"\\grimlet_fixture.dll");
    ASSERT_GT(whole.size(), 16u);
    const uint32_t size = static_cast<uint32_t>(whole.size());
    ASSERT_TRUE(file.Seek(size - 2));
    uint32_t got = 0;
    const uint8_t* bytes = file.Read(5, got);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(memcmp(bytes, whole.data() + size - 2, 2), 0);
    ASSERT_TRUE(file.Seek(size + 100));
    EXPECT_EQ(file.Read(5, got), nullptr);
    EXPECT_EQ(got, 0u);
}

TEST(CPEFile, FilesThatAreNoImageDoNotOpen) {
    ScratchFolder folder(L"pefile");
    ASSERT_TRUE(WriteFileBytes(folder / L"text.dll", "MZ this is not an image at all"));
    std::string image = ReadFileBytes(BinFolder() + L"\\grimlet_fixture.dll");
    ASSERT_TRUE(WriteFileBytes(folder / L"cut.dll", image.substr(0, 200)));

    CPEFile empty("");
    EXPECT_FALSE(empty.Open());
    CPEFile missing(Narrow(folder / L"missing.dll", CP_ACP).c_str());
    EXPECT_FALSE(missing.Open());
    CPEFile text(Narrow(folder / L"text.dll", CP_ACP).c_str());
    EXPECT_FALSE(text.Open());
    EXPECT_FALSE(text.IsOpen());
    CPEFile cut(Narrow(folder / L"cut.dll", CP_ACP).c_str());
    EXPECT_FALSE(cut.Open());
    uint32_t got = 7;
    EXPECT_FALSE(cut.Seek(0));
    EXPECT_EQ(cut.Read(5, got), nullptr);
    EXPECT_EQ(got, 0u);
}

TEST(CPEFile, EveryLiveReaderIsInTheProcessWideSet) {
    const std::size_t before = CPEFile::LiveCount();
    {
        CPEFile a(FixturePath().c_str());
        CPEFile b("");
        EXPECT_EQ(CPEFile::LiveCount(), before + 2);
        ASSERT_TRUE(a.Open());
        EXPECT_EQ(CPEFile::LiveCount(), before + 2);
    }
    EXPECT_EQ(CPEFile::LiveCount(), before);
}

TEST(CPEFile, TheOpenFileStaysWritableForOthers) {
    ScratchFolder folder(L"pefile");
    const std::wstring path = folder / L"shared.dll";
    ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(BinFolder() + L"\\grimlet_fixture.dll")));
    CPEFile file(Narrow(path, CP_ACP).c_str());
    ASSERT_TRUE(file.Open());
    // Sharing read, write and delete: the reader never stands in another program's way.
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

}  // namespace
