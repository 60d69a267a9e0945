#pragma once
#include <cstddef>
#include <string>

#include "platform/payload/PayloadStamp.h"

// Whether the bytes of a program file are the running program's: its image to the byte (ImageStamp) and
// its payload (PayloadStamp). Only such bytes are run as the program's protected copy, whatever was put
// at the program's path after it started.
class ProgramCopyCheck {
public:
    enum class Verdict { Same, NoMarker, ImageDiffers, PayloadDiffers };

    ProgramCopyCheck(const ImageStamp& image, std::size_t imageFieldOffset, const PayloadStamp& payload)
        : image_(image), imageFieldOffset_(imageFieldOffset), payload_(payload) {}

    // The running program's own stamps; `ready` false when its image carries none that can be used.
    static ProgramCopyCheck OfThisProgram(bool& ready);

    Verdict Judge(const unsigned char* file, std::size_t size) const;
    static const wchar_t* Describe(Verdict verdict);

private:
    ImageStamp image_;
    std::size_t imageFieldOffset_;
    PayloadStamp payload_;
};
