// The marker search over the program's bytes through the 4096-byte window, and the copy behind it.
// Input: a 4-byte recipe, then the stream. The recipe sets how short the source's reads are, where a
// read error strikes and how much filler precedes the stream (to reach the 2 MiB search limit).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/payload/PayloadCopier.h"

namespace {

// The stream is `filler` zero bytes (never part of a marker) followed by the input's bytes.
class RecipeSource final : public IPayloadSource {
public:
    RecipeSource(const uint8_t* bytes, std::size_t size, std::size_t filler, std::size_t chunkSeed,
                 std::size_t failAtRead)
        : bytes_(bytes), size_(size), filler_(filler), chunkSeed_(chunkSeed), failAtRead_(failAtRead) {}
    bool Read(unsigned char* buffer, std::size_t size, std::size_t* got) override {
        *got = 0;
        if (++reads_ == failAtRead_) return false;
        // Reads vary in length like those of a pipe or a network file: 1 byte up to everything asked.
        const std::size_t limit = chunkSeed_ == 0 ? size : 1 + (chunkSeed_ * reads_ * 2654435761u) % (chunkSeed_ * 97);
        const std::size_t count = std::min({size, limit, filler_ + size_ - position_});
        const std::size_t zeros = position_ < filler_ ? std::min(count, filler_ - position_) : 0;
        memset(buffer, 0, zeros);
        if (count > zeros) memcpy(buffer + zeros, bytes_ + (position_ + zeros - filler_), count - zeros);
        position_ += count;
        *got = count;
        return true;
    }
    std::size_t reads() const { return reads_; }

private:
    const uint8_t* bytes_;
    std::size_t size_;
    std::size_t filler_;
    std::size_t chunkSeed_;
    std::size_t failAtRead_;
    std::size_t position_ = 0;
    std::size_t reads_ = 0;
};

class CollectingSink final : public IPayloadSink {
public:
    void Write(const unsigned char* data, std::size_t size) override {
        if (size == 0 || size > PayloadCopier::kWindowSize) abort();
        bytes.insert(bytes.end(), data, data + size);
    }
    std::vector<unsigned char> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const std::size_t chunkSeed = data[0] % 8 == 0 ? 0 : data[0];
    const std::size_t failAtRead = data[1] < 0xF0 ? 0 : 1 + (data[2] % 16);
    // Up to 2.5 MiB of filler in 64 KiB steps around the search limit.
    const std::size_t filler = data[3] < 0xF8 ? 0 : (28 + (data[3] - 0xF8) + (data[2] % 5)) * std::size_t{65536};
    const uint8_t* stream = data + 4;
    const std::size_t streamSize = size - 4;

    RecipeSource source(stream, streamSize, filler, chunkSeed, failAtRead);
    CollectingSink sink;
    PayloadCopier copier;
    const PayloadCopyResult result = copier.Copy(source, sink);

    const std::string marker = PayloadCopier::Marker();
    if (marker.size() != PayloadCopier::kMarkerLength) abort();
    const auto hit = std::search(stream, stream + streamSize, marker.begin(), marker.end());
    const bool hasMarker = hit != stream + streamSize;
    const uint64_t at = filler + static_cast<uint64_t>(hit - stream);
    switch (result) {
    case PayloadCopyResult::Copied:
        // The first marker in the stream, and exactly the bytes behind it.
        if (!hasMarker || copier.PayloadOffset() != at + marker.size()) abort();
        if (at > PayloadCopier::kSearchLimit + PayloadCopier::kWindowSize) abort();
        if (failAtRead == 0 && (sink.bytes.size() != filler + streamSize - copier.PayloadOffset() ||
                                !std::equal(sink.bytes.begin(), sink.bytes.end(),
                                            stream + (copier.PayloadOffset() - filler)))) {
            abort();
        }
        break;
    case PayloadCopyResult::EndOfFileBeforeMarker:
        if (hasMarker && failAtRead == 0) abort();
        if (!sink.bytes.empty()) abort();
        break;
    case PayloadCopyResult::MarkerBeyondLimit:
        // Everything up to the limit was searched.
        if (hasMarker && at + marker.size() <= PayloadCopier::kSearchLimit) abort();
        if (!sink.bytes.empty()) abort();
        break;
    case PayloadCopyResult::ReadFailed:
        if (failAtRead == 0 || source.reads() != failAtRead || !sink.bytes.empty()) abort();
        break;
    }
    return 0;
}
