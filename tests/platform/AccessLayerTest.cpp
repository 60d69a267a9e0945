#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/access/LongPath.h"
#include "platform/access/SKApi.h"
#include "platform/access/SKSmartFD.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const char kLogName[] = "access_layer_test.log";

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

std::string ReadAll(SmartFD& file, DWORD bufferSize, std::vector<DWORD>* blocks = nullptr) {
    std::vector<char> buffer(bufferSize);
    std::string all;
    for (;;) {
        DWORD got = 0xDEAD;
        if (!file.Read(buffer.data(), bufferSize, &got)) break;
        if (blocks) blocks->push_back(got);
        if (got == 0) break;
        all.append(buffer.data(), got);
    }
    return all;
}

// An access mode that refuses every normal open and counts what reaches its lock-open entries,
// standing in for a mode that really can get past a sharing lock.
class LockOnlyFile : public SKWinApiFile {
public:
    HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE OpenLockFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                         DWORD flags, HANDLE templateFile) override {
        ++lockOpens;
        lastShare = share;
        return ::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, security, disposition, flags,
                             templateFile);
    }
    BOOL CloseLockFile(HANDLE handle) override {
        ++lockCloses;
        return ::CloseHandle(handle);
    }
    BOOL CloseHandle(HANDLE handle) override {
        ++plainCloses;
        return SKWinApiFile::CloseHandle(handle);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override {
        ++reads;
        return SKWinApiFile::ReadFile(file, buffer, toRead, read, overlapped);
    }
    DWORD GetFileSize(HANDLE file, LPDWORD high) override {
        ++sizes;
        return SKWinApiFile::GetFileSize(file, high);
    }
    int lockOpens = 0, lockCloses = 0, plainCloses = 0, reads = 0, sizes = 0;
    DWORD lastShare = 0;
};

// The table slot of a virtual operation, read from its member pointer (GCC's C++ ABI: the table offset
// in bytes plus one).
template <typename Member>
std::ptrdiff_t SlotOf(Member member) {
    struct {
        std::uintptr_t pointer;
        std::ptrdiff_t adjust;
    } raw;
    static_assert(sizeof(Member) == sizeof raw, "member pointer layout");
    std::memcpy(&raw, &member, sizeof raw);
    return static_cast<std::ptrdiff_t>((raw.pointer - 1) / sizeof(void*));
}

TEST(SKApi, FileInterfaceSlotOrderIsFixed) {
    // Another access mode may be built apart from this one: the order is part of the interface.
    EXPECT_EQ(SlotOf(&SKApiFile::CreateFileW), 0);
    EXPECT_EQ(SlotOf(&SKApiFile::CloseHandle), 1);
    EXPECT_EQ(SlotOf(&SKApiFile::OpenLockFileW), 2);
    EXPECT_EQ(SlotOf(&SKApiFile::CloseLockFile), 3);
    EXPECT_EQ(SlotOf(&SKApiFile::ReadFile), 4);
    EXPECT_EQ(SlotOf(&SKApiFile::SetFilePointer), 5);
    EXPECT_EQ(SlotOf(&SKApiFile::GetFileSize), 6);
    EXPECT_EQ(SlotOf(&SKApiFile::DeleteFileW), 7);
    EXPECT_EQ(SlotOf(&SKApiFile::LowLevelQuery), 8);
    EXPECT_EQ(SlotOf(&SKApiFile::GetFileAttributesW), 9);
    EXPECT_EQ(SlotOf(&SKApiFile::CopyFileW), 10);
    EXPECT_EQ(SlotOf(&SKApiFile::MoveFileW), 11);
    EXPECT_EQ(SlotOf(&SKApiFile::FindFirstFileW), 12);
    EXPECT_EQ(SlotOf(&SKApiFile::FindNextFileW), 13);
    EXPECT_EQ(SlotOf(&SKApiFile::FindClose), 14);
    EXPECT_EQ(SlotOf(&SKApiFile::RemoveFileW), 15);
}

TEST(SKApi, RegistryInterfaceSlotOrderFollowsTheDestructor) {
    // GCC gives the virtual destructor two entries (complete and deleting); the operations follow it.
    const std::ptrdiff_t first = SlotOf(&SKApiRegistry::RegCloseKey);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegDeleteKeyW), first + 1);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegDeleteValueW), first + 2);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegCreateKeyExW), first + 3);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegOpenKeyExW), first + 4);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegEnumKeyExW), first + 5);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegEnumKeyW), first + 6);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegEnumValueW), first + 7);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegQueryValueExW), first + 8);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegQueryInfoKeyW), first + 9);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegSetValueExW), first + 10);
    EXPECT_EQ(SlotOf(&SKApiRegistry::RegRestoreKeyW), first + 11);
}

