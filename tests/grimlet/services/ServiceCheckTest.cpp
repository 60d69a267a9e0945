// The worm-service check: value reading, one key's examination, the walk over all services, the worm
// signs, and the key unlocker's promise to leave every key as it found it.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "grimlet/common/RegKeyUnlocker.h"
#include "grimlet/common/RegistryValue.h"
#include "grimlet/common/ScopedPrivilege.h"
#include "grimlet/services/ServiceKeyCheck.h"
#include "grimlet/services/ServiceScan.h"
#include "grimlet/services/WormServiceStep.h"
#include "platform/win32/RegistryKey.h"
#include "tests/support/FakeService.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";

// Files whose path says "trusted" stand for DLLs of a trusted signer.
bool FakeSignerTest(const std::wstring& path) { return path.find(L"trusted") != std::wstring::npos; }

bool CanReadKey(const std::wstring& path) {
    RegistryKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path, KEY_READ) == ERROR_SUCCESS;
}

// Everything written to standard output while `action` runs.
template <typename Action>
std::string CaptureStdout(const std::wstring& file, Action action) {
    fflush(stdout);
    int saved = _dup(1);
    int target = _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(target, 1);
    action();
    fflush(stdout);
    _dup2(saved, 1);
    _close(target);
    _close(saved);
    return ReadFileBytes(file);
}

class ServiceCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
        stem_ = UniqueServiceStem(Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()).substr(0, 12).c_str());
    }
    std::wstring Dll(const std::wstring& name, const std::string& bytes = "MZ fake worm dll") {
        std::wstring path = scratch_ / name;
        WriteFileBytes(path, bytes);
        return path;
    }
    ScratchFolder scratch_{L"svc"};
    std::wstring stem_;
};

TEST(ServiceValueTest, ReadsOnlyStringsThatFit) {
    const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + UniqueServiceStem(L"Values");
    FakeService::SetString(path, L"Sz", L"plain");
    FakeService::SetString(path, L"Expand", L"%SystemRoot%\\x.dll", REG_EXPAND_SZ);
    const wchar_t multi[] = L"first\0second\0";
    FakeService::SetValue(path, L"Multi", REG_MULTI_SZ, multi, sizeof multi);
    DWORD number = 7;
    FakeService::SetValue(path, L"Dword", REG_DWORD, &number, sizeof number);
    FakeService::SetString(path, L"TooLong", std::wstring(300, L'a'));
    std::wstring exact(260, L'b');  // fills the buffer exactly, without a terminator
    FakeService::SetValue(path, L"Unterminated", REG_SZ, exact.data(), 520);
    FakeService::SetValue(path, L"OddBytes", REG_SZ, L"abc", 5);

    RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, path, KEY_READ));
    std::wstring text;
    EXPECT_TRUE(ReadServiceString(key.Get(), L"Sz", text));
    EXPECT_EQ(L"plain", text);
    EXPECT_TRUE(ReadServiceString(key.Get(), L"Expand", text));
    EXPECT_EQ(L"%SystemRoot%\\x.dll", text);
    EXPECT_TRUE(ReadServiceString(key.Get(), L"Multi", text));
    EXPECT_EQ(L"first", text);
    EXPECT_FALSE(ReadServiceString(key.Get(), L"Dword", text));
    EXPECT_FALSE(ReadServiceString(key.Get(), L"TooLong", text));
    EXPECT_FALSE(ReadServiceString(key.Get(), L"Missing", text));
    // Windows hands back all 520 bytes; Wine refuses a string without room for its terminator.
    if (ReadServiceString(key.Get(), L"Unterminated", text)) {
        EXPECT_EQ(exact, text);
    }
    EXPECT_TRUE(ReadServiceString(key.Get(), L"OddBytes", text));
    EXPECT_EQ(L"ab", text);
    key.Close();
    FakeService::ForceDelete(path);

    std::wstring expanded;
    ASSERT_TRUE(ExpandServicePath(L"%SystemRoot%\\a.dll", expanded));
    EXPECT_EQ(std::wstring::npos, expanded.find(L'%'));
    EXPECT_FALSE(ExpandServicePath(L"C:\\" + std::wstring(280, L'x'), expanded));

    EXPECT_TRUE(IsNetsvcsImagePath(L"%SystemRoot%\\System32\\SvcHost.EXE -K NetSvcs"));
    EXPECT_FALSE(IsNetsvcsImagePath(L"%SystemRoot%\\system32\\svchost.exe -k LocalService"));
    EXPECT_FALSE(IsNetsvcsImagePath(L"C:\\worm.exe netsvcs"));
}

