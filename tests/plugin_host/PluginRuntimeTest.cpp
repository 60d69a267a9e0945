#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/access/SKApi.h"
#include "platform/system/SKEnvironment.h"
#include "plugin_host/SKPluginRuntime.h"
#include "tests/plugin_host/RuntimeProbe.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// Stands in for the plug-in manager: accepts one general handler and hands out the runtime.
class OneHandlerHelper final : public IPluginHelper {
public:
    int SK_PLUGIN_CALL Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtime) override {
        void* general = nullptr;
        if (!handler->QueryInterface(kInterfacePluginGeneralHandler, &general)) return 0;
        handler_ = static_cast<IPluginGeneralHandler*>(general);
        if (!handler_->Initialize()) return 0;
        *pluginId = 1;
        *runtime = &runtime_;
        return 1;
    }
    void SK_PLUGIN_CALL RegisterTypeName(const wchar_t*, int* typeId) override { *typeId = kFirstRegisteredTypeId; }
    ~OneHandlerHelper() override {
        if (handler_) handler_->Release();
    }

    SKPluginRuntime& Runtime() { return runtime_; }

private:
    SKPluginRuntime runtime_;
    IPluginGeneralHandler* handler_ = nullptr;
};

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The probe plug-in, loaded once per process (a plug-in sets itself up only once).
class ProbePlugin {
public:
    static ProbePlugin& Get() {
        static ProbePlugin* plugin = new ProbePlugin();
        return *plugin;
    }
    bool Loaded() const { return factoryResult == 1; }

    OneHandlerHelper helper;
    HMODULE module = nullptr;
    int factoryResult = 0;
    int secondFactoryResult = 0;

private:
    ProbePlugin() {
        module = LoadLibraryW((BinFolder() + L"\\runtime_probe_plugin.dll").c_str());
        if (!module) return;
        auto factory = Export<SK_GetPluginInstanceFn>(module, kPluginFactoryExportName);
        if (!factory) return;
        factoryResult = factory(&helper);
        secondFactoryResult = factory(&helper);
    }
};

class PluginRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.Loaded()) << "runtime_probe_plugin.dll did not set up (" << GetLastError() << ")";
    }
    template <typename Fn>
    Fn Probe(const char* name) {
        Fn fn = Export<Fn>(plugin_.module, name);
        EXPECT_NE(fn, nullptr) << name;
        return fn;
    }
    SKPluginRuntime& Runtime() { return plugin_.helper.Runtime(); }

    ProbePlugin& plugin_ = ProbePlugin::Get();
};

TEST_F(PluginRuntimeTest, PluginReceivesTheRuntimeThroughTheContract) {
    EXPECT_EQ(plugin_.secondFactoryResult, 0);
    IPluginRuntimeV1* expected = &Runtime();
    EXPECT_EQ(Probe<ProbeRegisteredRuntimeFn>("ProbeRegisteredRuntime")(), static_cast<IPluginUnknown*>(expected));
    // The plug-in asked in lower case and got the runtime itself.
    EXPECT_EQ(Probe<ProbeRuntimeFn>("ProbeRuntime")(), static_cast<void*>(expected));
    EXPECT_GE(Runtime().ReferenceCount(), 1);
}

TEST_F(PluginRuntimeTest, BothVersionNamesAnswerCaseIgnored) {
    auto query = Probe<ProbeQueryInterfaceFn>("ProbeQueryInterface");
    IPluginRuntimeV1* self = &Runtime();
    LONG before = Runtime().ReferenceCount();
    const wchar_t* names[] = {L"interface_plugin_runtime_ver_1", L"Interface_Plugin_Runtime_Ver_0",
                              L"INTERFACE_PLUGIN_RUNTIME_VER_0", L"INTERFACE_PLUGIN_RUNTIME_VER_1"};
    for (const wchar_t* name : names) {
        void* out = nullptr;
        EXPECT_EQ(query(name, &out), 1) << Narrow(name);
        EXPECT_EQ(out, static_cast<void*>(self)) << Narrow(name);
    }
    EXPECT_EQ(Runtime().ReferenceCount(), before + 4);

    const wchar_t* others[] = {L"INTERFACE_PLUGIN_RUNTIME_VER_0 ", L" INTERFACE_PLUGIN_RUNTIME_VER_1",
                               L"INTERFACE_PLUGIN_RUNTIME_VER_2",  L"INTERFACE_PLUGIN_RUNTIME_VER_",
                               L"INTERFACE_PLUGIN_GENERAL_HANDLER", L""};
    for (const wchar_t* name : others) {
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(query(name, &out), 0) << "[" << Narrow(name) << "]";
        EXPECT_EQ(out, nullptr) << "[" << Narrow(name) << "]";
    }
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Runtime().QueryInterface(nullptr, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Runtime().QueryInterface(kInterfacePluginRuntimeV1, nullptr), 0);  // nowhere to store: no reference
    EXPECT_EQ(Runtime().ReferenceCount(), before + 4);
}

