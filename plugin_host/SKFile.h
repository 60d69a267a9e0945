#pragma once
#include <string>

#include "plugin_host/IFile.h"

// A file of the item model. Each property is worked out on the first request and kept: the version
// strings in one read of the version resource, the signer in one signature check, and both digests
// in one pass over the file.
class SKFile : public IFile {
public:
    explicit SKFile(std::wstring path);

    std::wstring GetPath() override { return path_; }
    std::wstring GetProductName() override;
    std::wstring GetCompanyName() override;
    std::wstring GetFileDescription() override;
    std::wstring GetSigner() override;
    int ComputeDigests(const unsigned char** sha1, const unsigned char** md5) override;
    int GetSha1(const unsigned char** sha1) override;
    int GetMd5(const unsigned char** md5) override;
    int PeekSha1(const unsigned char** sha1) override;
    int PeekMd5(const unsigned char** md5) override;
    void SetSha1(const unsigned char (&sha1)[20]) override;
    void SetMd5(const unsigned char (&md5)[16]) override;

    // The version strings, filled by SKFilePropertyScanner.
    struct VersionProperties {
        bool scanned = false;
        std::wstring productName, productVersion, companyName, fileDescription, originalFileName, fileVersion;
        std::wstring numericFileVersion;  // "a.b.c.d" from the fixed file version
    };
    const VersionProperties& Version();

private:
    enum SignerState { kNotSigned = 0, kSigned = 1, kNotChecked = 2 };

    std::wstring path_;
    int signerState_ = kNotChecked;
    std::wstring signerName_;
    VersionProperties version_;
    bool sha1Known_ = false;
    unsigned char sha1_[20] = {};
    bool md5Known_ = false;
    unsigned char md5_[16] = {};
};
