#include "tests/plugin_host/PluginEventLog.h"

namespace pluginevents {
std::vector<std::wstring>& Events() {
    static std::vector<std::wstring> events;
    return events;
}
}  // namespace pluginevents

extern "C" __declspec(dllexport) void TestHostRecordEvent(const wchar_t* line) {
    pluginevents::Events().push_back(line ? line : L"");
}
