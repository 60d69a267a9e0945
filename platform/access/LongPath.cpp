#include "platform/access/LongPath.h"

namespace {
const std::size_t kLongPathLength = 260;
const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
}  // namespace

std::wstring EnsureLongPathPrefix(const std::wstring& path) {
    if (path.size() < kLongPathLength || path.find(kLongPrefix) != std::wstring::npos) return path;
    // A share path keeps its meaning only in the UNC form: "\\?\" + "\\server" would name nothing.
    // "\\.\device" paths are left alone: the device namespace has no long form.
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        if (path[2] == L'.' && path.size() > 3 && path[3] == L'\\') return path;
        return kLongUncPrefix + path.substr(2);
    }
    return kLongPrefix + path;
}