TEST_F(ServiceCheckTest, ExaminesEachKindOfServiceKey) {
    std::wstring unsignedDll = Dll(L"worm.dll");
    std::wstring trustedDll = Dll(L"trusted.dll");
    FakeService plain(stem_ + L"Plain", kNetsvcs, unsignedDll.c_str());
    FakeService trusted(stem_ + L"Trusted", kNetsvcs, trustedDll.c_str());
    FakeService otherGroup(stem_ + L"Other", L"%SystemRoot%\\system32\\svchost.exe -k LocalService",
                           unsignedDll.c_str());
    FakeService noParameters(stem_ + L"NoParams", kNetsvcs, nullptr);
    FakeService longDll(stem_ + L"LongDll", kNetsvcs, (L"C:\\" + std::wstring(300, L'd')).c_str());
    FakeService wrongType(stem_ + L"WrongType", kNetsvcs, nullptr);
    DWORD number = 1;
    FakeService::SetValue(wrongType.KeyPath(), L"ImagePath", REG_DWORD, &number, sizeof number);
    FakeService::SetValue(wrongType.ParametersPath(), L"ServiceDll", REG_BINARY, "abcd", 4);
    FakeService noImage(stem_ + L"NoImage", kNetsvcs, unsignedDll.c_str());
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, noImage.KeyPath().c_str(), 0, KEY_SET_VALUE, &key);
    RegDeleteValueW(key, L"ImagePath");
    RegCloseKey(key);

    ServiceKeyVerdict verdict = CheckServiceKey(plain.KeyPath(), &FakeSignerTest);
    EXPECT_TRUE(verdict.examined);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(unsignedDll, verdict.dllPath);
    EXPECT_EQ(0, verdict.unlocked);

    for (const FakeService* service : {&trusted, &otherGroup, &noParameters, &wrongType, &noImage}) {
        verdict = CheckServiceKey(service->KeyPath(), &FakeSignerTest);
        EXPECT_TRUE(verdict.examined) << service->Name();
        EXPECT_FALSE(verdict.found) << service->Name();
    }
    // A value that is there and does not fit the check is not a missing one.
    verdict = CheckServiceKey(longDll.KeyPath(), &FakeSignerTest);
    EXPECT_FALSE(verdict.examined);
    EXPECT_EQ(L"its ServiceDll is too long to be checked", verdict.why);
    // Deleted between the enumeration and the examination.
    verdict = CheckServiceKey(L"SYSTEM\\CurrentControlSet\\Services\\" + stem_ + L"Gone", &FakeSignerTest);
    EXPECT_TRUE(verdict.examined);
    EXPECT_FALSE(verdict.found);

    // A registry link where a service key or its Parameters should be is never read through: it cannot be
    // examined, whatever it leads to.
    FakeService linked(stem_ + L"Linked", kNetsvcs, nullptr);
    FakeRegistryLink parameters(linked.ParametersPath(), plain.ParametersPath());
    FakeRegistryLink service(L"SYSTEM\\CurrentControlSet\\Services\\" + stem_ + L"Link", plain.KeyPath());
    ASSERT_TRUE(parameters.Made() && service.Made());
    for (const std::wstring& path : {linked.KeyPath(), L"SYSTEM\\CurrentControlSet\\Services\\" + stem_ + L"Link"}) {
        verdict = CheckServiceKey(path, &FakeSignerTest);
        EXPECT_FALSE(verdict.examined) << Narrow(path);
        EXPECT_FALSE(verdict.found) << Narrow(path);
        EXPECT_NE(std::wstring::npos, verdict.why.find(L"registry link")) << Narrow(verdict.why);
    }
    // The service manager follows a service key that is a link: its target is read, and named, never acted on.
    EXPECT_EQ(L"it is a registry link to \\Registry\\Machine\\" + plain.KeyPath() +
                  L"; not followed; its target is a netsvcs service with the untrusted DLL " + unsignedDll,
              verdict.why);
}

