#pragma once
#include <string>

// A file as scanners see it: its path and properties worked out on demand.
class IFile {
public:
    virtual ~IFile() = default;
    virtual std::wstring GetPath() = 0;
    virtual std::wstring GetProductName() = 0;
    virtual std::wstring GetCompanyName() = 0;
    virtual std::wstring GetFileDescription() = 0;
    // The name of the trusted signer; empty when the file carries no trusted signature.
    virtual std::wstring GetSigner() = 0;
    // Computes the missing digests in one pass. 1 only when this call computed them.
    virtual int ComputeDigests(const unsigned char** sha1, const unsigned char** md5) = 0;
    // 1 when the digest is known afterwards (computing it if needed).
    virtual int GetSha1(const unsigned char** sha1) = 0;
    virtual int GetMd5(const unsigned char** md5) = 0;
    // The known flag, without computing.
    virtual int PeekSha1(const unsigned char** sha1) = 0;
    virtual int PeekMd5(const unsigned char** md5) = 0;
    // Takes a digest someone else computed, unless one is already known.
    virtual void SetSha1(const unsigned char (&sha1)[20]) = 0;
    virtual void SetMd5(const unsigned char (&md5)[16]) = 0;
};
