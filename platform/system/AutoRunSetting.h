#pragma once
// Whether Windows still runs what an autorun.inf on a USB stick or a network drive names, the door the
// worm uses to come back. Read in the native registry view (the 64-bit one on 64-bit Windows, where the
// shell reads it). Shared by the program (its report), grimlet.dll (its row) and RunMendrel.exe (the
// change and its undo), so that all three decide in one way.
#include <windows.h>

#include <string>
#include <vector>

// One registry value as it was found: absent, or its type and bytes.
struct RegistryValueFacts {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegistryValueFacts& other) const {
        return present == other.present && (!present || (type == other.type && data == other.data));
    }
    bool operator!=(const RegistryValueFacts& other) const { return !(*this == other); }
};

struct AutoRunFacts {
    bool readable = false;           // both values could be asked (a missing key or value is an answer)
    RegistryValueFacts mapping;      // the default value of the Autorun.inf mapping key
    RegistryValueFacts noDriveType;  // NoDriveTypeAutoRun of the Explorer policies
};

namespace AutoRun {

// HKEY_LOCAL_MACHINE paths. With the mapping "@SYS:DoesNotExist" every read of an autorun.inf goes to
// a registry key that does not exist, on every drive; the older NoDriveTypeAutoRun alone misses cases
// (drives that come and go, double clicks in Explorer), so it is set only as well.
constexpr wchar_t kMappingKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\Autorun.inf";
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kPolicyValue[] = L"NoDriveTypeAutoRun";
constexpr wchar_t kMappingText[] = L"@SYS:DoesNotExist";
constexpr DWORD kNoDriveTypeAll = 0xFF;

// Off for good: the mapping is a REG_SZ reading "@SYS:DoesNotExist" (case ignored, as registry key
// names are; a missing final NUL tolerated). Anything else, the policy whatever it says, is on.
bool IsOff(const AutoRunFacts& facts);

// The values the change writes, as the registry holds them.
RegistryValueFacts OffMapping();
RegistryValueFacts OffNoDriveType();

// KEY_WOW64_64KEY for a 32-bit process on 64-bit Windows, else 0 (older systems refuse the flag).
REGSAM NativeView();

// Reads both values, following the keys as the shell does. `readable` false when a key or value could
// not be asked (access denied, a value too large to be either).
AutoRunFacts ReadFacts();

// "Autorun.inf=@SYS:DoesNotExist", "NoDriveTypeAutoRun=0x91" ("absent", or the type and size of
// anything that is not the expected kind); one line each, for reports and logs.
std::vector<std::wstring> Describe(const AutoRunFacts& facts);

}  // namespace AutoRun
