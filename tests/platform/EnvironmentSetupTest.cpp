#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <thread>

#include "platform/access/SKApi.h"
#include "platform/system/FileUtility.h"
#include "platform/system/SKEnvironment.h"
#include "platform/system/SKFilterDriver.h"
#include "platform/win32/KernelHandle.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const char kLogName[] = "environment_setup_test.log";
// FSCTL_PIPE_TRANSCEIVE: write a message and wait for the answer (TransactNamedPipe).
const DWORD kPipeTransceive = CTL_CODE(0x00000011, 5, METHOD_NEITHER, FILE_READ_DATA | FILE_WRITE_DATA);

// Every test starts from a fully torn-down environment with no folders chosen.
class EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        SKEnvironment* environment = SKEnvironment::Instance();
        while (environment->SetupCount() > 0) environment->Teardown();
        environment->SetBaseFolder(L"");
        environment->SetPatternFolder(L"");
        environment->SetLogFolder(L"");
        SKApi::Destroy();
    }
};

TEST_F(EnvironmentTest, FoldersDefaultToTheCurrentDirectory) {
    ScratchFolder scratch;
    CurrentDirectoryGuard inWorkFolder(scratch.Path());
    SKEnvironment* environment = SKEnvironment::Instance();
    EXPECT_EQ(environment->BaseFolder(), L"");
    EXPECT_EQ(environment->Setup(), 1);
    EXPECT_EQ(environment->BaseFolder(), scratch.Path());
    EXPECT_EQ(environment->PatternFolder(), scratch / L"pattern");
    EXPECT_EQ(environment->ProfileFolder(), scratch / L"profile");
    EXPECT_EQ(environment->LogFolder(), scratch / L"log");
    EXPECT_EQ(environment->ExtraFolder(), L"");
    EXPECT_EQ(environment->LowLevelMode(), 0u);
    // Only the log folder is made.
    EXPECT_TRUE(DirectoryExists(scratch / L"log"));
    EXPECT_FALSE(DirectoryExists(scratch / L"pattern"));
    EXPECT_FALSE(DirectoryExists(scratch / L"profile"));
}

TEST_F(EnvironmentTest, FoldersGivenBeforeSetupAreKeptButProfileIsDerived) {
    ScratchFolder scratch;
    SKEnvironment* environment = SKEnvironment::Instance();
    environment->SetBaseFolder(scratch / L"base");
    environment->SetPatternFolder(scratch / L"patterns-elsewhere");
    // A stale profile folder from an earlier run is replaced.
    environment->Setup();
    EXPECT_EQ(environment->BaseFolder(), scratch / L"base");
    EXPECT_EQ(environment->PatternFolder(), scratch / L"patterns-elsewhere");
    EXPECT_EQ(environment->ProfileFolder(), scratch / L"base\\profile");
    EXPECT_EQ(environment->LogFolder(), scratch / L"base\\log");
    EXPECT_TRUE(DirectoryExists(scratch / L"base\\log"));  // parents are created too
    environment->Teardown();

    // A second round keeps everything that was settled, and recomputes the profile from a new base.
    environment->SetBaseFolder(scratch / L"other");
    environment->Setup();
    EXPECT_EQ(environment->ProfileFolder(), scratch / L"other\\profile");
    EXPECT_EQ(environment->LogFolder(), scratch / L"base\\log");
    EXPECT_EQ(environment->PatternFolder(), scratch / L"patterns-elsewhere");
}

TEST_F(EnvironmentTest, DeepCurrentDirectoryIsTakenWhole) {
    ScratchFolder scratch;
    std::wstring deep = scratch.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(50, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
    }
    std::wstring entered;
    {
        CurrentDirectoryGuard inDeepFolder(deep);
        if (inDeepFolder.Switched()) {
            SKEnvironment::Instance()->SetLogFolder(scratch / L"log");
            SKEnvironment::Instance()->Setup();
            entered = SKEnvironment::Instance()->BaseFolder();
        }
    }
    for (std::wstring level = deep; level.size() > scratch.Path().size(); level.erase(level.rfind(L'\\')))
        RemoveDirectoryW((L"\\\\?\\" + level).c_str());
    if (entered.empty()) GTEST_SKIP() << "this system refuses a current directory of " << deep.size() << " characters";
    EXPECT_EQ(entered, deep);
}

