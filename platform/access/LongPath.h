#pragma once
#include <string>

// Puts "\\?\" in front of a full path of 260 characters or more (MAX_PATH and beyond), so that the
// file functions accept it; "\\server\share\..." becomes "\\?\UNC\server\share\...". A path that
// already holds "\\?\" anywhere, or a shorter one, is returned as it is.
std::wstring EnsureLongPathPrefix(const std::wstring& path);
