#pragma once
// Tells whether a file carries a trusted publisher's signature, in the file itself or through a
// system catalog.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSignerTrusted = 0;
constexpr uint32_t kSignerNotListed = 2;

// The publishers whose signature makes a service DLL trustworthy, built anew for every check.
std::vector<std::wstring> TrustedSignerList();

// 0: signed, and the signer's name equals an entry of `trustedSigners` exactly (case included);
// 2: signed by someone else; anything else: no signature could be verified (the value tells which
// step failed: embedded-signature codes are multiples of 0x100, catalog codes of 0x10000, and an
// unverifiable file gives both OR-ed together). Never fails otherwise.
// Afterwards CheckedSignerName() holds the signer with " [D]" (embedded) or " [C]" (catalog), or is
// empty when nothing was verified.
uint32_t CheckFileSigner(const std::wstring& path, const std::vector<std::wstring>& trustedSigners);

// The signer name of the last check; process-wide, overwritten by every check.
const wchar_t* CheckedSignerName();

// The two verification steps of the check, each 0 with the signer in CheckedSignerName() (no suffix)
// or its own failure code.
uint32_t VerifyEmbeddedSignature(const std::wstring& path);
uint32_t VerifyCatalogSignature(const std::wstring& path);

// Whether a catalog of this system vouches for the file, without reading the signer's name, so that it
// may run on any thread (CheckedSignerName is shared by the process): 0 when one does, the catalog step's
// code otherwise; kCatalogFileNotListed means that no catalog lists the file at all.
constexpr uint32_t kCatalogFileNotListed = 0x10000;
uint32_t VerifyCatalogTrust(const std::wstring& path);
