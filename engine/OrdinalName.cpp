#include "engine/OrdinalName.h"

#include <windows.h>

std::wstring UpperCaseOrdinal(const std::wstring& text) {
    if (text.empty()) return text;
    std::wstring upper(text.size(), L'\0');
    // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's: no locale, no special cases, one
    // code unit in, one out.
    const int length = static_cast<int>(text.size());
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), length, &upper[0], length) != length) {
        return text;  // cannot happen for a valid length; the names then have to match exactly
    }
    return upper;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    return UpperCaseOrdinal(a) == UpperCaseOrdinal(b);
}