TEST(SKApi, CreatedOnFirstUseAndAgainAfterDestroy) {
    SKApi::Destroy();
    LogCapture log(kLogName);
    SKApi* first = SKApi::Instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SKApi::Instance(), first);
    ASSERT_NE(first->file, nullptr);
    ASSERT_NE(first->registry, nullptr);
    EXPECT_EQ(log.Matching("[.] Enter Win32 Mode[SKApi(").size(), 1u);

    SKApi::Destroy();
    SKApi::Destroy();  // a second tear-down finds nothing to destroy
    ASSERT_NE(SKApi::Instance(), nullptr);
    EXPECT_EQ(log.Count("Enter Win32 Mode"), 2u);
}

TEST(SKApi, Win32ModeKeepsResultsAndLastError) {
    ScratchFolder scratch;
    SKApiFile* file = SKApi::Instance()->file;
    std::wstring missing = scratch / L"missing.bin";

    SetLastError(0);
    EXPECT_EQ(file->CreateFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(file->OpenLockFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(file->RemoveFileW(missing.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(file->GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file->LowLevelQuery(0x1234), 0u);

    // Create, copy, move, list and delete through the layer.
    std::wstring a = scratch / L"a.txt", b = scratch / L"b.txt", c = scratch / L"c.txt";
    HANDLE created = file->CreateFileW(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file->CloseHandle(created));
    EXPECT_TRUE(file->CopyFileW(a.c_str(), b.c_str(), TRUE));
    EXPECT_FALSE(file->CopyFileW(a.c_str(), b.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_TRUE(file->MoveFileW(b.c_str(), c.c_str()));

    WIN32_FIND_DATAW found;
    HANDLE find = file->FindFirstFileW((scratch.Path() + L"\\*.txt").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int names = 1;
    while (file->FindNextFileW(find, &found)) ++names;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(file->FindClose(find));
    EXPECT_EQ(names, 2);

    EXPECT_TRUE(file->DeleteFileW(a.c_str()));
    EXPECT_TRUE(file->RemoveFileW(c.c_str()));
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(c));
}

TEST(SKApi, RegistryOperationsRoundTrip) {
    SKApiRegistry* registry = SKApi::Instance()->registry;
    const wchar_t parentPath[] = L"Software\\Tidewash-access-layer-test";
    HKEY parent = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(registry->RegCreateKeyExW(HKEY_CURRENT_USER, parentPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &parent, &disposition),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    ASSERT_EQ(registry->RegCreateKeyExW(parent, L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(registry->RegCloseKey(child), ERROR_SUCCESS);

    const wchar_t text[] = L"值 value";
    ASSERT_EQ(registry->RegSetValueExW(parent, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    wchar_t back[32] = {};
    DWORD type = 0, size = sizeof back;
    ASSERT_EQ(registry->RegQueryValueExW(parent, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(back), text);

    DWORD subKeys = 0, values = 0;
    EXPECT_EQ(registry->RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(values, 1u);

    wchar_t name[64];
    DWORD nameLength = 64;
    EXPECT_EQ(registry->RegEnumKeyExW(parent, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"child");
    EXPECT_EQ(registry->RegEnumKeyW(parent, 0, name, 64), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"child");
    EXPECT_EQ(registry->RegEnumKeyW(parent, 1, name, 64), ERROR_NO_MORE_ITEMS);
    nameLength = 64;
    EXPECT_EQ(registry->RegEnumValueW(parent, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Name");

    EXPECT_EQ(registry->RegDeleteValueW(parent, L"Name"), ERROR_SUCCESS);
    EXPECT_EQ(registry->RegDeleteValueW(parent, L"Name"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry->RegDeleteKeyW(parent, L"child"), ERROR_SUCCESS);
    EXPECT_EQ(registry->RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_EQ(registry->RegDeleteKeyW(HKEY_CURRENT_USER, parentPath), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(registry->RegOpenKeyExW(HKEY_CURRENT_USER, parentPath, 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST(SmartFD, ReadsWholeFileInBlocksOf256KiB) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"data.bin";
    const std::string bytes = Pattern(2 * SmartFD::kBlockSize + 10);
    ASSERT_TRUE(WriteFileBytes(path, bytes));

    SmartFD file(path.c_str());
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.LockOpened());
    EXPECT_EQ(file.LastError(), 0u);
    EXPECT_EQ(file.Size(), bytes.size());
    std::vector<DWORD> blocks;
    EXPECT_EQ(ReadAll(file, 2 * SmartFD::kBlockSize, &blocks), bytes);  // a bigger buffer still reads 256 KiB
    EXPECT_EQ(blocks, (std::vector<DWORD>{SmartFD::kBlockSize, SmartFD::kBlockSize, 10, 0}));
}

TEST(SmartFD, SmallBufferIsNeverOverrun) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"data.bin";
    const std::string bytes = Pattern(1000);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    SmartFD file(path.c_str());
    std::vector<DWORD> blocks;
    EXPECT_EQ(ReadAll(file, 400, &blocks), bytes);
    EXPECT_EQ(blocks, (std::vector<DWORD>{400, 400, 200, 0}));
}

TEST(SmartFD, EmptyFileIsValidWithSizeZero) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"empty.bin";
    ASSERT_TRUE(WriteFileBytes(path, ""));
    SmartFD file(path.c_str());
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_EQ(ReadAll(file, SmartFD::kBlockSize), "");
}

TEST(SmartFD, LockedFileLogsBothWarningsAndStaysInvalid) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"locked.bin";
    ASSERT_TRUE(WriteFileBytes(path, "held"));
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    LogCapture log(kLogName);
    {
        SmartFD file(path.c_str());
        EXPECT_FALSE(file.IsValid());
        EXPECT_TRUE(file.LockOpened());
        EXPECT_EQ(file.LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(holder);

    std::string narrow = Narrow(path, CP_ACP);
    auto first = log.Matching("SmartFD::SmartFD() CreateFileW(");
    auto second = log.Matching("SmartFD::SmartFD() OpenLockFileW(");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(first[0].find("[W] SmartFD::SmartFD() CreateFileW(" + narrow + ") Error=32["), std::string::npos)
        << first[0];
    EXPECT_NE(second[0].find("[W] SmartFD::SmartFD() OpenLockFileW(" + narrow + ") Error=32["), std::string::npos)
        << second[0];
}

TEST(SmartFD, MissingFileKeepsTheFirstError) {
    ScratchFolder scratch;
    SmartFD file((scratch / L"missing.bin").c_str());
    EXPECT_FALSE(file.IsValid());
    EXPECT_EQ(file.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SmartFD, LockOpenedHandleIsReadAndClosedThroughTheAccessMode) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"data.bin";
    const std::string bytes = Pattern(SmartFD::kBlockSize + 3);
    ASSERT_TRUE(WriteFileBytes(path, bytes));

    LockOnlyFile mode;
    {
        AccessModeSwap swap(&mode);
        {
            SmartFD file(path.c_str());
            ASSERT_TRUE(file.IsValid());
            EXPECT_TRUE(file.LockOpened());
            EXPECT_EQ(file.LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(file.Size(), bytes.size());
            EXPECT_EQ(ReadAll(file, SmartFD::kBlockSize), bytes);
        }
    }
    EXPECT_EQ(mode.lockOpens, 1);
    EXPECT_EQ(mode.lastShare, static_cast<DWORD>(FILE_SHARE_READ));  // the same arguments as the normal open
    EXPECT_EQ(mode.sizes, 1);
    EXPECT_EQ(mode.reads, 3);  // full block, 3 bytes, end
    EXPECT_EQ(mode.lockCloses, 1);
    EXPECT_EQ(mode.plainCloses, 0);
}

TEST(EnsureLongPathPrefix, PrefixesFrom260CharactersOnce) {
    std::wstring base = L"C:\\";
    std::wstring p259 = base + std::wstring(259 - base.size(), L'a');
    std::wstring p260 = base + std::wstring(260 - base.size(), L'a');
    ASSERT_EQ(p259.size(), 259u);
    EXPECT_EQ(EnsureLongPathPrefix(p259), p259);
    EXPECT_EQ(EnsureLongPathPrefix(p260), L"\\\\?\\" + p260);
    EXPECT_EQ(EnsureLongPathPrefix(EnsureLongPathPrefix(p260)), L"\\\\?\\" + p260);
    std::wstring inside = L"C:\\x\\\\?\\" + std::wstring(300, L'b');  // holds the prefix, though not in front
    EXPECT_EQ(EnsureLongPathPrefix(inside), inside);
    EXPECT_EQ(EnsureLongPathPrefix(L""), L"");
}

TEST(EnsureLongPathPrefix, SharePathsTakeTheUncForm) {
    std::wstring share = L"\\\\server\\share\\" + std::wstring(260, L'c');
    EXPECT_EQ(EnsureLongPathPrefix(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(260, L'c'));
    std::wstring device = L"\\\\.\\C:\\" + std::wstring(260, L'd');
    EXPECT_EQ(EnsureLongPathPrefix(device), device);
}

TEST(EnsureLongPathPrefix, PrefixedPathReallyOpens) {
    ScratchFolder scratch;
    std::wstring folder = scratch.Path();
    while (folder.size() < 250) {
        folder += L"\\" + std::wstring(40, L'n');
        ASSERT_TRUE(CreateDirectoryW(EnsureLongPathPrefix(folder).c_str(), nullptr)) << GetLastError();
    }
    std::wstring path = folder + L"\\" + std::wstring(300 - folder.size(), L'f');
    ASSERT_GE(path.size(), 260u);
    std::wstring prefixed = EnsureLongPathPrefix(path);
    HANDLE made = CreateFileW(prefixed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(made);
    {
        SmartFD file(prefixed.c_str());
        EXPECT_TRUE(file.IsValid());
    }
    // The scratch folder's own clean-up uses short paths: take the long part down here.
    EXPECT_TRUE(DeleteFileW(prefixed.c_str()));
    while (folder.size() > scratch.Path().size()) {
        RemoveDirectoryW(EnsureLongPathPrefix(folder).c_str());
        folder.erase(folder.rfind(L'\\'));
    }
}

}  // namespace
