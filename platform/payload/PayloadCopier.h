#pragma once
// Finds the payload archive behind the program's image and copies it out. Kept free of Win32 types so
// that the search can be exercised on any byte stream.
#include <cstddef>
#include <cstdint>
#include <string>

// Where the program's bytes come from.
class IPayloadSource {
public:
    virtual ~IPayloadSource() = default;
    // Reads up to `size` bytes; `*got` = 0 at the end of the data. False on a read error.
    virtual bool Read(unsigned char* buffer, std::size_t size, std::size_t* got) = 0;
};

// Where the archive's bytes go. Write failures are not reported: a damaged copy shows up when the
// archive is unpacked.
class IPayloadSink {
public:
    virtual ~IPayloadSink() = default;
    virtual void Write(const unsigned char* data, std::size_t size) = 0;
};

enum class PayloadCopyResult {
    Copied,                    // the marker was found and everything behind it was copied
    ReadFailed,                // the source reported a read error during the search
    MarkerBeyondLimit,         // no marker within the first 2 MiB (plus one window)
    EndOfFileBeforeMarker,     // the source ended without a marker
};

// Streams the source through one 4096-byte window: the marker is searched in the window (which keeps
// the last 26 bytes between reads so that a marker split across two reads is still found), and from the
// byte after the marker on everything is passed to the sink.
class PayloadCopier {
public:
    static constexpr std::size_t kWindowSize = 4096;
    static constexpr uint64_t kSearchLimit = 2097152;
    static constexpr std::size_t kMarkerLength = 27;

    // The marker text. It is joined at run time from two halves so that the program's own image never
    // holds it in one piece (the first occurrence in the file counts as the payload's start).
    static std::string Marker();

    PayloadCopyResult Copy(IPayloadSource& source, IPayloadSink& sink);

    // Offset of the archive's first byte in the source, valid after Copied.
    uint64_t PayloadOffset() const { return payloadOffset_; }

private:
    uint64_t payloadOffset_ = 0;
};
