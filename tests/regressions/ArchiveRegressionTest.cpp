// Archives that once broke the unpacking of the payload, found by the native fuzzer (tests/fuzz), and
// the pieces that now keep them harmless.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/payload/ArchiveExtractor.h"
#include "platform/payload/MemoryArchiveInStream.h"
#include "platform/payload/PackageManager.h"
#include "platform/payload/SevenZipArchive.h"
#include "platform/payload/SevenZipHeap.h"
#include "tests/support/TestSupport.h"

namespace {

// One stored file "a.txt" holding "hello", with the name table taken out, doubled or emptied (header
// checksums recomputed, so only the decoder's own checks stand in the way).
const unsigned char kNamelessArchive[] = {
    0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04, 0xE8, 0x54, 0xC0, 0x57, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x67, 0xC4, 0xC4, 0xCC,
    0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x04, 0x06, 0x00, 0x01, 0x09, 0x05, 0x00, 0x07, 0x0B, 0x01,
    0x00, 0x01, 0x01, 0x00, 0x0C, 0x05, 0x00, 0x08, 0x0A, 0x01, 0x86, 0xA6, 0x10, 0x36, 0x00, 0x00,
    0x05, 0x01, 0x00, 0x00,
};
const unsigned char kRepeatedNamesArchive[] = {
    0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04, 0xBA, 0x83, 0x54, 0x25, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x3D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAE, 0x83, 0x90, 0xFC,
    0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x04, 0x06, 0x00, 0x01, 0x09, 0x05, 0x00, 0x07, 0x0B, 0x01,
    0x00, 0x01, 0x01, 0x00, 0x0C, 0x05, 0x00, 0x08, 0x0A, 0x01, 0x86, 0xA6, 0x10, 0x36, 0x00, 0x00,
    0x05, 0x01, 0x11, 0x0D, 0x00, 0x61, 0x00, 0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00, 0x00,
    0x00, 0x11, 0x0D, 0x00, 0x61, 0x00, 0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00, 0x00, 0x00,
    0x00, 0x00,
};
const unsigned char kEmptyNamePropertyArchive[] = {
    0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04, 0x83, 0xF4, 0xA2, 0xEF, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x15, 0xC9, 0x1F,
    0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x01, 0x04, 0x06, 0x00, 0x01, 0x09, 0x05, 0x00, 0x07, 0x0B, 0x01,
    0x00, 0x01, 0x01, 0x00, 0x0C, 0x05, 0x00, 0x08, 0x0A, 0x01, 0x86, 0xA6, 0x10, 0x36, 0x00, 0x00,
    0x05, 0x01, 0x11, 0x00, 0x00, 0x00,
};

template <std::size_t N>
std::string Bytes(const unsigned char (&bytes)[N]) {
    return std::string(reinterpret_cast<const char*>(bytes), N);
}

// Records what the extraction walk asks of the folder.
class RecordingTarget final : public IExtractTarget {
public:
    void Refused(const std::u16string& name, EntryNameVerdict) override { refused.push_back(name); }
    void CreateFolder(const std::u16string& name) override { folders.push_back(name); }
    bool StoreFile(const std::u16string& name, const unsigned char* data, std::size_t size) override {
        files.push_back(name);
        contents.push_back(std::string(reinterpret_cast<const char*>(data), size));
        return storeSucceeds;
    }
    void SetAttributes(const std::u16string&, uint32_t) override {}

    bool storeSucceeds = true;
    std::vector<std::u16string> refused, folders, files;
    std::vector<std::string> contents;
};

}  // namespace

// An archive without a name table made the name lookup read through a null table.
TEST(ArchiveRegression, ArchiveWithoutNamesGivesEmptyNamesAndStillDecodes) {
    MemoryArchiveInStream stream(kNamelessArchive, sizeof kNamelessArchive);
    SevenZipArchive archive;
    ASSERT_EQ(archive.Open(stream), 0);
    ASSERT_EQ(archive.EntryCount(), 1u);
    std::vector<char16_t> name;
    ASSERT_EQ(archive.ReadName(0, name), 0);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name[0], u'\0');

    RecordingTarget target;
    EXPECT_EQ(ArchiveExtractor(target).Extract(archive), 0);
    ASSERT_EQ(target.files.size(), 1u);
    EXPECT_EQ(target.files[0], u"");
    EXPECT_EQ(target.contents[0], "hello");
}

