#include "plugin_host/SKFile.h"

#include <algorithm>
#include <cstring>

#include "platform/access/SKSmartFD.h"
#include "platform/hash/SKFileHash.h"
#include "platform/hash/SKFileSignature.h"
#include "plugin_host/SKFilePropertyScanner.h"

SKFile::SKFile(std::wstring path) : path_(std::move(path)) {}

const SKFile::VersionProperties& SKFile::Version() {
    if (!version_.scanned) SKFilePropertyScanner::Scan(path_, version_);
    return version_;
}

std::wstring SKFile::GetProductName() { return Version().productName; }
std::wstring SKFile::GetCompanyName() { return Version().companyName; }
std::wstring SKFile::GetFileDescription() { return Version().fileDescription; }

std::wstring SKFile::GetSigner() {
    if (signerState_ == kNotChecked) {
        wchar_t signer[MAX_PATH] = {};
        bool isSigned = false;
        if (VerifyFileSignature(path_, signer, isSigned) && isSigned) {
            signerState_ = kSigned;
            signerName_ = signer;
        } else {
            signerState_ = kNotSigned;
        }
    }
    return signerName_;
}

int SKFile::ComputeDigests(const unsigned char** sha1, const unsigned char** md5) {
    if (sha1) *sha1 = sha1_;
    if (md5) *md5 = md5_;
    if (sha1Known_ && md5Known_) return 0;
    SmartFD file(path_.c_str());
    if (!file.IsValid()) return 0;
    uint8_t newSha1[20];
    uint8_t newMd5[16];
    if (!HashFile(file, md5Known_ ? nullptr : newMd5, sha1Known_ ? nullptr : newSha1)) return 0;
    if (!sha1Known_) {
        std::memcpy(sha1_, newSha1, sizeof sha1_);
        sha1Known_ = true;
    }
    if (!md5Known_) {
        std::memcpy(md5_, newMd5, sizeof md5_);
        md5Known_ = true;
    }
    return 1;
}

int SKFile::GetSha1(const unsigned char** sha1) {
    if (sha1) *sha1 = sha1_;
    if (!sha1Known_) ComputeDigests(nullptr, nullptr);
    return sha1Known_ ? 1 : 0;
}

int SKFile::GetMd5(const unsigned char** md5) {
    if (md5) *md5 = md5_;
    if (!md5Known_) ComputeDigests(nullptr, nullptr);
    return md5Known_ ? 1 : 0;
}

int SKFile::PeekSha1(const unsigned char** sha1) {
    if (sha1) *sha1 = sha1_;
    return sha1Known_ ? 1 : 0;
}

int SKFile::PeekMd5(const unsigned char** md5) {
    if (md5) *md5 = md5_;
    return md5Known_ ? 1 : 0;
}

void SKFile::SetSha1(const unsigned char (&sha1)[20]) {
    if (sha1Known_) return;
    std::memcpy(sha1_, sha1, sizeof sha1_);
    sha1Known_ = true;
}

void SKFile::SetMd5(const unsigned char (&md5)[16]) {
    if (md5Known_) return;
    std::memcpy(md5_, md5, sizeof md5_);
    md5Known_ = true;
}
