#pragma once
// The test program's side of TestPluginEvents.h: the export the test plug-ins call, and the events
// they recorded.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/plugin_host/TestPluginEvents.h"

namespace pluginevents {

std::vector<std::wstring>& Events();
inline void Clear() { Events().clear(); }
// Events of handler `name` (any DLL), as "<dll>|<name>|<event>" lines.
inline std::vector<std::wstring> Of(const std::wstring& name) {
    std::vector<std::wstring> found;
    for (const auto& line : Events()) {
        const auto first = line.find(L'|');
        const auto second = line.find(L'|', first + 1);
        if (first != std::wstring::npos && line.compare(first + 1, second - first - 1, name) == 0)
            found.push_back(line.substr(second + 1));
    }
    return found;
}
inline std::size_t Count(const std::wstring& name, const std::wstring& event) {
    const auto events = Of(name);
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

}  // namespace pluginevents
