#pragma once
#include <string>
#include <vector>

#include "grimlet/mendrel/QuarantineStore.h"

// What RunMendrel.exe -list and -restore=<SHA-1> do with the quarantine. Each returns one of
// MendrelExitCode.
namespace QuarantineCommands {

// One tab-separated line per item: SHA-1 ("-" where the file was not copied), original path,
// services, UTC time of the removal, state.
int List(const QuarantineStore& store, std::vector<std::wstring>& lines);

// Puts back the newest quarantined item with this SHA-1 (40 upper-case hexadecimal digits): the file
// at its original path with its original attributes, the service keys exactly as saved, the services
// in the netsvcs group again; then marks the item restored. Refuses, changing nothing, when the
// path is taken or a service key exists. The services start again after the next restart, when the
// service manager reads their keys.
int Restore(QuarantineStore& store, const std::string& sha1);

// The service names of saved keys, which may only be service keys under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services with their subkeys, each after its parent.
// False, with the reason, for anything else.
bool SavedServiceNames(const std::vector<RegFileKey>& keys, std::vector<std::wstring>& names, std::string& problem);

}  // namespace QuarantineCommands
