#include "plugin_host/SKPluginManager.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/system/SKEnvironment.h"
#include "platform/win32/FindHandle.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/PluginText.h"
#include "plugin_host/SKPluginFileCleaner.h"
#include "plugin_host/SKPluginFileScanner.h"
#include "plugin_host/SKPluginGeneralCleaner.h"
#include "plugin_host/SKPluginGeneralScanner.h"

static const wchar_t kLogSource[] = L"SKPluginManager";
// The fixed suffixes "[SKPluginManager(69)]" and "[SKPluginManager(79)]" of the two loading lines.
static const int kLoadLine = 69;
static const int kLoadFailedLine = 79;

namespace Gantry {
namespace plugin {

namespace {

template <typename Map>
std::vector<std::wstring> KeysOf(const Map& map) {
    std::vector<std::wstring> keys;
    for (const auto& entry : map) keys.push_back(entry.first);
    return keys;
}

template <typename Map>
void ReleaseAll(Map& map) {
    for (auto& entry : map) entry.second->Release();
    map.clear();
}

}  // namespace

SKPluginManager::SKPluginManager() {
    generalCursor_ = generalHandlers_.end();
    fileCursor_ = fileHandlers_.end();
}

SKPluginManager::~SKPluginManager() {
    ReleaseAll(generalHandlers_);
    ReleaseAll(fileHandlers_);
    ReleaseAll(preGeneralHandlers_);
    dlls_.clear();
}

void SKPluginManager::LoadPlugin() { LoadPlugin(SKEnvironment::Instance()->BaseFolder() + L"\\plugin\\"); }

void SKPluginManager::LoadPlugin(const std::wstring& folderPath) {
    std::wstring folder = folderPath;
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    const std::wstring pattern = folder + L"*.dll";
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW(pattern.c_str(), &entry));
    if (!search.IsValid()) return;
    do {
        const std::wstring fullPath = folder + entry.cFileName;
        TW_LOG_AT(kLoadLine, LogLevel::Info, "SKPluginManager::LoadPlugin() => %S", fullPath.c_str());
        auto dll = std::make_unique<SKPluginDLL>(fullPath);
        registeredByLoadingDll_.clear();
        if (dll->LoadAndInitialize(this) == 1) {
            dlls_[fullPath] = std::move(dll);
        } else {
            TW_LOG_AT(kLoadFailedLine, LogLevel::Warning, "SKPluginManager::LoadPlugin() LoadAndInitialize failed");
            // A factory may have had a handler accepted before it failed: no call may reach that
            // handler once its code is unloaded.
            DropHandlersOf(registeredByLoadingDll_);
            dll.reset();
        }
        registeredByLoadingDll_.clear();
    } while (FindNextFileW(search.Get(), &entry));
}

void SKPluginManager::DropHandlersOf(const std::vector<Registration>& registrations) {
    for (const Registration& registration : registrations) {
        switch (registration.kind) {
            case HandlerKind::General: {
                auto found = generalHandlers_.find(registration.name);
                if (found == generalHandlers_.end()) break;
                found->second->Release();
                generalHandlers_.erase(found);
                generalCursor_ = generalHandlers_.end();
                break;
            }
            case HandlerKind::File: {
                auto found = fileHandlers_.find(registration.name);
                if (found == fileHandlers_.end()) break;
                found->second->Release();
                fileHandlers_.erase(found);
                fileCursor_ = fileHandlers_.end();
                break;
            }
            case HandlerKind::PreGeneral: {
                auto found = preGeneralHandlers_.find(registration.name);
                if (found == preGeneralHandlers_.end()) break;
                found->second->Release();
                preGeneralHandlers_.erase(found);
                break;
            }
        }
    }
}

template <typename Map>
int SKPluginManager::Accept(Map& map, typename Map::mapped_type handler, HandlerKind kind, int* pluginId,
                            IPluginUnknown** runtime) {
    const std::wstring name = CopyPluginText(handler->GetName());
    if (map.count(name) || handler->Initialize() == 0) {
        handler->Release();
        return 0;
    }
    ++pluginCount_;
    map[name] = handler;
    registeredByLoadingDll_.push_back({kind, name});
    if (pluginId) *pluginId = pluginCount_;
    if (runtime) *runtime = static_cast<IPluginRuntimeV1*>(&runtime_);
    return 1;
}

int SKPluginManager::Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtime) {
    if (!handler) return 0;
    void* answer = nullptr;
    if (handler->QueryInterface(kInterfacePluginPreGeneralHandler, &answer) && answer) {
        return Accept(preGeneralHandlers_, static_cast<IPluginPreGeneralHandler*>(answer), HandlerKind::PreGeneral,
                      pluginId, runtime);
    }
    answer = nullptr;
    if (handler->QueryInterface(kInterfacePluginGeneralHandler, &answer) && answer) {
        return Accept(generalHandlers_, static_cast<IPluginGeneralHandler*>(answer), HandlerKind::General, pluginId,
                      runtime);
    }
    answer = nullptr;
    if (handler->QueryInterface(kInterfacePluginFileHandler, &answer) && answer) {
        return Accept(fileHandlers_, static_cast<IPluginFileHandler*>(answer), HandlerKind::File, pluginId,
                      runtime);
    }
    return 0;
}

