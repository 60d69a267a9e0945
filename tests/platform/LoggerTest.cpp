#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "platform/log/Logger.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::wstring LogPath() { return ThisProgramFolder() + L"\\qvcleantool.log"; }

std::vector<std::string> LogLines() { return SplitLines(ReadFileBytes(LogPath())); }

// "[pppp:tttt] MM/DD hh:mm:ss:mmm-NNN [L] message[Source(line)]"
const std::regex kLine(R"(^\[([0-9a-f]{4,8}):([0-9a-f]{4,8})\] (\d\d)/(\d\d) (\d\d):(\d\d):(\d\d):(\d{3})-(\d{3}) \[(.)\] (.*)\[([^\[\]]*)\((-?\d+)\)\]$)");

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugLevelValue::Remove();
        DeleteFileW(LogPath().c_str());
    }
    void TearDown() override { DebugLevelValue::Remove(); }
};

TEST_F(LoggerTest, LineFormatParsesFieldByField) {
    DebugLevelValue level(0x2200007F);
    {
        Logger logger;
        Logger::SetSequenceCounter(7);
        Logger::Instance().Write(L"PackageManager", LogLevel::Enter, 19, "Drop payload archive");
        Logger::Instance().Write(L"SKScanManager", LogLevel::Error, 42, "open %S failed Error=%d", L"C:\\x.dll", 5);
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);

    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[10].str(), " ");  // several level bits in the configuration word: blank letter
    EXPECT_EQ(m[11].str(), "===== [1.60.0.1000][" + Narrow(LogPath(), CP_ACP) + "] LOG START =====");
    EXPECT_EQ(m[12].str(), "");
    EXPECT_EQ(m[13].str(), "0");

    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), GetCurrentProcessId());
    EXPECT_EQ(std::stoul(m[2].str(), nullptr, 16), GetCurrentThreadId());
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(m[3].str()), now.wMonth);
    EXPECT_LE(std::stoi(m[5].str()), 23);
    EXPECT_LE(std::stoi(m[6].str()), 59);
    EXPECT_EQ(m[9].str(), "007");
    EXPECT_EQ(m[10].str(), "I");
    EXPECT_EQ(m[11].str(), "Drop payload archive");
    EXPECT_EQ(m[12].str(), "PackageManager");
    EXPECT_EQ(m[13].str(), "19");

    ASSERT_TRUE(std::regex_match(lines[2], m, kLine)) << lines[2];
    EXPECT_EQ(m[9].str(), "008");
    EXPECT_EQ(m[10].str(), "*");
    EXPECT_EQ(m[11].str(), "open C:\\x.dll failed Error=5");
    EXPECT_EQ(m[12].str(), "SKScanManager");

    // Every line ends with exactly one line feed.
    std::string raw = ReadFileBytes(LogPath());
    EXPECT_EQ(raw.back(), '\n');
    EXPECT_EQ(raw.find("\r"), std::string::npos);
}

TEST_F(LoggerTest, ErrorOnlyConfigurationFiltersByLevelAndPrintsItsBanner) {
    DebugLevelValue level(0x22000002);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "info");
        Logger::Instance().Write(L"T", LogLevel::Error, 2, "error");
        Logger::Instance().Write(L"T", LogLevel::Warning, 3, "warning");
        Logger::Instance().Write(L"T", 0x04000002, 4, "other category");
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine));
    EXPECT_EQ(m[10].str(), "*");
    EXPECT_NE(m[11].str().find("LOG START"), std::string::npos);
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine));
    EXPECT_EQ(m[11].str(), "error");
}

