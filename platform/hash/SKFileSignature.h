#pragma once
#include <windows.h>

#include <string>

// Whether the file at `path` carries a trusted signature: first through the system's catalogs, then
// through its own embedded signature. The result tells whether the check could be carried out at all;
// `isSigned` is set only for a trusted signature whose signer name could be read into `signerName`.
bool VerifyFileSignature(const std::wstring& path, wchar_t (&signerName)[MAX_PATH], bool& isSigned);

// The display name of the signer of the PKCS #7 signature embedded in the file at `path`, cut to 259
// characters.
bool GetSignerName(const std::wstring& path, wchar_t (&signerName)[MAX_PATH]);
