#pragma once
#include <windows.h>

#include <string>

class IPluginHelper;

namespace Gantry {
namespace plugin {

// One plug-in DLL: loads it by full path, calls its factory, and unloads it when destroyed.
class SKPluginDLL {
public:
    explicit SKPluginDLL(std::wstring fullPath) : path_(std::move(fullPath)) {}
    virtual ~SKPluginDLL();
    SKPluginDLL(const SKPluginDLL&) = delete;
    SKPluginDLL& operator=(const SKPluginDLL&) = delete;

    // 1 when the DLL loaded, exports the factory, and the factory answered above 0; else 0.
    int LoadAndInitialize(IPluginHelper* helper);
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    HMODULE module_ = nullptr;
};

}  // namespace plugin
}  // namespace Gantry