TEST_F(PluginRuntimeTest, ReleaseLeavesTheRuntimeWorking) {
    Probe<ProbeReleaseFn>("ProbeRelease")(50);
    EXPECT_EQ(Probe<ProbeIsWow64Fn>("ProbeIsWow64")() != 0, IsI686Tier());
    EXPECT_EQ(std::wstring(Runtime().GetName()), L"");
}

TEST_F(PluginRuntimeTest, IsWow64MatchesTheProcess) {
    // The prefix is 64-bit: the i686 build runs under WOW64, the x86_64 build does not.
    int answer = Probe<ProbeIsWow64Fn>("ProbeIsWow64")();
    if (IsI686Tier())
        EXPECT_NE(answer, 0);
    else
        EXPECT_EQ(answer, 0);
    EXPECT_EQ(Probe<ProbeLowLevelModeFn>("ProbeLowLevelMode")(), 0);
}

TEST_F(PluginRuntimeTest, FoldersAreTheEnvironmentsOwnTexts) {
    SKEnvironment* environment = SKEnvironment::Instance();
    auto folders = Probe<ProbeFoldersFn>("ProbeFolders");
    const wchar_t* seen[5] = {};

    // Before set-up: empty texts, never null.
    ASSERT_EQ(environment->SetupCount(), 0);
    folders(seen);
    for (const wchar_t* folder : seen) {
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(folder[0], L'\0');
    }

    ScratchFolder scratch;
    environment->SetBaseFolder(scratch.Path());
    environment->Setup();
    folders(seen);
    EXPECT_EQ(std::wstring(seen[0]), scratch.Path());
    EXPECT_EQ(std::wstring(seen[1]), scratch / L"pattern");
    EXPECT_EQ(std::wstring(seen[2]), scratch / L"profile");
    EXPECT_EQ(std::wstring(seen[3]), scratch / L"log");
    ASSERT_NE(seen[4], nullptr);
    EXPECT_EQ(std::wstring(seen[4]), L"");
    // Pointers into the environment's storage, not copies.
    EXPECT_EQ(seen[0], environment->BaseFolder().c_str());
    EXPECT_EQ(seen[3], environment->LogFolder().c_str());
    environment->Teardown();
    environment->SetBaseFolder(L"");
    environment->SetPatternFolder(L"");
    environment->SetLogFolder(L"");
}

TEST_F(PluginRuntimeTest, TableSlotsAreInContractOrder) {
    // Operations without arguments, called by slot number as a plug-in built from the table sees them.
    auto slot = Probe<ProbeCallSlotFn>("ProbeCallSlot");
    ScratchFolder scratch;
    SKEnvironment* environment = SKEnvironment::Instance();
    environment->SetBaseFolder(scratch.Path());
    environment->SetPatternFolder(scratch / L"p");
    environment->SetLogFolder(scratch / L"l");
    environment->Setup();
    EXPECT_EQ(static_cast<int>(slot(0)), 0);                                              // GetId
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(slot(1))), L"");              // GetName
    EXPECT_EQ(static_cast<int>(slot(4)) != 0, IsI686Tier());                              // IsWow64
    EXPECT_EQ(static_cast<int>(slot(5)), 0);                                              // GetLowLevelMode
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(slot(6)), environment->BaseFolder().c_str());
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(slot(7)), environment->PatternFolder().c_str());
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(slot(8)), environment->ProfileFolder().c_str());
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(slot(9)), environment->LogFolder().c_str());
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(slot(37)), environment->ExtraFolder().c_str());  // GetExtraFolder
    environment->Teardown();
    environment->SetBaseFolder(L"");
    environment->SetPatternFolder(L"");
    environment->SetLogFolder(L"");
}

