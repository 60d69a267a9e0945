#pragma once
#include <string>
#include <vector>

#include "grimlet/mendrel/QuarantineStore.h"

// What RunMendrel.exe -list and -restore=<SHA-1> do with the quarantine. Each returns one of
// MendrelExitCode.
namespace QuarantineCommands {

// One tab-separated line per item: SHA-1 ("-" where the file was not copied), original path,
// services, UTC time of the removal, state.
// The folder is checked first (QuarantineStore::Prepare): QuarantineFolderRefused when it fails.
int List(QuarantineStore& store, std::vector<std::wstring>& lines);

// The steps of a restore, in order, after each of which it may be interrupted.
enum class RestoreStep { Recorded, FilePlaced, KeysWritten, FileMoved, NamesAdded };
// For tests: called after each step; false stops the restore right there, undoing nothing, as a crash
// would.
using RestoreCrashPoint = bool (*)(RestoreStep step);

// Puts back the newest quarantined item with this SHA-1 (40 upper-case hexadecimal digits): the file
// at its original path with its original attributes, the service keys exactly as saved, the services
// in the netsvcs group again; then marks the item restored. Before the first write it checks the folder,
// that the original path is a plain path on a local fixed drive and is the saved ServiceDll of every
// saved service, that the saved keys are those of the entry's services, and that the stored copy
// ("<SHA-1>.bin", owned by Administrators or SYSTEM) holds the recorded bytes; it refuses, changing
// nothing, when one of these fails, the path is taken or a service key exists.
// A "restoring" line in the manifest marks a restore under way: an interrupted one is completed by the
// next call, which takes what it finds in place only when it is exactly the saved bytes and keys. The
// services start again after the next restart, when the service manager reads their keys.
int Restore(QuarantineStore& store, const std::string& sha1, RestoreCrashPoint crashAfter = nullptr);

// The service names of saved keys, which may only be service keys under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services with their subkeys, each after its parent.
// False, with the reason, for anything else.
bool SavedServiceNames(const std::vector<RegFileKey>& keys, std::vector<std::wstring>& names, std::string& problem);

}  // namespace QuarantineCommands
