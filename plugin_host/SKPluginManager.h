#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin_host/PluginInterface.h"
#include "plugin_host/SKPluginDLL.h"
#include "plugin_host/SKPluginRuntime.h"

class SKItemCleaner;
class ISKFileScanner;
class ISKGeneralScanner;

namespace Gantry {
namespace plugin {

// Loads the plug-in DLLs, keeps the handlers they register (one reference each), hands out scanner
// and cleaner adapters built on them, and at its end releases every handler and unloads every DLL.
// Handlers are kept by name in plain code-unit order, which is also the order of enumeration.
class SKPluginManager : public IPluginHelper {
public:
    SKPluginManager();
    ~SKPluginManager() override;
    SKPluginManager(const SKPluginManager&) = delete;
    SKPluginManager& operator=(const SKPluginManager&) = delete;

    // Loads every "*.dll" of the work folder's "plugin" folder.
    void LoadPlugin();
    // Loads every "*.dll" of `folder` (with or without a trailing backslash).
    void LoadPlugin(const std::wstring& folder);

    int SK_PLUGIN_CALL Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtime) override;
    void SK_PLUGIN_CALL RegisterTypeName(const wchar_t* name, int* typeId) override;

    // Adapter enumeration. Each First/Next pair of one handler kind shares that kind's cursor.
    // 1: a new adapter is stored in `out`; 0: none left, nothing stored. Cleaners are handed over
    // as plain pointers that the receiver owns.
    int FirstFileScanner(std::shared_ptr<ISKFileScanner>& out);
    int NextFileScanner(std::shared_ptr<ISKFileScanner>& out);
    int FirstFileCleaner(SKItemCleaner*& out);
    int NextFileCleaner(SKItemCleaner*& out);
    int FirstGeneralScanner(std::shared_ptr<ISKGeneralScanner>& out);
    int NextGeneralScanner(std::shared_ptr<ISKGeneralScanner>& out);
    int FirstGeneralCleaner(SKItemCleaner*& out);
    int NextGeneralCleaner(SKItemCleaner*& out);

    int32_t PluginCount() const { return pluginCount_; }
    std::size_t LoadedDllCount() const { return dlls_.size(); }
    std::vector<std::wstring> GeneralHandlerNames() const;
    std::vector<std::wstring> FileHandlerNames() const;
    std::vector<std::wstring> PreGeneralHandlerNames() const;

private:
    using GeneralMap = std::map<std::wstring, IPluginGeneralHandler*>;
    using FileMap = std::map<std::wstring, IPluginFileHandler*>;
    using PreGeneralMap = std::map<std::wstring, IPluginPreGeneralHandler*>;
    enum class HandlerKind { PreGeneral, General, File };
    struct Registration {
        HandlerKind kind;
        std::wstring name;
    };

    template <typename Map>
    int Accept(Map& map, typename Map::mapped_type handler, HandlerKind kind, int* pluginId,
               IPluginUnknown** runtime);
    void DropHandlersOf(const std::vector<Registration>& registrations);

    int32_t pluginCount_ = 0;
    std::map<std::wstring, std::unique_ptr<SKPluginDLL>> dlls_;
    PreGeneralMap preGeneralHandlers_;
    GeneralMap::iterator generalCursor_;
    GeneralMap generalHandlers_;
    FileMap::iterator fileCursor_;
    FileMap fileHandlers_;
    SKPluginRuntime runtime_;
    // The handlers accepted while the factory of the DLL being loaded runs.
    std::vector<Registration> registeredByLoadingDll_;
};

}  // namespace plugin
}  // namespace Gantry
