#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/access/SKApi.h"
#include "platform/access/SKSmartFD.h"
#include "platform/hash/FileDigest.h"
#include "platform/hash/SKFileHash.h"
#include "platform/log/Logger.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/TestSupport.h"
#include "DigestSamples.h"

using namespace testsupport;

namespace {

std::string Hex(const uint8_t* bytes, std::size_t size) {
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

struct Digests {
    std::string md5, sha1;
};

// Feeds `message` in pieces of `piece` bytes so that block boundaries fall inside the pieces.
Digests DigestOf(const std::string& message, std::size_t piece) {
    FileDigest digest(true, true);
    for (std::size_t at = 0; at < message.size(); at += piece)
        digest.Update(message.data() + at, std::min(piece, message.size() - at));
    uint8_t md5[16], sha1[20];
    digest.Finish(md5, sha1);
    return {Hex(md5, 16), Hex(sha1, 20)};
}

TEST(FileDigest, PublishedTestVectors) {
    const std::string million(1000000, 'a');
    for (std::size_t piece : {1u, 7u, 64u, 1000000u}) {
        SCOPED_TRACE(piece);
        Digests empty = DigestOf("", piece);
        EXPECT_EQ(empty.sha1, "da39a3ee5e6b4b0d3255bfef95601890afd80709");
        EXPECT_EQ(empty.md5, "d41d8cd98f00b204e9800998ecf8427e");
        Digests abc = DigestOf("abc", piece);
        EXPECT_EQ(abc.sha1, "a9993e364706816aba3e25717850c26c9cd0d89d");
        EXPECT_EQ(abc.md5, "900150983cd24fb0d6963f7d28e17f72");
        if (piece == 1) continue;  // a million single-byte updates add nothing but time
        Digests a = DigestOf(million, piece);
        EXPECT_EQ(a.sha1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
        EXPECT_EQ(a.md5, "7707d6ae4e027c70eea2a935c2296f21");
    }
}

TEST(FileDigest, OnlyTheRequestedDigestIsWritten) {
    uint8_t md5[16], sha1[20];
    memset(md5, 0xEE, sizeof md5);
    memset(sha1, 0xEE, sizeof sha1);
    FileDigest onlySha1(false, true);
    onlySha1.Update("abc", 3);
    onlySha1.Finish(md5, sha1);
    EXPECT_EQ(Hex(sha1, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(md5, 16), std::string(32, 'e'));
}

std::string SampleContent(uint32_t size) {
    std::string bytes(size, '\0');
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(SampleByte(i));
    return bytes;
}

TEST(HashFile, MatchesSha1sumAndMd5sumAroundTheReadBlock) {
    ScratchFolder scratch(L"hash");
    for (const DigestSample& sample : kDigestSamples) {
        SCOPED_TRACE(sample.size);
        std::wstring path = scratch / (L"sample" + std::to_wstring(sample.size) + L".bin");
        ASSERT_TRUE(WriteFileBytes(path, SampleContent(sample.size)));
        uint8_t md5[16], sha1[20];
        {
            SmartFD both(path.c_str());
            ASSERT_TRUE(both.IsValid());
            ASSERT_TRUE(HashFile(both, md5, sha1));
        }
        EXPECT_EQ(Hex(sha1, 20), sample.sha1);
        EXPECT_EQ(Hex(md5, 16), sample.md5);

        uint8_t md5Only[16];
        SmartFD again(path.c_str());
        ASSERT_TRUE(HashFile(again, md5Only, nullptr));
        EXPECT_EQ(Hex(md5Only, 16), sample.md5);
        SmartFD third(path.c_str());
        ASSERT_TRUE(HashFileSha1(third, sha1));
        EXPECT_EQ(Hex(sha1, 20), sample.sha1);
    }
}

TEST(HashFile, PublishedTestVectorsAsFiles) {
    ScratchFolder scratch(L"hash");
    struct {
        std::string content, sha1, md5;
    } vectors[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d", "900150983cd24fb0d6963f7d28e17f72"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f", "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& v : vectors) {
        std::wstring path = scratch / L"vector.bin";
        ASSERT_TRUE(WriteFileBytes(path, v.content));
        SmartFD file(path.c_str());
        uint8_t md5[16], sha1[20];
        ASSERT_TRUE(HashFile(file, md5, sha1));
        EXPECT_EQ(Hex(sha1, 20), v.sha1);
        EXPECT_EQ(Hex(md5, 16), v.md5);
    }
}

// An access mode under which a file changes while it is read: the normal open is refused, the lock-open
// shares writing, and each read lets `change` act on the file through a second handle first.
class ChangingFileApi final : public ForwardingApiFile {
public:
    ChangingFileApi(SKApiFile& real, std::function<void(HANDLE writer, int readNumber)> change)
        : ForwardingApiFile(real), change_(std::move(change)) {}

    HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE OpenLockFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                         HANDLE tmpl) override {
        writer_ = real_.CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        return real_.CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, sa, disposition, flags, tmpl);
    }
    BOOL CloseLockFile(HANDLE h) override {
        real_.CloseHandle(writer_);
        return real_.CloseHandle(h);
    }
    BOOL ReadFile(HANDLE f, LPVOID b, DWORD n, LPDWORD got, LPOVERLAPPED o) override {
        change_(writer_, reads_++);
        if (reads_ == failingRead) {
            if (got) *got = 0;
            SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
        return real_.ReadFile(f, b, n, got, o);
    }
    int failingRead = -1;  // 1-based number of the read that fails

private:
    std::function<void(HANDLE, int)> change_;
    HANDLE writer_ = INVALID_HANDLE_VALUE;
    int reads_ = 0;
};

class HashFileLogTest : public ::testing::Test {
protected:
    static std::wstring LogPath() { return ThisProgramFolder() + L"\\qvcleantool.log"; }
    void SetUp() override {
        DebugLevelValue::Remove();
        DeleteFileW(LogPath().c_str());
    }
    void TearDown() override { DebugLevelValue::Remove(); }

    // Hashes a 600,000-byte file that `change` alters while it is read; returns the log's Error lines.
    std::vector<std::string> HashChangingFile(std::function<void(HANDLE, int)> change, bool& hashed, bool& untouched,
                                              int failingRead = -1) {
        ScratchFolder scratch(L"hash");
        std::wstring path = scratch / L"changing.bin";
        EXPECT_TRUE(WriteFileBytes(path, std::string(600000, 'x')));
        DebugLevelValue level(0x2200007F);
        uint8_t md5[16], sha1[20];
        memset(md5, 0xEE, sizeof md5);
        memset(sha1, 0xEE, sizeof sha1);
        {
            Logger logger;
            ChangingFileApi changing(*SKApi::Instance()->file, change);
            changing.failingRead = failingRead;
            AccessModeSwap swap(&changing);
            SmartFD file(path.c_str());
            EXPECT_TRUE(file.IsValid());
            hashed = HashFile(file, md5, sha1);
        }
        untouched = Hex(md5, 16) == std::string(32, 'e') && Hex(sha1, 20) == std::string(40, 'e');
        std::vector<std::string> errors;
        for (const std::string& line : SplitLines(ReadFileBytes(LogPath())))
            if (line.find("[*]") != std::string::npos) errors.push_back(line);
        return errors;
    }
};

TEST_F(HashFileLogTest, AFileThatGrowsWhileReadGivesTheSizeErrorAndNoDigest) {
    bool hashed = true, untouched = false;
    auto errors = HashChangingFile(
        [](HANDLE writer, int read) {
            if (read != 1) return;
            DWORD written = 0;
            SetFilePointer(writer, 0, nullptr, FILE_END);
            WriteFile(writer, "more", 4, &written, nullptr);
        },
        hashed, untouched);
    EXPECT_FALSE(hashed);
    EXPECT_TRUE(untouched);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("size = 600000, read_size = 600004"), std::string::npos) << errors[0];
}

TEST_F(HashFileLogTest, AFileThatShrinksWhileReadGivesTheSizeErrorAndNoDigest) {
    bool hashed = true, untouched = false;
    auto errors = HashChangingFile(
        [](HANDLE writer, int read) {
            if (read != 1) return;
            SetFilePointer(writer, 300000, nullptr, FILE_BEGIN);
            SetEndOfFile(writer);
        },
        hashed, untouched);
    EXPECT_FALSE(hashed);
    EXPECT_TRUE(untouched);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("size = 600000, read_size = 300000"), std::string::npos) << errors[0];
}

TEST_F(HashFileLogTest, AReadErrorEndsTheLoopAndGivesBothErrorLines) {
    bool hashed = true, untouched = false;
    auto errors = HashChangingFile([](HANDLE, int) {}, hashed, untouched, 2);
    EXPECT_FALSE(hashed);
    EXPECT_TRUE(untouched);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("Read file error = 30"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("size = 600000, read_size = 262144"), std::string::npos) << errors[1];
}

}  // namespace
