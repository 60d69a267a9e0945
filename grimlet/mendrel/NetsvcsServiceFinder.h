#pragma once
#include <string>
#include <vector>

// The names of the services under HKLM\SYSTEM\CurrentControlSet\Services that run in the netsvcs
// svchost group and whose Parameters\ServiceDll (expanded) names `dllPath`, case ignored. Keys that
// deny reading are opened the way the scan opens them and get their access lists back afterwards.
std::vector<std::wstring> FindNetsvcsServicesUsing(const std::wstring& dllPath);

// Same file, compared case-insensitively after both paths are made absolute.
bool IsSameFilePath(const std::wstring& left, const std::wstring& right);
