// Test probe of the signing test (check_signing.sh): what WinVerifyTrust says of one file's embedded
// signature, without any window and without revocation checks.
// usage: verify_trust.exe <path>   prints and returns 0 for a signature whose digest matches the file
// (with the chain trusted or, for a throw-away root, CERT_E_UNTRUSTEDROOT), 1 otherwise, 2 on bad use.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = argv[1];
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    std::printf("0x%08lX\n", static_cast<unsigned long>(result));
    return result == ERROR_SUCCESS || result == static_cast<LONG>(CERT_E_UNTRUSTEDROOT) ? 0 : 1;
}
