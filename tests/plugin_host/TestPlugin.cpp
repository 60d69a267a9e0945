// A configurable plug-in for the tests. Each DLL built from this file is one configuration:
//   TP_KIND             0 answers no interface name, 1 general, 2 file, 3 pre-general handler
//   TP_NAME             the handler's name (wide string literal)
//   TP_INIT_RESULT      what Initialize answers
//   TP_FACTORY_RESULT   what the factory returns after its handler was accepted
//   TP_FINDINGS         general handler: how many findings Scan reports (found ids 0, 1, ...)
//   TP_FAIL_ID          general handler: the found id whose clean fails (outcome 1); -1 none
//   TP_CLEAN_OUTCOME    the outcome of every other clean
// A file handler reports each scanned file whose name contains "evil" as a finding.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "plugin_host/PluginInterface.h"
#include "tests/plugin_host/TestPluginEvents.h"

#ifndef TP_KIND
#define TP_KIND 1
#endif
#ifndef TP_NAME
#define TP_NAME L"TEST"
#endif
#ifndef TP_INIT_RESULT
#define TP_INIT_RESULT 1
#endif
#ifndef TP_FACTORY_RESULT
#define TP_FACTORY_RESULT 1
#endif
#ifndef TP_FINDINGS
#define TP_FINDINGS 0
#endif
#ifndef TP_FAIL_ID
#define TP_FAIL_ID -1
#endif
#ifndef TP_CLEAN_OUTCOME
#define TP_CLEAN_OUTCOME 0
#endif

namespace {

HMODULE g_module = nullptr;
int g_typeId = 0;

void Record(const std::wstring& event) {
    auto record = reinterpret_cast<TestHostRecordEventFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), TEST_HOST_RECORD_EVENT_EXPORT)));
    if (!record) return;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    std::wstring line = slash ? slash + 1 : path;
    line += L"|";
    line += TP_NAME;
    line += L"|";
    line += event;
    record(line.c_str());
}

class Found final : public IPluginFound {
public:
    Found(int id, int typeId, std::wstring name) : id_(id), typeId_(typeId), name_(std::move(name)) {}
    int SK_PLUGIN_CALL GetId() override { return id_; }
    int SK_PLUGIN_CALL GetTypeId() override { return typeId_; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return name_.c_str(); }
    const wchar_t* SK_PLUGIN_CALL GetThreatClass() override { return L"Virus"; }
    const wchar_t* SK_PLUGIN_CALL GetThreatName() override { return threat_.c_str(); }

private:
    int id_;
    int typeId_;
    std::wstring name_;
    std::wstring threat_ = std::wstring(L"Test.") + TP_NAME;
};

int OutcomeFor(int foundId) { return foundId == TP_FAIL_ID ? kPluginCleanFailed : TP_CLEAN_OUTCOME; }

// The parts every handler kind shares.
template <typename Interface>
class HandlerBase : public Interface {
public:
    int SK_PLUGIN_CALL GetId() override { return id; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return TP_NAME; }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) override {
        if (answer && name && _wcsicmp(name, answer) == 0) {
            ++references;
            *out = static_cast<Interface*>(this);
            return 1;
        }
        *out = nullptr;
        return 0;
    }
    void SK_PLUGIN_CALL Release() override {
        --references;
        Record(L"Release");
    }
    int SK_PLUGIN_CALL Initialize() override {
        Record(L"Initialize");
        return TP_INIT_RESULT;
    }
    void SK_PLUGIN_CALL SetReporter(IPluginReporter* newReporter) override { reporter = newReporter; }

    int id = 0;
    int references = 1;
    const wchar_t* answer = nullptr;
    IPluginReporter* reporter = nullptr;
};

template <typename Interface>
class GeneralHandler final : public HandlerBase<Interface> {
public:
    void SK_PLUGIN_CALL Scan() override {
        Record(L"Scan");
        findings_.clear();
        for (int i = 0; i < TP_FINDINGS; ++i) {
            findings_.emplace_back(i, g_typeId, std::wstring(TP_NAME) + L" item " + std::to_wstring(i));
        }
        for (Found& found : findings_) this->reporter->ReportFound(this->id, &found);
    }
    void SK_PLUGIN_CALL Clean(const int* foundIds, unsigned int count) override {
        std::wstring event = L"Clean";
        for (unsigned int i = 0; i < count; ++i) event += L" " + std::to_wstring(foundIds[i]);
        Record(event);
        for (unsigned int i = 0; i < count; ++i) {
            for (Found& found : findings_) {
                if (found.GetId() == foundIds[i]) this->reporter->ReportCleanResult(this->id, &found, OutcomeFor(foundIds[i]));
            }
        }
    }

private:
    std::vector<Found> findings_;
};

class FileHandler final : public HandlerBase<IPluginFileHandler> {
public:
    void SK_PLUGIN_CALL ScanFile(const wchar_t* path) override {
        if (!path || !wcsstr(path, L"evil")) return;
        Found found(0, 99, path);
        reporter->ReportFound(id, &found);
    }
    void SK_PLUGIN_CALL CleanFile(const wchar_t* path) override {
        Record(std::wstring(L"CleanFile ") + path);
        Found found(0, 2, path);
        reporter->ReportCleanResult(id, &found, TP_CLEAN_OUTCOME);
    }
};

#if TP_KIND == 1 || TP_KIND == 0
GeneralHandler<IPluginGeneralHandler> g_handler;
#elif TP_KIND == 2
FileHandler g_handler;
#else
GeneralHandler<IPluginPreGeneralHandler> g_handler;
#endif

const wchar_t* InterfaceAnswered() {
    switch (TP_KIND) {
        case 1: return kInterfacePluginGeneralHandler;
        case 2: return kInterfacePluginFileHandler;
        case 3: return kInterfacePluginPreGeneralHandler;
        default: return nullptr;
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) int WINAPI SK_GetPluginInstance(IPluginHelper* helper) {
    if (!helper) return 0;
    g_handler.answer = InterfaceAnswered();
    IPluginUnknown* runtime = nullptr;
    if (!helper->Register(&g_handler, &g_handler.id, &runtime)) return 0;
    Record(L"Accepted " + std::to_wstring(g_handler.id));
    helper->RegisterTypeName(L"TEST ITEM", &g_typeId);
    return TP_FACTORY_RESULT;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    if (reason == DLL_PROCESS_DETACH) Record(L"Unloaded");
    return TRUE;
}

}  // extern "C"
