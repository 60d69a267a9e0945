// Drives the real grimlet.dll (the shipped build on the i686 tier) through the binary contract only.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "grimlet/pe/PeHeaders.h"
#include "tests/plugin/CContractTables.h"
#include "tests/plugin/TestPluginHost.h"
#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/TestSupport.h"

using namespace testhost;
using namespace ctables;

namespace {

// Loads a fresh copy of the DLL for each test, so that its process-wide state starts anew.
class GrimletContract : public ::testing::Test {
protected:
    void SetUp() override {
        dll_.reset(new PluginDll(GrimletDllPath()));
        ASSERT_NE(dll_->Module(), nullptr) << "LoadLibraryW failed: " << GetLastError();
        factory_ = dll_->Factory();
        ASSERT_NE(factory_, nullptr);
    }
    void TearDown() override {
        host_.ReleaseHandlers();  // before the code of the handlers goes
        dll_.reset();
    }
    std::unique_ptr<PluginDll> dll_;
    SK_GetPluginInstanceFn factory_ = nullptr;
    TestPluginHelper host_;
};

TEST_F(GrimletContract, RegistersOneGeneralHandlerAndItsTypeName) {
    ASSERT_EQ(factory_(&host_), 1);
    EXPECT_EQ(host_.registerCalls, 1);
    ASSERT_EQ(host_.Handlers().size(), 1u);
    EXPECT_EQ(host_.Handlers()[0].kindName, kInterfacePluginGeneralHandler);
    EXPECT_EQ(host_.Handlers()[0].name, L"GRIMLET CLEANER");
    EXPECT_EQ(host_.initializeCalls, 1);
    IPluginGeneralHandler* handler = host_.GeneralHandler();
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->GetId(), 1);
    EXPECT_STREQ(handler->GetName(), L"GRIMLET CLEANER");
    EXPECT_EQ(host_.typeNamesAsked, std::vector<std::wstring>{L"PLUGIN FOR GRIMLET"});
    EXPECT_EQ(host_.runtime.queried, std::vector<std::wstring>{kInterfacePluginRuntimeV0});
}

TEST_F(GrimletContract, FactoryRefusesASecondCallAndANullHelper) {
    EXPECT_EQ(factory_(nullptr), 0);
    ASSERT_EQ(factory_(&host_), 1);  // the refused null call did not count
    TestPluginHelper second;
    EXPECT_EQ(factory_(&second), 0);
    EXPECT_EQ(second.registerCalls, 0);
    EXPECT_TRUE(second.typeNamesAsked.empty());
    EXPECT_EQ(host_.Handlers().size(), 1u);
}

TEST_F(GrimletContract, QueryInterfaceIgnoresCaseAndRefusesOtherKinds) {
    ASSERT_EQ(factory_(&host_), 1);
    IPluginGeneralHandler* handler = host_.GeneralHandler();
    void* out = nullptr;
    ASSERT_EQ(handler->QueryInterface(L"interface_plugin_general_handler", &out), 1);
    EXPECT_EQ(out, static_cast<void*>(handler));
    handler->Release();  // the reference that QueryInterface added

    out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(handler->QueryInterface(kInterfacePluginFileHandler, &out), 0);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(handler->QueryInterface(kInterfacePluginPreGeneralHandler, &out), 0);
    EXPECT_EQ(out, nullptr);
    // The host's reference still holds the handler.
    EXPECT_STREQ(handler->GetName(), L"GRIMLET CLEANER");
}

TEST_F(GrimletContract, RefusedHandlerIsReleasedAndTheFactoryCanTryAgain) {
    host_.refuseNext = true;
    EXPECT_EQ(factory_(&host_), 0);
    EXPECT_EQ(host_.registerCalls, 1);
    EXPECT_EQ(host_.initializeCalls, 0);
    EXPECT_TRUE(host_.typeNamesAsked.empty());
    // The refused handler went with its last reference; a new offer brings a working one.
    ASSERT_EQ(factory_(&host_), 1);
    ASSERT_NE(host_.GeneralHandler(), nullptr);
    EXPECT_STREQ(host_.GeneralHandler()->GetName(), L"GRIMLET CLEANER");
    EXPECT_EQ(host_.GeneralHandler()->GetId(), 1);
}