TEST_F(EnvironmentTest, LogFolderFailureIsLoggedAndSetupStillSucceeds) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteFileBytes(scratch / L"file", "in the way"));
    LogCapture log(kLogName);
    SKEnvironment* environment = SKEnvironment::Instance();
    environment->SetBaseFolder(scratch.Path());
    environment->SetLogFolder(scratch / L"file\\log");
    EXPECT_EQ(environment->Setup(), 1);
    auto lines = log.Matching("SKEnvironment::Setup() create log folder(");
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = "[*] SKEnvironment::Setup() create log folder(" + Narrow(scratch / L"file\\log", CP_ACP) +
                           ") Error=" + std::to_string(ERROR_PATH_NOT_FOUND) + "[SKEnvironment(";
    EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
    // The access layer is still made.
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 1u);
}

TEST_F(EnvironmentTest, NestedSetupOnlyOutermostPairWorks) {
    ScratchFolder scratch;
    SKEnvironment* environment = SKEnvironment::Instance();
    environment->SetBaseFolder(scratch.Path());
    LogCapture log(kLogName);
    EXPECT_EQ(environment->Setup(), 1);
    EXPECT_EQ(environment->Setup(), 1);
    EXPECT_EQ(environment->SetupCount(), 2);
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 1u);

    environment->Teardown();
    EXPECT_EQ(environment->SetupCount(), 1);
    SKApi::Instance();  // still the same access object: no new "Enter Win32 Mode"
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 1u);

    // The balancing tear-down drops the access layer; the next use creates it again. Without the
    // maker's filter driver the deregistration is silent.
    std::size_t before = log.MessageCount();
    environment->Teardown();
    EXPECT_EQ(environment->SetupCount(), 0);
    EXPECT_EQ(log.MessageCount(), before);
    SKApi::Instance();
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 2u);

    // An unbalanced tear-down changes nothing, and the next Setup again does the whole work.
    environment->Teardown();
    EXPECT_EQ(environment->SetupCount(), 0);
    SKApi::Destroy();
    environment->Setup();
    EXPECT_EQ(environment->SetupCount(), 1);
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 3u);
}

TEST_F(EnvironmentTest, SetupUsesTheUserLocale) {
    ScratchFolder scratch;
    setlocale(LC_ALL, "C");
    SKEnvironment::Instance()->SetBaseFolder(scratch.Path());
    SKEnvironment::Instance()->Setup();
    std::string locale = setlocale(LC_ALL, nullptr);
    std::string userDefault = setlocale(LC_ALL, "");
    EXPECT_EQ(locale, userDefault);
    setlocale(LC_ALL, "C");
}

TEST(FilterDriver, DeregistrationRecordBytes) {
    SKFilterDriver::Record record = SKFilterDriver::BuildDeregistrationRecord();
    const unsigned char expected[36] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0, 0, 0, 0, 0,    0,    0,    0,    0, 0, 0, 0, 0,    0,    0,    0,
                                        0, 0, 0, 0};
    ASSERT_EQ(record.size(), 36u);
    EXPECT_EQ(memcmp(record.data(), expected, 36), 0);
    EXPECT_EQ(SKFilterDriver::kDeregisterControlCode, 0xA02844AFu);
    EXPECT_EQ(std::wstring(SKFilterDriver::kDeviceName), L"\\\\.\\QVFILTER");
}

TEST(FilterDriver, MissingDeviceSendsNothing) {
    EXPECT_FALSE(SKFilterDriver::SendDeregistration());
    EXPECT_FALSE(SKFilterDriver::SendDeregistration(L"\\\\.\\TidewashNoSuchDevice"));
}

