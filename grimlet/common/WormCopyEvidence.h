#pragma once
// Whether a file that an autorun.inf starts through rundll32 is the worm's copy. A stick or a share
// holds the user's files, so only positive evidence counts; every fact is gathered by the caller
// from the handles it opened, and what could not be learned is passed as unknown, never guessed.
#include <string>
#include <vector>

enum class CopyDrive { Removable, Remote };

// A fact the caller could establish, refute, or not check.
enum class Fact { No, Yes, Unknown };

struct WormCopyFacts {
    CopyDrive drive = CopyDrive::Remote;
    std::string sha1;         // the file's SHA-1 as hex; empty when it could not be read
    Fact peDll = Fact::Unknown;       // a well-formed PE image with the DLL flag
    Fact trustedSigned = Fact::Unknown;  // carries a signature that verifies
    Fact fileHiddenSystem = Fact::Unknown;
    Fact infHiddenSystem = Fact::Unknown;
};

enum class WormCopyVerdict {
    NotWorm,        // leave it alone
    SameAsProven,   // the very bytes of a worm DLL proven on this machine in this scan
    InfectedStick,  // the worm's traces from another machine: see DecideWormCopy
};

// SameAsProven when the SHA-1 equals one of `provenSha1` (hex, any case). Otherwise, on a removable
// drive only, InfectedStick when the file is a PE DLL without a trusted signature and both it and the
// autorun.inf are hidden and system: the worm marks its copy and its starter so on every stick it
// infects, and a user's or vendor's stick is not shaped so. A share is never judged on attributes: a
// file server's admin tools or a roaming profile may look alike. Anything unknown counts as not
// shown.
WormCopyVerdict DecideWormCopy(const WormCopyFacts& facts, const std::vector<std::string>& provenSha1);

const char* WormCopyVerdictName(WormCopyVerdict verdict);