TEST_F(PluginRuntimeTest, LockOpenReadsExactlyAsTheNormalOpen) {
    ScratchFolder scratch;
    std::wstring path = scratch / L"data.bin";
    std::string bytes(100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    auto read = Probe<ProbeReadFileFn>("ProbeReadFile");

    std::string viaOpen(bytes.size() + 10, 'x'), viaLockOpen(bytes.size() + 10, 'y');
    DWORD openRead = 0, openSize = 0, openError = 0, lockRead = 0, lockSize = 0, lockError = 0;
    ASSERT_EQ(read(0, path.c_str(), &viaOpen[0], static_cast<DWORD>(viaOpen.size()), &openRead, &openSize, &openError), 1)
        << openError;
    ASSERT_EQ(read(1, path.c_str(), &viaLockOpen[0], static_cast<DWORD>(viaLockOpen.size()), &lockRead, &lockSize,
                   &lockError),
              1)
        << lockError;
    EXPECT_EQ(openRead, bytes.size());
    EXPECT_EQ(lockRead, openRead);
    EXPECT_EQ(lockSize, openSize);
    EXPECT_EQ(openSize, bytes.size());
    EXPECT_EQ(viaOpen.substr(0, openRead), bytes);
    EXPECT_EQ(viaLockOpen.substr(0, lockRead), bytes);

    // Both handles were closed: the file can now be deleted.
    EXPECT_TRUE(DeleteFileW(path.c_str()));

    // Refused the same way, with the same error, when another holder locks the file.
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read(0, path.c_str(), &viaOpen[0], 10, &openRead, &openSize, &openError), 0);
    EXPECT_EQ(read(1, path.c_str(), &viaLockOpen[0], 10, &lockRead, &lockSize, &lockError), 0);
    CloseHandle(holder);
    EXPECT_EQ(openError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(lockError, openError);
}

TEST_F(PluginRuntimeTest, RegistryKeyIsCreatedReadAndDeleted) {
    const wchar_t keyPath[] = L"Software\\Tidewash-runtime-probe";
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(keyPath) + L"\\child").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath);

    ASSERT_EQ(Probe<ProbeRegistryCreateFn>("ProbeRegistryCreate")(keyPath, L"探针 probe"), 0);
    // Seen from outside the runtime.
    wchar_t outside[64] = {};
    DWORD type = 0, size = sizeof outside;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"Probe", nullptr, &type, reinterpret_cast<BYTE*>(outside), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(std::wstring(outside), L"探针 probe");

    wchar_t back[64] = {};
    EXPECT_EQ(Probe<ProbeRegistryReadFn>("ProbeRegistryRead")(keyPath, back, 64), 0);
    EXPECT_EQ(std::wstring(back), L"探针 probe");

    EXPECT_EQ(Probe<ProbeRegistryDeleteFn>("ProbeRegistryDelete")(keyPath), 0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(PluginRuntimeTest, FileOperationsGoThroughTheLayer) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteFileBytes(scratch / L"source.txt", "source"));
    EXPECT_EQ(Probe<ProbeFileOperationsFn>("ProbeFileOperations")(scratch.Path().c_str()), 0);
    EXPECT_FALSE(FileExists(scratch / L"source.txt"));
    EXPECT_FALSE(FileExists(scratch / L"moved.txt"));
}

// A registry mode that records what reaches its restore entry.
class RecordingRegistry : public SKWinApiRegistry {
public:
    LONG RegRestoreKeyW(HKEY key, LPCWSTR fileName, DWORD flags) override {
        seenKey = key;
        seenFile = fileName;
        seenFlags = flags;
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    HKEY seenKey = nullptr;
    LPCWSTR seenFile = nullptr;
    DWORD seenFlags = 0;
};

TEST_F(PluginRuntimeTest, RestoreKeyReachesTheRegistryModeUnchanged) {
    // Wine's RegRestoreKeyW does nothing and reports success, so a recording mode shows the forwarding.
    RecordingRegistry recording;
    SKApi* api = SKApi::Instance();
    SKApiRegistry* saved = api->registry;
    api->registry = &recording;
    const wchar_t hive[] = L"C:\\hive.dat";
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    LONG result = Runtime().RegRestoreKeyW(key, hive, REG_FORCE_RESTORE);
    api->registry = saved;
    EXPECT_EQ(result, ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(recording.seenKey, key);
    EXPECT_EQ(recording.seenFile, hive);  // the plug-in's own pointer, not a copy
    EXPECT_EQ(recording.seenFlags, static_cast<DWORD>(REG_FORCE_RESTORE));
}

// An access mode that answers attribute queries itself, to see where the runtime's calls land.
class CountingFile : public SKWinApiFile {
public:
    DWORD GetFileAttributesW(LPCWSTR) override {
        ++calls;
        return FILE_ATTRIBUTE_SYSTEM;
    }
    int calls = 0;
};

TEST_F(PluginRuntimeTest, ForwardingFindsTheCurrentAccessObjectOnEveryCall) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteFileBytes(scratch / L"plain.txt", "x"));
    std::wstring path = scratch / L"plain.txt";

    CountingFile counting;
    SKApi* api = SKApi::Instance();
    SKApiFile* saved = api->file;
    api->file = &counting;
    EXPECT_EQ(Runtime().GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(counting.calls, 1);
    api->file = saved;

    // After the environment's tear-down drops the access object, the next call reaches a fresh one.
    SKApi::Destroy();
    DWORD attributes = Runtime().GetFileAttributesW(path.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(counting.calls, 1);
    // Results and last error come back untouched.
    SetLastError(0);
    EXPECT_EQ(Runtime().GetFileAttributesW((scratch / L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