TEST_F(ServiceCheckTest, KeysThatDenyReadingAreExaminedAndHandedBackUnchanged) {
    std::wstring dll = Dll(L"worm.dll");
    std::wstring trustedDll = Dll(L"trusted.dll");
    FakeService deniedKey(stem_ + L"DenyKey", kNetsvcs, dll.c_str());
    FakeService deniedParameters(stem_ + L"DenyParams", kNetsvcs, dll.c_str());
    FakeService deniedTrusted(stem_ + L"DenyTrusted", kNetsvcs, trustedDll.c_str());
    NetsvcsListing listing({deniedKey.Name(), deniedParameters.Name(), deniedTrusted.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(deniedKey.KeyPath()));
    ASSERT_TRUE(FakeService::DenyEverybody(deniedParameters.ParametersPath()));
    ASSERT_TRUE(FakeService::DenyEverybody(deniedTrusted.KeyPath()));
    ASSERT_FALSE(CanReadKey(deniedKey.KeyPath())) << "the prefix does not enforce key access lists";

    const std::wstring keys[] = {deniedKey.KeyPath(), deniedParameters.ParametersPath(), deniedTrusted.KeyPath()};
    std::wstring before[3];
    for (int i = 0; i < 3; ++i) {
        before[i] = FakeService::SecurityAsSddl(keys[i]);
        ASSERT_FALSE(before[i].empty());
    }

    ServiceKeyVerdict verdict = CheckServiceKey(deniedKey.KeyPath(), &FakeSignerTest);
    EXPECT_TRUE(verdict.examined);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(1, verdict.unlocked);
    verdict = CheckServiceKey(deniedParameters.KeyPath(), &FakeSignerTest);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(1, verdict.unlocked);
    verdict = CheckServiceKey(deniedTrusted.KeyPath(), &FakeSignerTest);
    EXPECT_TRUE(verdict.examined);
    EXPECT_FALSE(verdict.found);

    for (int i = 0; i < 3; ++i) EXPECT_EQ(before[i], FakeService::SecurityAsSddl(keys[i])) << keys[i];
    EXPECT_FALSE(CanReadKey(deniedKey.KeyPath()));
    EXPECT_FALSE(CanReadKey(deniedParameters.ParametersPath()));
}

// A key owned by SYSTEM that denies everybody: only taking ownership opens it. Afterwards this process
// must again be unable to read even the key's security (it is not the owner, the denial is back), and
// once the test puts its own owner back, owner and list are exactly what they were.
// Wine 8 does not let the take-ownership privilege open a key for WRITE_OWNER, so there the key would stay
// locked for good; the test runs on Windows only.
TEST_F(ServiceCheckTest, AKeyOwnedBySomeoneElseIsTakenOverAndHandedBack) {
    if (RunningOnWine())
        GTEST_SKIP() << "Wine does not grant WRITE_OWNER through the take-ownership privilege";
    std::wstring dll = Dll(L"worm.dll");
    FakeService service(stem_ + L"System", kNetsvcs, dll.c_str());
    NetsvcsListing listing({service.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());
    std::wstring objectName = L"MACHINE\\" + service.KeyPath();
    PSID originalOwner = nullptr;
    PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoW(objectName.c_str(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                                   &originalOwner, nullptr, nullptr, nullptr, &ownerDescriptor));
    EnableProcessPrivilege(SE_RESTORE_NAME);
    PSID system = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
    DWORD set = SetNamedSecurityInfoW(&objectName[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, system, nullptr,
                                      nullptr, nullptr);
    FreeSid(system);
    ASSERT_EQ(ERROR_SUCCESS, set);
    RegistryKey probe;
    if (probe.Open(HKEY_LOCAL_MACHINE, service.KeyPath(), WRITE_DAC) == ERROR_SUCCESS) {
        LocalFree(ownerDescriptor);
        GTEST_SKIP() << "this system lets a non-owner change a list that denies it";
    }

    ServiceKeyVerdict verdict = CheckServiceKey(service.KeyPath(), &FakeSignerTest);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(1, verdict.unlocked);
    EXPECT_EQ(L"", FakeService::SecurityAsSddl(service.KeyPath())) << "still owned by this process";
    EXPECT_NE(ERROR_SUCCESS, probe.Open(HKEY_LOCAL_MACHINE, service.KeyPath(), READ_CONTROL));

    set = SetNamedSecurityInfoW(&objectName[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, originalOwner, nullptr,
                                nullptr, nullptr);
    LocalFree(ownerDescriptor);
    ASSERT_EQ(ERROR_SUCCESS, set);
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
}

// The ways into denied keys as a test plays them, since Wine refuses every backup open: the backup open
// refused, or granted on a stand-in key, or made on a key that just went; the netsvcs list given; every
// unlock counted (and done for real).
class ScriptedDeniedKeyAccess : public DeniedKeyAccess {
public:
    LONG OpenForBackup(HKEY parent, const std::wstring& name, RegistryKey& key, DWORD& disposition) override {
        disposition = REG_OPENED_EXISTING_KEY;
        if (!vanishing.empty()) {
            FakeService::ForceDelete(vanishing);
            return RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ, nullptr, key.Receive(), &disposition);
        }
        if (standIn.empty()) return ERROR_ACCESS_DENIED;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, standIn.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, key.Receive());
    }
    bool IsNetsvcsListed(const std::wstring& service) override { return listed.count(service) != 0; }
    bool Unlock(const std::wstring& path, std::unique_ptr<RegKeyUnlocker>& unlocker) override {
        unlocks.push_back(path);
        return system.Unlock(path, unlocker);
    }
    std::wstring standIn;    // granted: this key (under HKLM, not followed) is what the open gives
    std::wstring vanishing;  // the key goes just before the open, which makes it anew
    std::set<std::wstring> listed;
    std::vector<std::wstring> unlocks;
    SystemDeniedKeyAccess system;
};

TEST_F(ServiceCheckTest, ADeniedKeyIsReadForBackupElseUnlockedOnlyForANetsvcsService) {
    std::wstring dll = Dll(L"worm.dll");
    FakeService denied(stem_ + L"Denied", kNetsvcs, dll.c_str());
    FakeService twin(stem_ + L"Twin", kNetsvcs, dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(denied.KeyPath()));
    ASSERT_TRUE(FakeService::DenyEverybody(denied.ParametersPath()));
    const std::wstring before = FakeService::SecurityAsSddl(denied.KeyPath());
    const std::wstring parametersBefore = FakeService::SecurityAsSddl(denied.ParametersPath());

    // Granted: read as it is, a worm sign, nothing unlocked, listed or not.
    ScriptedDeniedKeyAccess granted;
    granted.standIn = twin.KeyPath();
    ServiceKeyVerdict verdict = CheckServiceKey(denied.KeyPath(), &FakeSignerTest, granted);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(1, verdict.unlocked);
    EXPECT_TRUE(granted.unlocks.empty());

    // Refused, and the service is not in the netsvcs list: not checked, left shut.
    ScriptedDeniedKeyAccess refused;
    verdict = CheckServiceKey(denied.KeyPath(), &FakeSignerTest, refused);
    EXPECT_FALSE(verdict.examined);
    EXPECT_NE(std::wstring::npos, verdict.why.find(L"not in the netsvcs group")) << Narrow(verdict.why);
    EXPECT_TRUE(refused.unlocks.empty());

    // Refused, listed: the key and its Parameters are unlocked for the check and handed back.
    refused.listed.insert(denied.Name());
    verdict = CheckServiceKey(denied.KeyPath(), &FakeSignerTest, refused);
    EXPECT_TRUE(verdict.found);
    EXPECT_EQ(1, verdict.unlocked);
    EXPECT_TRUE(verdict.securityNotRestored.empty()) << Narrow(verdict.securityNotRestored);
    EXPECT_EQ((std::vector<std::wstring>{denied.KeyPath(), denied.ParametersPath()}), refused.unlocks);
    EXPECT_EQ(before, FakeService::SecurityAsSddl(denied.KeyPath()));
    EXPECT_EQ(parametersBefore, FakeService::SecurityAsSddl(denied.ParametersPath()));
    EXPECT_FALSE(CanReadKey(denied.KeyPath()));

    // What the backup open gives must not be a link.
    FakeRegistryLink link(L"SYSTEM\\CurrentControlSet\\Services\\" + stem_ + L"Link", twin.KeyPath());
    ASSERT_TRUE(link.Made());
    granted.standIn = L"SYSTEM\\CurrentControlSet\\Services\\" + stem_ + L"Link";
    verdict = CheckServiceKey(denied.KeyPath(), &FakeSignerTest, granted);
    EXPECT_FALSE(verdict.examined);
    EXPECT_NE(std::wstring::npos, verdict.why.find(L"registry link")) << Narrow(verdict.why);

    // Gone between the two opens: the key the backup open made goes again, and nothing is found.
    ScriptedDeniedKeyAccess vanished;
    vanished.vanishing = denied.KeyPath();
    verdict = CheckServiceKey(denied.KeyPath(), &FakeSignerTest, vanished);
    EXPECT_TRUE(verdict.examined);
    EXPECT_FALSE(verdict.found);
    EXPECT_FALSE(FakeService::KeyExists(denied.KeyPath()));
}

// The backup privilege is on only inside the scope, and a privilege that was on stays on.
TEST(ScopedPrivilegeTest, PutsThePrivilegeBackAsItWas) {
    auto enabled = [](const wchar_t* name) {
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        LUID luid = {};
        LookupPrivilegeValueW(nullptr, name, &luid);
        PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {{luid, 0}}};
        BOOL on = FALSE;
        PrivilegeCheck(token, &set, &on);
        CloseHandle(token);
        return on != FALSE;
    };
    const bool before = enabled(SE_BACKUP_NAME);
    {
        ScopedPrivilege backup(SE_BACKUP_NAME);
        ASSERT_TRUE(backup.Enabled());
        EXPECT_TRUE(enabled(SE_BACKUP_NAME));
        { ScopedPrivilege again(SE_BACKUP_NAME); }
        EXPECT_TRUE(enabled(SE_BACKUP_NAME)) << "a scope that found it on turned it off";
    }
    EXPECT_EQ(before, enabled(SE_BACKUP_NAME));
}

TEST_F(ServiceCheckTest, UnlockTwiceRestoresTheOriginalList) {
    FakeService service(stem_ + L"Twice", kNetsvcs, nullptr);
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());
    {
        RegKeyUnlocker unlocker(HKEY_LOCAL_MACHINE, service.KeyPath());
        ASSERT_TRUE(unlocker.Unlock());
        EXPECT_TRUE(CanReadKey(service.KeyPath()));
        ASSERT_TRUE(unlocker.Unlock());
    }
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_FALSE(CanReadKey(service.KeyPath()));
}