// Unpacked for real, the nameless entry would land on the folder itself: that write fails, cleanly.
TEST(ArchiveRegression, ArchiveWithoutNamesFailsToWriteInsteadOfCrashing) {
    testsupport::ScratchFolder work(L"nameless");
    const std::wstring path = work / L"Real.7z";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, Bytes(kNamelessArchive)));
    const std::wstring folder = work / L"out";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(Extract7z(path.c_str(), folder.c_str()), PackageResult::kCannotWriteFile);
}

// A repeated name table leaked the first one inside the decoder; the archive still reads as stored.
TEST(ArchiveRegression, RepeatedNameTableReadsLikeASingleOne) {
    MemoryArchiveInStream stream(kRepeatedNamesArchive, sizeof kRepeatedNamesArchive);
    SevenZipArchive archive;
    ASSERT_EQ(archive.Open(stream), 0);
    RecordingTarget target;
    EXPECT_EQ(ArchiveExtractor(target).Extract(archive), 0);
    ASSERT_EQ(target.files.size(), 1u);
    EXPECT_EQ(target.files[0], u"a.txt");
    EXPECT_EQ(target.contents[0], "hello");
}

// A name table of size 0 stepped the decoder's read pointer back before it refused the archive.
TEST(ArchiveRegression, EmptyNameTableIsRefused) {
    MemoryArchiveInStream stream(kEmptyNamePropertyArchive, sizeof kEmptyNamePropertyArchive);
    SevenZipArchive archive;
    EXPECT_NE(archive.Open(stream), 0);
    EXPECT_EQ(archive.EntryCount(), 0u);
}

// The heap frees what the decoder forgets, refuses absurd sizes and never frees a stranger's block.
TEST(SevenZipHeapTest, ReleasesForgottenBlocksRefusesHugeOnesAndIgnoresForeignOnes) {
    int foreign = 0;
    {
        SevenZipHeap heap;
        void* kept = ISzAlloc_Alloc(heap.Allocator(), 100);
        void* freed = ISzAlloc_Alloc(heap.Allocator(), 200);
        ASSERT_NE(kept, nullptr);
        ASSERT_NE(freed, nullptr);
        ISzAlloc_Free(heap.Allocator(), freed);
        EXPECT_EQ(heap.Outstanding(), 1u);
        EXPECT_EQ(ISzAlloc_Alloc(heap.Allocator(), SevenZipHeap::kMaxBlock + 1), nullptr);
        EXPECT_EQ(ISzAlloc_Alloc(heap.Allocator(), 0), nullptr);
        ISzAlloc_Free(heap.Allocator(), &foreign);
        EXPECT_EQ(heap.Outstanding(), 1u);
    }  // `kept` goes with the heap
    EXPECT_EQ(foreign, 0);
}

// The memory stream moves like a file: past the end is allowed, before the start and wrapping are not.
TEST(MemoryArchiveInStreamTest, SeeksLikeAFile) {
    const char bytes[] = "0123456789";
    MemoryArchiveInStream stream(bytes, 10);
    int64_t position = -3;
    ASSERT_TRUE(stream.Seek(&position, IArchiveInStream::Origin::End));
    EXPECT_EQ(position, 7);
    char buffer[8] = {};
    std::size_t size = sizeof buffer;
    ASSERT_TRUE(stream.Read(buffer, &size));
    EXPECT_EQ(std::string(buffer, size), "789");

    position = 5;
    ASSERT_TRUE(stream.Seek(&position, IArchiveInStream::Origin::Current));
    EXPECT_EQ(position, 15);
    size = sizeof buffer;
    ASSERT_TRUE(stream.Read(buffer, &size));
    EXPECT_EQ(size, 0u);

    position = -16;
    EXPECT_FALSE(stream.Seek(&position, IArchiveInStream::Origin::Current));
    position = INT64_MAX;
    EXPECT_FALSE(stream.Seek(&position, IArchiveInStream::Origin::End));
    position = 0;
    ASSERT_TRUE(stream.Seek(&position, IArchiveInStream::Origin::Current));
    EXPECT_EQ(position, 15);  // a refused move leaves the position alone
}
