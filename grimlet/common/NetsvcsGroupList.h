#pragma once
#include <string>
#include <vector>

// The "netsvcs" multi-string under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\SvcHost: the
// services that svchost.exe -k netsvcs starts. Always the native (64-bit) registry view. The engine
// edits it; the plug-in reads it to tell which denied service keys it may unlock.
namespace NetsvcsGroupList {
// Removes every occurrence of `serviceName` (case ignored). True when the name is no longer listed,
// including when there was no list.
bool Remove(const std::wstring& serviceName);

// Appends `serviceName` unless it is listed already. False when there is no list or it cannot be
// written.
bool Add(const std::wstring& serviceName);

// The list as it stands; empty when it cannot be read.
std::vector<std::wstring> Read();

// The multi-string without `name`; `removed` tells whether anything was taken out.
std::vector<wchar_t> WithoutName(const std::vector<wchar_t>& multiString, const std::wstring& name, bool& removed);
}  // namespace NetsvcsGroupList
