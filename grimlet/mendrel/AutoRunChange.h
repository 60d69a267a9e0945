#pragma once
// RunMendrel.exe -autorun=off, and the way back: turns AutoRun off for good (the Autorun.inf mapping
// and NoDriveTypeAutoRun = 0xFF, native registry view) after saving the values found, absent ones
// included, as a regedit file in the quarantine; and puts exactly those back. Each returns one of
// MendrelExitCode.
#include <vector>

#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/RegFile.h"
#include "platform/system/AutoRunSetting.h"

// The two keys and their one value each, as they were found; a value of an absent key is absent.
struct AutoRunSnapshot {
    bool mappingKey = false;
    bool policyKey = false;
    RegistryValueFacts mapping;
    RegistryValueFacts noDriveType;

    bool operator==(const AutoRunSnapshot& other) const {
        return mappingKey == other.mappingKey && policyKey == other.policyKey && mapping == other.mapping &&
               noDriveType == other.noDriveType;
    }
    bool operator!=(const AutoRunSnapshot& other) const { return !(*this == other); }
    AutoRunFacts Facts() const;
};

namespace AutoRunChange {

// What the change leaves: both keys, the mapping and the policy set.
AutoRunSnapshot TurnedOff();

// The two keys as a saved file holds them: each with its one value or its deletion, or as a deleted key.
std::vector<RegFileKey> SavedKeys(const AutoRunSnapshot& snapshot);
// The reverse, refusing (false) anything but those two keys, in that order, with only their one value.
bool SnapshotOf(const std::vector<RegFileKey>& keys, AutoRunSnapshot& snapshot);
// The entry's id: the SHA-1 of the saved file's bytes.
std::string IdOf(const std::vector<RegFileKey>& keys);

// Already off: nothing changed, Removed. Otherwise the values are saved and recorded first
// (QuarantineFailed when that fails, nothing changed), read again just before they are written, and
// written; AutoRunRefused when a key on the way is a registry link or changed meanwhile, AutoRunFailed
// when a write fails (what was written is put back).
int TurnOff(QuarantineStore& store);

// Puts back what `entry` (kind autorun) saved: a value that was absent is deleted, a key that was
// absent goes once it is empty. Refused (RestoreRefused, nothing changed) unless the values are still
// the ones the change wrote.
int Restore(QuarantineStore& store, const QuarantineEntry& entry);

}  // namespace AutoRunChange
