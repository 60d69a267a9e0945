#include "tests/plugin/TestPluginHost.h"

#include <wchar.h>

#include "tests/support/TestSupport.h"

namespace testhost {

int TestPluginRuntime::QueryInterface(const wchar_t* name, void** out) {
    if (!out) return 0;
    queried.push_back(name ? name : L"(null)");
    if (name && (_wcsicmp(name, kInterfacePluginRuntimeV0) == 0 || _wcsicmp(name, kInterfacePluginRuntimeV1) == 0)) {
        *out = static_cast<IPluginUnknown*>(this);
        return 1;
    }
    *out = nullptr;
    return 0;
}

TestPluginHelper::~TestPluginHelper() { ReleaseHandlers(); }

void TestPluginHelper::ReleaseHandlers() {
    for (Accepted& a : accepted_) a.handler->Release();
    accepted_.clear();
}

int TestPluginHelper::Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtimeOut) {
    ++registerCalls;
    if (!handler) return 0;
    static const wchar_t* const kKinds[] = {kInterfacePluginPreGeneralHandler, kInterfacePluginGeneralHandler,
                                            kInterfacePluginFileHandler};
    void* answered = nullptr;
    const wchar_t* kind = nullptr;
    for (const wchar_t* k : kKinds) {
        if (handler->QueryInterface(k, &answered) && answered) {
            kind = k;
            break;
        }
    }
    if (!kind) return 0;
    IPluginUnknown* accepted = static_cast<IPluginUnknown*>(answered);
    std::wstring name = accepted->GetName() ? accepted->GetName() : L"";
    bool taken = refuseNext;
    refuseNext = false;
    for (const Accepted& a : accepted_) taken = taken || (a.kindName == kind && a.name == name);
    if (taken) {
        accepted->Release();
        return 0;
    }
    // All three handler kinds share the operation order up to Initialize.
    ++initializeCalls;
    if (!static_cast<IPluginGeneralHandler*>(accepted)->Initialize()) {
        accepted->Release();
        return 0;
    }
    Accepted entry{accepted, kind, name, nextPluginId_++};
    accepted_.push_back(entry);
    if (pluginId) *pluginId = entry.pluginId;
    if (runtimeOut) *runtimeOut = &runtime;
    return 1;
}

void TestPluginHelper::RegisterTypeName(const wchar_t* name, int* typeId) {
    std::wstring key = name ? name : L"";
    typeNamesAsked.push_back(key);
    auto it = typeIds_.find(key);
    if (it == typeIds_.end()) {
        it = typeIds_.emplace(key, kFirstRegisteredTypeId + static_cast<int>(typeIds_.size())).first;
    }
    if (typeId) *typeId = it->second;
}

IPluginGeneralHandler* TestPluginHelper::GeneralHandler(std::size_t index) const {
    if (index >= accepted_.size() || accepted_[index].kindName != kInterfacePluginGeneralHandler) return nullptr;
    return static_cast<IPluginGeneralHandler*>(accepted_[index].handler);
}

void TestPluginReporter::ReportFound(int pluginId, IPluginFound* item) {
    found.push_back(Found{pluginId, item->GetId(), item->GetTypeId(), item->GetName(), item->GetThreatClass(),
                          item->GetThreatName()});
}

void TestPluginReporter::ReportCleanResult(int pluginId, IPluginFound* item, int outcome) {
    cleaned.push_back(CleanResult{pluginId, item->GetId(), outcome});
}

PluginDll::PluginDll(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}

PluginDll::~PluginDll() {
    if (module_) FreeLibrary(module_);
}

SK_GetPluginInstanceFn PluginDll::Factory() const {
    if (!module_) return nullptr;
    return reinterpret_cast<SK_GetPluginInstanceFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, kPluginFactoryExportName)));
}

std::wstring GrimletDllPath() { return testsupport::ProductFolder() + L"\\grimlet.dll"; }

}  // namespace testhost
