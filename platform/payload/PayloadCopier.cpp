#include "platform/payload/PayloadCopier.h"

#include <algorithm>
#include <cstring>

namespace {

const char kMarkerHead[] = "quorvel";
const char kMarkerTail[] = " tidewash clean tool";

// Offset of the first marker in window[0, filled), or `filled` when there is none.
std::size_t FindMarker(const unsigned char* window, std::size_t filled, const std::string& marker) {
    if (filled < marker.size()) return filled;
    const std::size_t last = filled - marker.size();
    const unsigned char first = static_cast<unsigned char>(marker[0]);
    for (std::size_t p = 0; p <= last;) {
        const void* hit = std::memchr(window + p, first, last - p + 1);
        if (hit == nullptr) break;
        p = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - window);
        if (std::memcmp(window + p, marker.data(), marker.size()) == 0) return p;
        ++p;
    }
    return filled;
}

}  // namespace

std::string PayloadCopier::Marker() {
    std::string marker(kMarkerHead);
    marker += kMarkerTail;
    return marker;
}

PayloadCopyResult PayloadCopier::Copy(IPayloadSource& source, IPayloadSink& sink) {
    const std::string marker = Marker();
    unsigned char window[kWindowSize];
    std::size_t kept = 0;
    uint64_t passed = 0;
    for (;;) {
        std::size_t got = 0;
        if (!source.Read(window + kept, kWindowSize - kept, &got)) return PayloadCopyResult::ReadFailed;
        if (got == 0) return PayloadCopyResult::EndOfFileBeforeMarker;
        const std::size_t filled = kept + got;

        const std::size_t at = FindMarker(window, filled, marker);
        if (at != filled) {
            const std::size_t start = at + marker.size();
            payloadOffset_ = passed + start;
            // The bytes already in the window are the archive's first bytes.
            if (start < filled) sink.Write(window + start, filled - start);
            for (;;) {
                std::size_t chunk = 0;
                if (!source.Read(window, kWindowSize, &chunk) || chunk == 0) break;
                sink.Write(window, chunk);
            }
            return PayloadCopyResult::Copied;
        }

        // Keep the tail that could still be the start of a marker completed by the next read.
        const std::size_t keep = std::min(filled, marker.size() - 1);
        std::memmove(window, window + filled - keep, keep);
        passed += filled - keep;
        kept = keep;
        if (passed > kSearchLimit) return PayloadCopyResult::MarkerBeyondLimit;
    }
}