// Lines never go through a second name of somebody else's file (a hard link put in the log's place
// while the program runs); once the log is a file of its own again, lines go on. A link at the log's
// name (which Wine cannot make for a file) is refused whether its handle or its folder's listing shows it.
TEST_F(LoggerTest, NeverAppendsThroughASecondNameOrALink) {
    ScratchFolder scratch;
    const std::wstring precious = scratch / L"precious.ini";
    ASSERT_TRUE(WriteFileBytes(precious, "precious"));
    DebugLevelValue level(0x2200007F);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "first");
        ASSERT_NE(ReadFileBytes(LogPath()).find("first"), std::string::npos);
        ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
        ASSERT_TRUE(CreateHardLinkW(LogPath().c_str(), precious.c_str(), nullptr));
        Logger::Instance().Write(L"T", LogLevel::Info, 2, "second");
        EXPECT_EQ(ReadFileBytes(precious), "precious");
        ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
        Logger::Instance().Write(L"T", LogLevel::Info, 3, "third");
        EXPECT_NE(ReadFileBytes(LogPath()).find("third"), std::string::npos);
    }
    BY_HANDLE_FILE_INFORMATION plain = {};
    plain.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    plain.nNumberOfLinks = 1;
    EXPECT_TRUE(Logger::IsOwnLogFile(FILE_TYPE_DISK, plain, FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(Logger::IsOwnLogFile(FILE_TYPE_DISK, plain, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(Logger::IsOwnLogFile(FILE_TYPE_DISK, plain, INVALID_FILE_ATTRIBUTES));
    EXPECT_FALSE(Logger::IsOwnLogFile(FILE_TYPE_PIPE, plain, FILE_ATTRIBUTE_ARCHIVE));
    BY_HANDLE_FILE_INFORMATION link = plain;
    link.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_FALSE(Logger::IsOwnLogFile(FILE_TYPE_DISK, link, FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(LoggerTest, NoDestinationBitBuildsNoFile) {
    DebugLevelValue level(0x02000010);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Enter, 1, "dropped");
    }
    EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(LoggerTest, ForeignCategoryWritesNothingNotEvenTheBanner) {
    DebugLevelValue level(0x20100010);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Enter, 1, "dropped");
    }
    EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(LoggerTest, MissingOrMistypedValueTurnsLoggingOffButStillDeletesTheOldLog) {
    const wchar_t text[] = L"0x2200007F";
    const uint32_t binary = 0x2200007F;
    struct Case {
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {{REG_SZ, text, sizeof text}, {REG_BINARY, &binary, sizeof binary}, {REG_NONE, nullptr, 0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(LogPath(), "old run\n"));
        {
            std::unique_ptr<DebugLevelValue> value;
            if (c.data) value.reset(new DebugLevelValue(c.type, c.data, c.size));
            Logger logger;
            EXPECT_EQ(logger.Mask(), 0u);
            Logger::Instance().Write(L"T", LogLevel::Error, 1, "nothing");
        }
        EXPECT_FALSE(FileExists(LogPath())) << "type " << c.type;
    }
}

TEST(LoggerFilePath, APathThatDoesNotFitGivesNoLogFileNeverOneAtTheDriveRoot) {
    char path[MAX_PATH];
    EXPECT_TRUE(Logger::BuildFilePath("C:\\tools\\Tidewash.exe", "qvcleantool.log", path));
    EXPECT_STREQ("C:\\tools\\qvcleantool.log", path);

    // The program's path as 8-bit characters: in code page 936, 130 Chinese characters already fill 260.
    const std::string deep = "C:\\" + std::string(300, 'd') + "\\Tidewash.exe";
    EXPECT_FALSE(Logger::BuildFilePath(deep.c_str(), "qvcleantool.log", path));
    EXPECT_STREQ("", path);
    // The program's path fits, the log's beside it would not: cut, it would name some other file.
    const std::string folder = "C:\\" + std::string(246, 'f');
    ASSERT_LT((folder + "\\a.exe").size(), static_cast<std::size_t>(MAX_PATH));
    EXPECT_FALSE(Logger::BuildFilePath((folder + "\\a.exe").c_str(), "qvcleantool.log", path));
    EXPECT_STREQ("", path);
    EXPECT_FALSE(Logger::BuildFilePath("", "qvcleantool.log", path));
    EXPECT_STREQ("", path);
}

TEST_F(LoggerTest, OverlongMessageIsCutAndKeepsItsSuffix) {
    DebugLevelValue level(0x22000008);
    std::string huge(10000, 'x');
    {
        Logger logger;
        Logger::Instance().Write(L"LongSource", LogLevel::Info, 1234, "%s", huge.c_str());
        Logger::Instance().Write(L"LongSource", LogLevel::Info, 5, "%s", std::string(4000, 'y').c_str());
    }
    std::string raw = ReadFileBytes(LogPath());
    auto lines = SplitLines(raw);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].size() + 1, 4095u);  // with its line feed
    EXPECT_EQ(lines[1].substr(lines[1].size() - 18), "[LongSource(1234)]");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 15), "[LongSource(5)]");
    EXPECT_NE(lines[2].find(std::string(4000, 'y')), std::string::npos);
}

TEST_F(LoggerTest, SequenceNumberWrapsAtOneThousandAndAtTheCounterWidth) {
    DebugLevelValue level(0x22000008);
    {
        Logger logger;
        Logger::SetSequenceCounter(998);
        for (int i = 0; i < 3; ++i) Logger::Instance().Write(L"T", LogLevel::Info, i, "a");
        Logger::SetSequenceCounter(65535);
        for (int i = 0; i < 2; ++i) Logger::Instance().Write(L"T", LogLevel::Info, i, "b");
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    const char* expected[] = {"998", "999", "000", "535", "000"};
    for (int i = 0; i < 5; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i + 1], m, kLine));
        EXPECT_EQ(m[9].str(), expected[i]) << "line " << i + 1;
    }
}

