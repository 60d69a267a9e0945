#pragma once

// Exit codes of RunMendrel.exe. Codes 2 to 5 and 7 to 17 mean that nothing on the system was changed.
namespace MendrelExitCode {
// The removal: -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<DLL>"
constexpr int Removed = 0;             // every matching service and the DLL are gone
constexpr int RemovedAfterRestart = 1; // services gone; the DLL goes at the next restart
constexpr int BadCommandLine = 2;      // none of the engine's command lines, or -GCPATH not an absolute path
constexpr int NoMatchingService = 3;   // no netsvcs service uses that DLL
constexpr int TrustedSigner = 4;       // the DLL is signed by a trusted signer: refused (services stopped to read
                                       // it are started again)
constexpr int QuarantineFailed = 5;    // the DLL could not be put in quarantine, or its folder fails its check:
                                       // nothing deleted (the service keys are saved as far as they can be)
constexpr int PartlyFailed = 6;        // some removal step failed, or memory ran out; see the log

// -list: one line per quarantined item on standard output. -restore=<SHA-1>: the file and its service
// keys put back as they were, the item marked restored.
constexpr int Listed = 0;
constexpr int Restored = 0;
constexpr int QuarantineUnreadable = 7; // the manifest, the stored file or the saved keys are missing, damaged,
                                        // malformed, or do not match the entry (path, services, SHA-1, owner)
constexpr int NotQuarantined = 8;       // no item with that SHA-1 is in quarantine (none, or restored already)
constexpr int RestoreRefused = 9;       // the original path is taken or a service key exists
constexpr int RestoreFailed = 10;       // writing the file, a key or the manifest failed; what was written is undone

constexpr int SignatureUnchecked = 11;  // removal: the DLL cannot be read, so its signer cannot be checked; nothing
                                        // removed (services stopped to let go of it are started again)
constexpr int QuarantineFolderRefused = 12;  // -list / -restore: the quarantine folder, or one above it, is a link,
                                             // not a folder, or not owned by Administrators or SYSTEM; nothing read

// -autorun=off: Removed (0) when AutoRun is off for good now (or was already); QuarantineFailed (5) when
// the values found could not be kept. -restore=<SHA-1> of such an item: the codes above.
constexpr int AutoRunRefused = 13;  // a key on the way is a registry link, or the values changed meanwhile
constexpr int AutoRunFailed = 14;   // reading or writing a value failed; what was written is put back

// -COPY= (the worm's copy on a removable or network drive, with its autorun.inf) and -TASK= (a scheduled
// task of the worm): Removed (0) when it is gone and kept in the quarantine; QuarantineFailed (5) when it
// could not be kept, nothing changed. -restore=<id> of such an item: the codes above; RestoreRefused (9)
// also when the copy's drive now holds another volume.
constexpr int ReadOnlyMedium = 15;  // the drive is write-protected or will not take a change; nothing changed
constexpr int NoLongerProven = 16;  // the file, its autorun.inf or the task is no longer what the scan proved;
                                    // nothing changed
constexpr int TaskSchedulerFailed = 17;  // the Task Scheduler would not remove or register the task; nothing
                                         // changed (what was changed is put back)
}  // namespace MendrelExitCode
