#include "grimlet/common/WormCopyEvidence.h"

namespace {

bool IsSha1Hex(const std::string& text) {
    if (text.size() != 40) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

bool SameHex(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        char a = left[i], b = right[i];
        if (a >= 'a' && a <= 'f') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'f') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

}  // namespace

WormCopyVerdict DecideWormCopy(const WormCopyFacts& facts, const std::vector<std::string>& provenSha1) {
    if (IsSha1Hex(facts.sha1))
        for (const std::string& proven : provenSha1)
            if (IsSha1Hex(proven) && SameHex(facts.sha1, proven)) return WormCopyVerdict::SameAsProven;
    if (facts.drive == CopyDrive::Removable && facts.peDll == Fact::Yes && facts.trustedSigned == Fact::No &&
        facts.fileHiddenSystem == Fact::Yes && facts.infHiddenSystem == Fact::Yes)
        return WormCopyVerdict::InfectedStick;
    return WormCopyVerdict::NotWorm;
}

const char* WormCopyVerdictName(WormCopyVerdict verdict) {
    switch (verdict) {
    case WormCopyVerdict::SameAsProven: return "same as a proven worm DLL";
    case WormCopyVerdict::InfectedStick: return "unsigned hidden system DLL started by a hidden system autorun.inf";
    case WormCopyVerdict::NotWorm: break;
    }
    return "not the worm's";
}