TEST_F(LoggerTest, TwoThreadsWriteWholeLines) {
    DebugLevelValue level(0x22000008);
    const int perThread = 400;
    {
        Logger logger;
        auto writer = [](char tag) {
            std::string body(300, tag);
            for (int i = 0; i < perThread; ++i) Logger::Instance().Write(L"Writer", LogLevel::Info, i, "%s", body.c_str());
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        a.join();
        b.join();
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u + 2 * perThread);
    int countA = 0, countB = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, kLine)) << lines[i];
        std::string body = m[11].str();
        ASSERT_EQ(body.size(), 300u);
        ASSERT_TRUE(body == std::string(300, 'a') || body == std::string(300, 'b'));
        (body[0] == 'a' ? countA : countB)++;
    }
    EXPECT_EQ(countA, perThread);
    EXPECT_EQ(countB, perThread);
}

TEST_F(LoggerTest, EventTraceBitWithoutSessionKeepsFileRouting) {
    // Wine's RegisterTraceGuidsW succeeds without a handle and no session ever enables the provider.
    DebugLevelValue level(0xA2000008);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "to the file");
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("to the file"), std::string::npos);
}

TEST(LoggerTraceRecord, LayoutHoldsHeaderCountAndShortenedText) {
    alignas(8) unsigned char record[4152];
    ASSERT_TRUE(Logger::BuildTraceRecord(LogLevel::Warning, "hello", record));
    uint16_t size;
    memcpy(&size, record, 2);
    EXPECT_EQ(size, 4152);
    EXPECT_EQ(record[2], 0);  // marker bytes
    EXPECT_EQ(record[4], 0x04);  // class type: low 8 bits of the level word
    uint32_t flags;
    memcpy(&flags, record + 44, 4);
    EXPECT_EQ(flags, 0x00020000u);
    const unsigned char classGuid[16] = {0x3F, 0x53, 0xDD, 0xD3, 0x62, 0x9B, 0x78, 0x4E,
                                         0x87, 0x47, 0xAA, 0xC8, 0x4E, 0x75, 0xF5, 0xD0};
    EXPECT_EQ(memcmp(record + 24, classGuid, 16), 0);
    uint32_t count;
    memcpy(&count, record + 48, 4);
    EXPECT_EQ(count, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(record + 52), "hell");
    for (std::size_t i = 57; i < sizeof record; ++i) ASSERT_EQ(record[i], 0) << i;

    std::string limit(4093, 'z');
    EXPECT_TRUE(Logger::BuildTraceRecord(LogLevel::Info, limit.c_str(), record));
    limit.push_back('z');
    EXPECT_FALSE(Logger::BuildTraceRecord(LogLevel::Info, limit.c_str(), record));
}

TEST(LoggerSilent, InstanceWithoutSetUpWritesNothing) {
    Logger& silent = Logger::Instance();
    EXPECT_EQ(silent.Mask(), 0u);
    EXPECT_STREQ(silent.Path(), "");
    silent.Write(L"T", LogLevel::Error, 1, "nothing");
}

}  // namespace

namespace {

TEST_F(LoggerTest, EnabledTraceSessionTakesMessagesAwayFromTheFile) {
    DebugLevelValue level(0xA2000008);
    {
        Logger logger;
        Logger::SetSequenceCounter(10);
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "before");
        // What the system's control thread does when a session enables the provider.
        WNODE_HEADER enable = {};
        enable.BufferSize = sizeof enable;
        enable.HistoricalContext = 0x1234;
        ULONG size = sizeof enable;
        EXPECT_EQ(Logger::TraceControl(WMI_ENABLE_EVENTS, nullptr, &size, &enable), static_cast<ULONG>(ERROR_SUCCESS));
        Logger::Instance().Write(L"T", LogLevel::Info, 2, "to the session only");
        EXPECT_EQ(Logger::TraceControl(WMI_DISABLE_EVENTS, nullptr, &size, &enable), static_cast<ULONG>(ERROR_SUCCESS));
        Logger::Instance().Write(L"T", LogLevel::Info, 3, "after");
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find("-010 [-] before"), std::string::npos) << lines[1];
    // The session's message did not advance the sequence counter.
    EXPECT_NE(lines[2].find("-011 [-] after"), std::string::npos) << lines[2];
}

TEST_F(LoggerTest, TraceSessionIsIgnoredWithoutTheTraceBit) {
    DebugLevelValue level(0x22000008);
    {
        Logger logger;
        WNODE_HEADER enable = {};
        ULONG size = sizeof enable;
        Logger::TraceControl(WMI_ENABLE_EVENTS, nullptr, &size, &enable);
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "still to the file");
        Logger::TraceControl(WMI_DISABLE_EVENTS, nullptr, &size, &enable);
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("still to the file"), std::string::npos);
}

TEST_F(LoggerTest, WideArgumentsAreConvertedInTheUserCodePage) {
    DebugLevelValue level(0x22000008);
    {
        Logger logger;
        Logger::Instance().Write(L"T", LogLevel::Info, 1, "path %S!", L"C:\\GRIMLET\\a.dll");
    }
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("path C:\\GRIMLET\\a.dll![T(1)]"), std::string::npos) << lines[1];
}

}  // namespace
