#pragma once
// The removal of a worm copy on a drive and of a worm task: the cleanup engine proves each again on
// what it opens and keeps it in its quarantine; the plug-in starts it and then looks for itself
// whether the object is gone.
#include <string>

#include "grimlet/plugin/ScanRecord.h"

// "<folder>\RunMendrel" -assign=WORM_GRIMLET. -COPY="<copy>" -AUTORUN="<autorun.inf>" -SHA1=<hex>
std::wstring BuildDriveCopyCommandLine(const std::wstring& engineFolder, const std::wstring& copyPath,
                                       const std::wstring& infPath, const std::string& sha1);
// "<folder>\RunMendrel" -assign=WORM_GRIMLET. -TASK="<name>" -SHA1=<hex>
std::wstring BuildTaskCommandLine(const std::wstring& engineFolder, const std::wstring& taskName,
                                  const std::string& sha1);

// Done only when the engine said so and the object is gone when looked at afterwards; otherwise the
// engine's code on the plug-in's failure base, or failed when the engine never ended.
int EngineRemovalOutcome(bool engineEnded, int engineCode, bool goneNow);

// Whether files on the drive of `root` ("E:") can be changed, asked just before the removal (a stick
// may have been swapped, or its switch moved, since the scan).
using DriveWriteCheck = bool (*)(const std::wstring& root);
bool DriveTakesChangesNow(const std::wstring& root);

// A write-protected drive is not handed to the engine: the outcome is the engine's ReadOnlyMedium on the
// failure base, so that the report names the reason.
int CleanDriveCopyRecord(const ScanRecord& record);
int CleanDriveCopyRecordWith(const ScanRecord& record, const std::wstring& engineFolder, DriveWriteCheck writable);

int CleanWormTaskRecord(const ScanRecord& record);
int CleanWormTaskRecordWith(const ScanRecord& record, const std::wstring& engineFolder);
