#pragma once
#include <string>

// True when the file is signed (embedded or through a system catalog) by one of the trusted signers.
bool IsSignedByTrustedSigner(const std::wstring& path);