TEST(RegKeyUnlockerTest, ObjectNamesOfThePredefinedRoots) {
    EXPECT_EQ(L"MACHINE\\SOFTWARE\\x", RegKeyUnlocker::ObjectName(HKEY_LOCAL_MACHINE, L"SOFTWARE\\x"));
    EXPECT_EQ(L"CLASSES_ROOT\\x", RegKeyUnlocker::ObjectName(HKEY_CLASSES_ROOT, L"x"));
    EXPECT_EQ(L"CURRENT_USER\\x", RegKeyUnlocker::ObjectName(HKEY_CURRENT_USER, L"x"));
    EXPECT_EQ(L"USERS\\x", RegKeyUnlocker::ObjectName(HKEY_USERS, L"x"));
    EXPECT_EQ(L"", RegKeyUnlocker::ObjectName(HKEY_CURRENT_CONFIG, L"x"));
    EXPECT_EQ(259u, RegKeyUnlocker::ObjectName(HKEY_LOCAL_MACHINE, std::wstring(400, L'k')).size());
}

TEST_F(ServiceCheckTest, AScanFindsTheWormServicesInOrderAndReportsUncheckableKeys) {
    std::wstring readable = Dll(L"readable.dll");
    std::wstring hidden = Dll(L"hidden.dll");
    std::wstring locked = Dll(L"locked.dll");
    std::wstring denied = Dll(L"denied.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService deniedService(stem_ + L"1Denied", kNetsvcs, denied.c_str());
    FakeService hiddenService(stem_ + L"2Hidden", kNetsvcs, hidden.c_str());
    FakeService lockedService(stem_ + L"3Locked", kNetsvcs, locked.c_str());
    FakeService readableService(stem_ + L"4Readable", kNetsvcs, readable.c_str());
    FakeService otherGroup(stem_ + L"5Other", L"svchost.exe -k LocalService", hidden.c_str());
    FakeService noParameters(stem_ + L"6NoParams", kNetsvcs, nullptr);
    NetsvcsListing listing({deniedService.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(deniedService.KeyPath()));
    std::wstring deniedBefore = FakeService::SecurityAsSddl(deniedService.KeyPath());
    FileHolderProcess holder(locked);
    ASSERT_TRUE(holder.Holding());

    std::vector<ScanRecord> results;
    std::string printed =
        CaptureStdout(scratch_ / L"stdout.txt", [&] { ScanWormServicesWith(results, &FakeSignerTest); });

    std::vector<std::wstring> suspects;
    for (const ServiceEntry& entry : ServiceList())
        if (entry.keyPath.find(stem_) != std::wstring::npos) suspects.push_back(entry.keyPath);
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    std::vector<std::wstring> expectedSuspects = {deniedService.KeyPath(), hiddenService.KeyPath(),
                                                  lockedService.KeyPath(), readableService.KeyPath()};
    std::vector<std::wstring> sortedSuspects = suspects;
    std::sort(sortedSuspects.begin(), sortedSuspects.end());
    EXPECT_EQ(expectedSuspects, sortedSuspects);

    std::vector<const ScanRecord*> ours;
    for (const ScanRecord& record : results)
        if (record.kind == kScanRecordWormService && record.detail.find(stem_) != std::wstring::npos)
            ours.push_back(&record);
    ASSERT_EQ(3u, ours.size());
    // The held DLL could not be read: its signer is unknown, and a note says so.
    std::size_t lockedNotes = 0;
    for (const ScanRecord& record : results)
        if (record.kind == kScanRecordNote && record.detail == locked) ++lockedNotes;
    EXPECT_EQ(1u, lockedNotes);
    // Records follow the service list; the readable DLL is a suspect without a sign.
    std::vector<std::wstring> recordKeys;
    for (const ScanRecord* record : ours) recordKeys.push_back(record->service->keyPath);
    std::vector<std::wstring> expectedOrder;
    for (const std::wstring& key : suspects)
        if (key != readableService.KeyPath()) expectedOrder.push_back(key);
    EXPECT_EQ(expectedOrder, recordKeys);
    for (const ScanRecord* record : ours) {
        EXPECT_EQ(kScanRecordWormService, record->kind);
        EXPECT_EQ(L"GRIMLET服务(隐藏注册表):", record->title);
        EXPECT_EQ(L"服务:[" + record->service->keyPath + L"] 文件:[" + record->service->dllPath + L"]",
                  record->detail);
    }
    for (const ServiceEntry& entry : ServiceList()) {
        if (entry.keyPath == deniedService.KeyPath()) {
            EXPECT_EQ(WormSign::KeyDeniedReading, WormSignOf(entry));
        }
        if (entry.keyPath == hiddenService.KeyPath()) {
            EXPECT_EQ(WormSign::HiddenReadOnlyDll, WormSignOf(entry));
        }
        if (entry.keyPath == lockedService.KeyPath()) {
            EXPECT_EQ(WormSign::LockedDll, WormSignOf(entry));
        }
        if (entry.keyPath == readableService.KeyPath()) {
            EXPECT_EQ(WormSign::None, WormSignOf(entry));
        }
    }
    EXPECT_EQ(deniedBefore, FakeService::SecurityAsSddl(deniedService.KeyPath()));
    EXPECT_EQ(std::string::npos, printed.find(Narrow(stem_))) << printed;
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// On 64-bit Windows a netsvcs service host is a 64-bit process and loads its DLL from the native System32,
// while the 32-bit plug-in is shown SysWOW64 under that name. Each DLL here has a SysWOW64 namesake that
// shows the opposite sign; the signs must be those of the native file.
TEST_F(ServiceCheckTest, TheSignsAreThoseOfTheFileTheServiceHostLoads) {
    const std::wstring hidden = stem_ + L"Hid.dll", locked = stem_ + L"Lck.dll", plain = stem_ + L"Pln.dll";
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
    SystemFolderFile nativeHidden(SystemFolderFile::kNativeSystem32, hidden, "MZ worm", hiddenReadOnly);
    SystemFolderFile nativeLocked(SystemFolderFile::kNativeSystem32, locked, "MZ worm");
    SystemFolderFile nativePlain(SystemFolderFile::kNativeSystem32, plain, "MZ plain");
    SystemFolderFile namesakeHidden(SystemFolderFile::kSysWow64, hidden, "MZ namesake");
    SystemFolderFile namesakeLocked(SystemFolderFile::kSysWow64, locked, "MZ namesake");
    SystemFolderFile namesakePlain(SystemFolderFile::kSysWow64, plain, "MZ namesake", hiddenReadOnly);
    for (const SystemFolderFile* file : {&nativeHidden, &nativeLocked, &nativePlain, &namesakeHidden,
                                         &namesakeLocked, &namesakePlain})
        ASSERT_TRUE(file->Written()) << Narrow(file->Path());
    FileHolderProcess holder(nativeLocked.Path());
    ASSERT_TRUE(holder.Holding());

    ServiceEntry entry;
    entry.dllPath = SystemFolderFile::ExpandedPath(hidden);
    EXPECT_EQ(WormSign::HiddenReadOnlyDll, WormSignOf(entry));
    entry.dllPath = SystemFolderFile::ExpandedPath(locked);
    EXPECT_EQ(WormSign::LockedDll, WormSignOf(entry));
    entry.dllPath = SystemFolderFile::ExpandedPath(plain);
    EXPECT_EQ(WormSign::None, WormSignOf(entry));
    // The checks leave this thread's view as it was.
    EXPECT_EQ(IsI686Tier() ? "MZ namesake" : "MZ plain", ReadFileBytes(SystemFolderFile::ExpandedPath(plain)));
}

// A denying key whose list is already as large as a list can be: the opened copy, with one more entry,
// cannot be built. The unlock must fail and leave the key exactly as it was instead of opening it to
// everybody, and the scan names the key.
TEST_F(ServiceCheckTest, AListThatCannotBeRebuiltLeavesTheKeyClosed) {
    std::wstring dll = Dll(L"worm.dll");
    FakeService service(stem_ + L"Full", kNetsvcs, dll.c_str());
    NetsvcsListing listing({service.Name()});
    {
        const DWORD largest = 0xFFFC;
        std::vector<BYTE> aclBuffer(largest);
        auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
        ASSERT_TRUE(InitializeAcl(acl, largest, ACL_REVISION));
        ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone));
        while (AddAccessAllowedAce(acl, ACL_REVISION, KEY_QUERY_VALUE, everyone)) {
        }
        FreeSid(everyone);
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, service.KeyPath().c_str(), 0, WRITE_DAC, &key));
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        LONG set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, set);
    }
    ASSERT_FALSE(CanReadKey(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());

    RegKeyUnlocker unlocker(HKEY_LOCAL_MACHINE, service.KeyPath());
    EXPECT_FALSE(unlocker.Unlock());
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_FALSE(CanReadKey(service.KeyPath()));

    std::vector<ServiceEntry> entries;
    std::vector<UncheckedKey> unchecked;
    std::string printed =
        CaptureStdout(scratch_ / L"stdout.txt", [&] { CheckServices(entries, &FakeSignerTest, unchecked); });
    EXPECT_NE(std::string::npos,
              printed.find("The key " + Narrow(service.KeyPath(), CP_ACP) + " cannot be checked!\n"))
        << printed;
    // Named with its reason, for the report.
    bool named = false;
    for (const UncheckedKey& key : unchecked)
        named = named || (key.path == service.KeyPath() && key.why.find(L"denies reading") != std::wstring::npos);
    EXPECT_TRUE(named);
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
}

}  // namespace
