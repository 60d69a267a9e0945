#pragma once
#include <windows.h>

#include <string>

// A UTC time as ISO 8601 to the second, "2024-05-01T12:34:56Z": the form of the unattended report's
// START and END and of the quarantine manifest's times.
std::wstring IsoUtcText(const SYSTEMTIME& utc);
// The same for the present moment.
std::wstring IsoUtcNow();
