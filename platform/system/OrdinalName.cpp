#include "platform/system/OrdinalName.h"

#include <windows.h>

namespace {

std::wstring MapCase(const std::wstring& text, DWORD mapping) {
    if (text.empty()) return text;
    std::wstring mapped(text.size(), L'\0');
    // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's: no locale, no special cases, one
    // code unit in, one out.
    const int length = static_cast<int>(text.size());
    if (LCMapStringW(LOCALE_INVARIANT, mapping, text.data(), length, &mapped[0], length) != length) {
        return text;  // cannot happen for a valid length; the names then have to match exactly
    }
    return mapped;
}

}  // namespace

std::wstring UpperCaseOrdinal(const std::wstring& text) { return MapCase(text, LCMAP_UPPERCASE); }

std::wstring LowerCaseOrdinal(const std::wstring& text) { return MapCase(text, LCMAP_LOWERCASE); }

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    return UpperCaseOrdinal(a) == UpperCaseOrdinal(b);
}