void SKPluginManager::RegisterTypeName(const wchar_t* name, int* typeId) {
    const int32_t id = ItemTypeRegistry::Instance().RegisterTypeName(CopyPluginText(name));
    if (typeId) *typeId = id;
}

int SKPluginManager::FirstFileScanner(std::shared_ptr<ISKFileScanner>& out) {
    fileCursor_ = fileHandlers_.begin();
    if (fileCursor_ == fileHandlers_.end()) return 0;
    out = std::make_shared<SKPluginFileScanner>(fileCursor_->second);
    return 1;
}

int SKPluginManager::NextFileScanner(std::shared_ptr<ISKFileScanner>& out) {
    if (fileCursor_ == fileHandlers_.end() || ++fileCursor_ == fileHandlers_.end()) return 0;
    out = std::make_shared<SKPluginFileScanner>(fileCursor_->second);
    return 1;
}

int SKPluginManager::FirstFileCleaner(SKItemCleaner*& out) {
    fileCursor_ = fileHandlers_.begin();
    if (fileCursor_ == fileHandlers_.end()) return 0;
    out = new SKPluginFileCleaner(fileCursor_->second);
    return 1;
}

int SKPluginManager::NextFileCleaner(SKItemCleaner*& out) {
    if (fileCursor_ == fileHandlers_.end() || ++fileCursor_ == fileHandlers_.end()) return 0;
    out = new SKPluginFileCleaner(fileCursor_->second);
    return 1;
}

int SKPluginManager::FirstGeneralScanner(std::shared_ptr<ISKGeneralScanner>& out) {
    generalCursor_ = generalHandlers_.begin();
    if (generalCursor_ == generalHandlers_.end()) return 0;
    out = std::make_shared<SKPluginGeneralScanner>(generalCursor_->second);
    return 1;
}

int SKPluginManager::NextGeneralScanner(std::shared_ptr<ISKGeneralScanner>& out) {
    if (generalCursor_ == generalHandlers_.end() || ++generalCursor_ == generalHandlers_.end()) return 0;
    out = std::make_shared<SKPluginGeneralScanner>(generalCursor_->second);
    return 1;
}

int SKPluginManager::FirstGeneralCleaner(SKItemCleaner*& out) {
    generalCursor_ = generalHandlers_.begin();
    if (generalCursor_ == generalHandlers_.end()) return 0;
    out = new SKPluginGeneralCleaner(generalCursor_->second);
    return 1;
}

int SKPluginManager::NextGeneralCleaner(SKItemCleaner*& out) {
    if (generalCursor_ == generalHandlers_.end() || ++generalCursor_ == generalHandlers_.end()) return 0;
    out = new SKPluginGeneralCleaner(generalCursor_->second);
    return 1;
}

std::vector<std::wstring> SKPluginManager::GeneralHandlerNames() const { return KeysOf(generalHandlers_); }
std::vector<std::wstring> SKPluginManager::FileHandlerNames() const { return KeysOf(fileHandlers_); }
std::vector<std::wstring> SKPluginManager::PreGeneralHandlerNames() const { return KeysOf(preGeneralHandlers_); }

}  // namespace plugin
}  // namespace Gantry
