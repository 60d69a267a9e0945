#pragma once
#include <vector>

#include "grimlet/services/ServiceKeyCheck.h"

// A key the walk should have examined and could not, with the reason.
struct UncheckedKey {
    std::wstring path;
    std::wstring why;
};

// Walks every key under HKLM\SYSTEM\CurrentControlSet\Services and appends one entry per netsvcs
// service whose DLL is not trusted. A key that cannot be examined is named on standard output and
// appended to `unchecked`.
void CheckServices(std::vector<ServiceEntry>& entries, TrustedSignerTest isTrusted, std::vector<UncheckedKey>& unchecked);

// The hiding sign that makes a suspect a worm service, tested in this order.
enum class WormSign { None, KeyDeniedReading, HiddenReadOnlyDll, LockedDll };
WormSign WormSignOf(const ServiceEntry& entry);

// "The key %s cannot be checked!\n" on standard output.
void ReportUncheckableKey(const std::wstring& keyPath);