TEST(FilterDriver, WaitsForAPendingControlCall) {
    // A message pipe's transceive request writes the request and stays pending until the other end
    // answers: the same overlapped path the driver call takes when the driver answers later. The other
    // end answers only after it has read the request, so the call is pending by then whatever the timing.
    const wchar_t pipeName[] = L"\\\\.\\pipe\\tidewash-control-wait-test";
    KernelHandle server(CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 64, 64, 0, nullptr));
    ASSERT_TRUE(server.IsValid()) << GetLastError();
    KernelHandle client(CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(client.IsValid()) << GetLastError();
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(client.Get(), &mode, nullptr, nullptr));
    volatile LONG answered = 0;
    std::string request;
    std::thread otherEnd([&] {
        char bytes[16];
        DWORD got = 0;
        if (ReadFile(client.Get(), bytes, sizeof bytes, &got, nullptr)) request.assign(bytes, got);
        InterlockedExchange(&answered, 1);
        DWORD written = 0;
        WriteFile(client.Get(), "pong", 4, &written, nullptr);
    });
    char ping[] = "ping";
    char reply[16] = {};
    DWORD returned = 0;
    SetLastError(0xDEAD);
    BOOL ok = SKFilterDriver::ControlAndWait(server.Get(), kPipeTransceive, ping, 4, reply, sizeof reply, &returned);
    DWORD error = GetLastError();
    EXPECT_EQ(answered, 1);  // it really waited
    otherEnd.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ("ping", request);
    EXPECT_EQ("pong", std::string(reply, returned));
}

TEST(FilterDriver, ImmediateFailureKeepsItsError) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"plain.bin";
    ASSERT_TRUE(WriteFileBytes(path, "x"));
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(file.IsValid());
    DWORD returned = 0;
    SKFilterDriver::Record record = SKFilterDriver::BuildDeregistrationRecord();
    // A plain file knows nothing of the driver's request.
    BOOL ok = SKFilterDriver::ControlAndWait(file.Get(), SKFilterDriver::kDeregisterControlCode, record.data(), 36,
                                             record.data(), 36, &returned);
    DWORD error = GetLastError();
    EXPECT_FALSE(ok);
    EXPECT_NE(error, 0u);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_IO_PENDING));
}

TEST(SetPrivilege, EnablesAHeldPrivilege) {
    LogCapture log(kLogName);
    EXPECT_TRUE(SKEnvironment::Instance()->SetPrivilege(L"SeBackupPrivilege"));
    EXPECT_EQ(log.Count("SKEnvironment::SetPrivilege("), 0u);

    // Really enabled in the token.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    KernelHandle owned(token);
    LUID backup;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &backup));
    PRIVILEGE_SET query = {};
    query.PrivilegeCount = 1;
    query.Control = PRIVILEGE_SET_ALL_NECESSARY;
    query.Privilege[0].Luid = backup;
    BOOL held = FALSE;
    ASSERT_TRUE(PrivilegeCheck(token, &query, &held));
    EXPECT_TRUE(held);
}

TEST(SetPrivilege, UnknownNameLogsTheLookupError) {
    LogCapture log(kLogName);
    EXPECT_FALSE(SKEnvironment::Instance()->SetPrivilege(L"SeNoSuchPrivilege"));
    auto lines = log.Matching("LookupPrivilegeValue()");
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = "[*] SKEnvironment::SetPrivilege(SeNoSuchPrivilege) LookupPrivilegeValue() Error = " +
                           std::to_string(ERROR_NO_SUCH_PRIVILEGE) + "[SKEnvironment(";
    EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
    EXPECT_FALSE(SKEnvironment::Instance()->SetPrivilege(nullptr));
}

TEST(SetPrivilege, PrivilegeTheTokenLacksIsAFailure) {
    // SeCreateTokenPrivilege belongs to the system account only, never to a user's token.
    LogCapture log(kLogName);
    EXPECT_FALSE(SKEnvironment::Instance()->SetPrivilege(L"SeCreateTokenPrivilege"));
    auto lines = log.Matching("AdjustTokenPrivileges()");
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = "[*] SKEnvironment::SetPrivilege(SeCreateTokenPrivilege) AdjustTokenPrivileges() Error = " +
                           std::to_string(ERROR_NOT_ALL_ASSIGNED);
    EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
}

}  // namespace