TEST_F(GrimletContract, ScanAndCleanThroughTheReporter) {
    // A worm service (its DLL hidden and read-only) and a fake worm's threads: at least two findings.
    testsupport::ScratchFolder scratch(L"contractscan");
    const std::wstring dll = scratch / L"hidden.dll";
    ASSERT_TRUE(testsupport::WriteFileBytes(dll, "MZ fake worm"));
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    testsupport::FakeService service(testsupport::UniqueServiceStem(L"Contract") + L"Hidden",
                                     L"%SystemRoot%\\system32\\svchost.exe -k netsvcs", dll.c_str());
    grimlettest::FakeWorm worm(scratch / L"host", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(factory_(&host_), 1);
    IPluginGeneralHandler* handler = host_.GeneralHandler();
    TestPluginReporter reporter;
    handler->SetReporter(&reporter);
    handler->Scan();
    // Services come before threads; besides ours, the machine may hold more of either.
    std::vector<std::wstring> kinds;
    for (const auto& found : reporter.found) {
        if (found.name.find(service.Name()) != std::wstring::npos) kinds.push_back(L"service");
        if (found.threatName == L"GRIMLET线程:") kinds.push_back(L"threads");
    }
    EXPECT_EQ((std::vector<std::wstring>{L"service", L"threads"}), kinds);
    // Every finding carries the handler's ids and the virus class; what is not a threat (a note, an
    // object that could not be checked) is "InformationFeedBack" (11) and says which it is.
    ASSERT_GE(reporter.found.size(), 2u);
    for (std::size_t i = 0; i < reporter.found.size(); ++i) {
        EXPECT_EQ(reporter.found[i].pluginId, 1);
        EXPECT_EQ(reporter.found[i].id, static_cast<int>(i));
        const bool information = reporter.found[i].typeId == 11;
        EXPECT_EQ(reporter.found[i].typeId, information ? 11 : kFirstRegisteredTypeId);
        if (information)
            EXPECT_TRUE(reporter.found[i].threatClass == L"Note" || reporter.found[i].threatClass == L"Unchecked");
        else if (reporter.found[i].threatName == L"自动播放")  // AutoRun left on: a setting, no threat
            EXPECT_EQ(reporter.found[i].threatClass, L"Setting");
        else
            EXPECT_EQ(reporter.found[i].threatClass, L"Virus");
    }
    // Ids no scan reported are passed over without a report.
    const int unknown[] = {1000, -1};
    handler->SetReporter(&reporter);
    handler->Clean(unknown, 2);
    EXPECT_TRUE(reporter.cleaned.empty());
}

TEST_F(GrimletContract, AFakeWormsForeignThreadsAreOneFindingAndTheCleanEndsThemAlone) {
    testsupport::ScratchFolder scratch(L"contractworm");
    grimlettest::FakeWorm worm(scratch / L"host", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(2u, worm.Threads().foreign.size());
    ASSERT_EQ(factory_(&host_), 1);  // Initialize proves the stack layout on this process's own threads
    IPluginGeneralHandler* handler = host_.GeneralHandler();
    TestPluginReporter reporter;
    handler->SetReporter(&reporter);
    handler->Scan();

    std::vector<TestPluginReporter::Found> threads;
    for (const auto& found : reporter.found)
        if (found.threatName == L"GRIMLET线程:") threads.push_back(found);
    ASSERT_EQ(1u, threads.size()) << "one finding for both foreign threads";
    EXPECT_EQ(L"由病毒创建的恶意线程", threads[0].name);

    handler->Clean(&threads[0].id, 1);
    ASSERT_EQ(1u, reporter.cleaned.size());
    EXPECT_EQ(threads[0].id, reporter.cleaned[0].id);
    EXPECT_EQ(0, reporter.cleaned[0].outcome);
    EXPECT_TRUE(grimlettest::WaitForThreadsToEnd(worm.Threads().foreign));
    for (DWORD id : worm.Threads().own) EXPECT_TRUE(grimlettest::ThreadRunning(id)) << "the module's own thread";
    EXPECT_TRUE(worm.Process().Running());
}

TEST_F(GrimletContract, AHostWhoseThreadStartsInAnImageViewOutsideTheLoaderListIsNotReported) {
    // A harmless netsvcs host: its thread starts in memory that no module covers, as a worm's does, but
    // in a view of an image section mapped by hand, as security products and hand loaders do.
    testsupport::ScratchFolder scratch(L"contractlookalike");
    grimlettest::FakeWorm lookAlike(scratch / L"host", L"svchost.exe", L"-k netsvcs --look-alike");
    ASSERT_TRUE(lookAlike.Ready());
    ASSERT_EQ(1u, lookAlike.Threads().imageView.size());
    ASSERT_EQ(factory_(&host_), 1);
    IPluginGeneralHandler* handler = host_.GeneralHandler();
    TestPluginReporter reporter;
    handler->SetReporter(&reporter);
    handler->Scan();
    for (const auto& found : reporter.found) EXPECT_NE(L"GRIMLET线程:", found.threatName);
    EXPECT_TRUE(grimlettest::ThreadRunning(lookAlike.Threads().imageView[0]));
    EXPECT_TRUE(lookAlike.Process().Running());
}

// A host written as C code would be: the helper and the runtime are plain structs with hand-written
// tables; the handler is driven through its table alone. This pins every slot's position.
struct CHelper;
struct CRuntime;
struct HelperTable {
    int(C_MEMBER* Register)(CHelper* self, void* handler, int* pluginId, void** runtime);
    void(C_MEMBER* RegisterTypeName)(CHelper* self, const wchar_t* name, int* typeId);
    void* hostDestructor;  // never called by a plug-in
};
struct RuntimeTable {
    void* getId;
    void* getName;
    int(C_MEMBER* QueryInterface)(CRuntime* self, const wchar_t* name, void** out);
    void* rest[35];  // the plug-in calls none of them: a call would jump to null
};
struct CRuntime {
    const RuntimeTable* table;
    int queryCalls;
    wchar_t queried[64];
};
struct CHelper {
    const HelperTable* table;
    CRuntime* runtime;
    void* handler;
    int registerCalls, typeNameCalls, initializeResult;
    wchar_t handlerName[64];
    wchar_t typeName[64];
};

int C_MEMBER CRuntimeQueryInterface(CRuntime* self, const wchar_t* name, void** out) {
    ++self->queryCalls;
    wcsncpy(self->queried, name, 63);
    *out = self;
    return 1;
}
int C_MEMBER CRegister(CHelper* self, void* handler, int* pluginId, void** runtime) {
    ++self->registerCalls;
    const GeneralHandlerTable* t = TableOf<GeneralHandlerTable>(handler);
    void* general = nullptr;
    if (t->QueryInterface(handler, kInterfacePluginPreGeneralHandler, &general) || general) return 0;
    if (!t->QueryInterface(handler, kInterfacePluginGeneralHandler, &general) || general != handler) return 0;
    wcsncpy(self->handlerName, t->GetName(handler), 63);
    self->initializeResult = t->Initialize(handler);
    self->handler = handler;
    *pluginId = 7;
    *runtime = self->runtime;
    return 1;
}
void C_MEMBER CRegisterTypeName(CHelper* self, const wchar_t* name, int* typeId) {
    ++self->typeNameCalls;
    wcsncpy(self->typeName, name, 63);
    *typeId = 0x2345;
}
const HelperTable kHelperTable = {&CRegister, &CRegisterTypeName, nullptr};
const RuntimeTable kRuntimeTable = {nullptr, nullptr, &CRuntimeQueryInterface, {}};

TEST_F(GrimletContract, CCallerReachesEveryOperationByItsSlot) {
    CRuntime runtime = {&kRuntimeTable, 0, {}};
    CHelper helper = {&kHelperTable, &runtime, nullptr, 0, 0, 0, {}, {}};
    ASSERT_EQ(factory_(reinterpret_cast<IPluginHelper*>(&helper)), 1);
    EXPECT_EQ(helper.registerCalls, 1);
    EXPECT_EQ(helper.initializeResult, 1);
    EXPECT_STREQ(helper.handlerName, L"GRIMLET CLEANER");
    EXPECT_EQ(helper.typeNameCalls, 1);
    EXPECT_STREQ(helper.typeName, L"PLUGIN FOR GRIMLET");
    EXPECT_EQ(runtime.queryCalls, 1);
    EXPECT_STREQ(runtime.queried, kInterfacePluginRuntimeV0);

    void* handler = helper.handler;
    const GeneralHandlerTable* t = TableOf<GeneralHandlerTable>(handler);
    EXPECT_EQ(t->GetId(handler), 7);
    EXPECT_STREQ(t->GetName(handler), L"GRIMLET CLEANER");
    void* again = nullptr;
    EXPECT_EQ(t->QueryInterface(handler, L"Interface_Plugin_General_Handler", &again), 1);
    EXPECT_EQ(again, handler);
    t->Release(handler);
    EXPECT_EQ(t->Initialize(handler), 1);
    CReporter reporter;
    InitCReporter(reporter);
    t->SetReporter(handler, &reporter);
    t->Scan(handler);
    for (int i = 0; i < reporter.foundCount; ++i) {
        EXPECT_EQ(reporter.found[i].pluginId, 7);
        if (reporter.found[i].typeId == 11) continue;  // a note or an object that could not be checked
        EXPECT_EQ(reporter.found[i].typeId, 0x2345);
        const std::wstring threatClass = reporter.found[i].threatClass;
        EXPECT_TRUE(threatClass == L"Virus" || threatClass == L"Setting");  // AutoRun on: a setting
    }
    const int ids[] = {4711};
    t->Clean(handler, ids, 1);
    EXPECT_EQ(reporter.cleanedCount, 0);
    t->Release(handler);  // the reference the C host kept
}

#if defined(__i386__)
// Makes a member call by hand (object in ECX, two arguments pushed right to left) and returns how
// many argument bytes the callee left on the stack: 0 when it removed them itself.
uint32_t CallWithTwoArguments(void* function, void* self, uint32_t first, uint32_t second, uint32_t& result) {
    uint32_t eax = reinterpret_cast<uint32_t>(function);
    uint32_t ecx = reinterpret_cast<uint32_t>(self);
    uint32_t edx = first;
    uint32_t left = 0;
    asm volatile(
        "movl %%esp, %%edi\n\t"
        "pushl %%ebx\n\t"
        "pushl %%edx\n\t"
        "call *%%eax\n\t"
        "subl %%esp, %%edi\n\t"
        "addl %%edi, %%esp\n\t"
        : "+a"(eax), "=&D"(left), "+c"(ecx), "+d"(edx)
        : "b"(second)
        : "memory", "cc");
    result = eax;
    return left;
}

TEST_F(GrimletContract, MemberCallsTakeTheObjectInEcxAndPopTheirArguments) {
    ASSERT_EQ(factory_(&host_), 1);
    void* handler = host_.GeneralHandler();
    void* const* table = *static_cast<void* const* const*>(handler);

    void* out = nullptr;
    uint32_t result = 0;
    // QueryInterface(name, out): the object comes only in ECX, so an answer proves it was read there.
    EXPECT_EQ(CallWithTwoArguments(table[2], handler, reinterpret_cast<uint32_t>(kInterfacePluginGeneralHandler),
                                   reinterpret_cast<uint32_t>(&out), result),
              0u);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(out, handler);
    static_cast<IPluginUnknown*>(handler)->Release();

    const int ids[] = {99, 100};
    EXPECT_EQ(CallWithTwoArguments(table[7], handler, reinterpret_cast<uint32_t>(ids), 2, result), 0u);
}
#endif

// Reads the export directory of the DLL file.
class BytesSource final : public IPeByteSource {
public:
    explicit BytesSource(const std::string& bytes) : bytes_(bytes) {}
    bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        if (offset >= bytes_.size()) return true;
        got = static_cast<uint32_t>(std::min<uint64_t>(size, bytes_.size() - offset));
        memcpy(buffer, bytes_.data() + offset, got);
        return true;
    }

private:
    const std::string& bytes_;
};

uint32_t U32At(const std::string& bytes, uint32_t offset) {
    uint32_t v = 0;
    if (offset + 4 <= bytes.size()) memcpy(&v, bytes.data() + offset, 4);
    return v;
}

TEST(GrimletExports, ExportTableHoldsExactlyTheUndecoratedFactory) {
    const std::string bytes = testsupport::ReadFileBytes(GrimletDllPath());
    ASSERT_FALSE(bytes.empty());
    BytesSource source(bytes);
    PeReadWindow window(source);
    PeHeaders headers;
    ASSERT_TRUE(PeHeaders::Parse(window, headers));
    if (testsupport::IsI686Tier()) {
        EXPECT_EQ(headers.machine, 0x14C);  // the shipped 32-bit build
    }
    ASSERT_NE(headers.directories[0].virtualAddress, 0u);

    uint32_t directory = 0;
    ASSERT_TRUE(headers.RvaToOffset(headers.directories[0].virtualAddress, directory));
    const uint32_t functionCount = U32At(bytes, directory + 20);
    const uint32_t nameCount = U32At(bytes, directory + 24);
    EXPECT_EQ(functionCount, 1u);
    ASSERT_EQ(nameCount, 1u);
    uint32_t names = 0, name = 0;
    ASSERT_TRUE(headers.RvaToOffset(U32At(bytes, directory + 32), names));
    ASSERT_TRUE(headers.RvaToOffset(U32At(bytes, names), name));
    ASSERT_LT(name, bytes.size());
    EXPECT_STREQ(bytes.c_str() + name, "SK_GetPluginInstance");
}

TEST(GrimletExports, LoadLibraryAndGetProcAddressFindTheFactoryByItsPlainName) {
    HMODULE module = LoadLibraryW(GrimletDllPath().c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(module, "SK_GetPluginInstance"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_SK_GetPluginInstance@4"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "SK_GetPluginInstance@4"), nullptr);
    FreeLibrary(module);
}

}  // namespace
