#pragma once
#include <string>

// Names matched "case ignored" the way the file system and the registry match them: paths of findings,
// handler names against cleaner names, registry key names. Both sides are upper-cased with the
// system's fixed (file-system) case table, one code unit at a time, and then compared code unit by
// code unit. The user's language never changes the outcome, and no character is skipped: a linguistic
// comparison would treat names that differ only in a zero-weight character (a soft hyphen, a joiner)
// as one name. (Where a name is matched with _wcsicmp or lstrcmpiW, that is meant: those compare
// differently.)
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b);

// `text` upper-cased, or lower-cased, with that table; the same length as `text`.
std::wstring UpperCaseOrdinal(const std::wstring& text);
std::wstring LowerCaseOrdinal(const std::wstring& text);
