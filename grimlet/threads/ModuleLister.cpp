#include "grimlet/threads/ModuleLister.h"

namespace {

class SystemModuleLister final : public ModuleLister {
public:
    bool Enumerate(HANDLE process, HMODULE* modules, DWORD bytes, DWORD& needed) const override {
        return EnumProcessModules(process, modules, bytes, &needed) != FALSE;
    }
    bool Describe(HANDLE process, HMODULE module, MODULEINFO& information) const override {
        return GetModuleInformation(process, module, &information, sizeof information) != FALSE;
    }
};

}  // namespace

const ModuleLister& ModuleLister::System() {
    static const SystemModuleLister lister;
    return lister;
}
