#pragma once
#include <string>

// Answers whether a file is signed by one of the trusted signers; the checks take it as a parameter so
// that tests can stand in for the signature check.
using TrustedSignerTest = bool (*)(const std::wstring& path);

// True when the file is signed (embedded or through a system catalog) by one of the trusted signers.
bool IsSignedByTrustedSigner(const std::wstring& path);
