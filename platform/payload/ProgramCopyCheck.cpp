#include "platform/payload/ProgramCopyCheck.h"

#include <algorithm>
#include <cstring>

#include "platform/payload/PayloadCopier.h"

ProgramCopyCheck ProgramCopyCheck::OfThisProgram(bool& ready) {
    ImageStamp image;
    std::size_t fieldOffset = 0;
    const PayloadStamp payload = PayloadStamp::OfThisImage();
    ready = ImageStamp::OfThisImage(image, fieldOffset) && payload.IsSet();
    return ProgramCopyCheck(image, fieldOffset, payload);
}

ProgramCopyCheck::Verdict ProgramCopyCheck::Judge(const unsigned char* file, std::size_t size) const {
    // The payload starts behind the first marker, within the distance the program searches.
    const std::string marker = PayloadCopier::Marker();
    const std::size_t searched = std::min<std::size_t>(size, PayloadCopier::kSearchLimit + PayloadCopier::kWindowSize);
    const unsigned char* end = file + searched;
    const unsigned char* at = std::search(file, end, marker.begin(), marker.end());
    if (at == end) return Verdict::NoMarker;
    const std::size_t imageSize = static_cast<std::size_t>(at - file);
    ImageStamp image;
    if (!ImageStamp::Of(file, imageSize, imageFieldOffset_, image) || !(image == image_) ||
        std::memcmp(file + imageFieldOffset_, image_.sha256, sizeof image_.sha256) != 0)
        return Verdict::ImageDiffers;
    const std::size_t payloadStart = imageSize + marker.size();
    if (size - payloadStart < payload_.size) return Verdict::PayloadDiffers;
    const PayloadStamp payload = PayloadStamp::Of(file + payloadStart, static_cast<std::size_t>(payload_.size));
    return payload == payload_ ? Verdict::Same : Verdict::PayloadDiffers;
}

const wchar_t* ProgramCopyCheck::Describe(Verdict verdict) {
    switch (verdict) {
    case Verdict::Same: return L"the program as it was started";
    case Verdict::NoMarker: return L"no payload behind the image";
    case Verdict::ImageDiffers: return L"another image than the one that was started";
    case Verdict::PayloadDiffers: return L"another payload than the one this program was built with";
    }
    return L"";
}
