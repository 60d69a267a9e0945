#pragma once

// Exit codes of RunMendrel.exe. Codes 2 to 5 mean that nothing on the system was changed.
namespace MendrelExitCode {
// The removal: -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<DLL>"
constexpr int Removed = 0;             // every matching service and the DLL are gone
constexpr int RemovedAfterRestart = 1; // services gone; the DLL goes at the next restart
constexpr int BadCommandLine = 2;      // not the engine's command line, or -GCPATH not an absolute path
constexpr int NoMatchingService = 3;   // no netsvcs service uses that DLL
constexpr int TrustedSigner = 4;       // the DLL is signed by a trusted signer: refused
constexpr int QuarantineFailed = 5;    // the DLL or the service keys could not be put in quarantine: nothing deleted
constexpr int PartlyFailed = 6;        // some removal step failed; see the log

}  // namespace MendrelExitCode
