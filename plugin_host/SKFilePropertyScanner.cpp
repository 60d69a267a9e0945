#include "plugin_host/SKFilePropertyScanner.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/system/FileVersionInfo.h"

static const wchar_t kLogSource[] = L"SKItem";
// The fixed suffixes "[SKItem(34)]" and "[SKItem(36)]" of the two version-resource lines.
static const int kNoVersionLine = 34;
static const int kVersionFailedLine = 36;

void SKFilePropertyScanner::Scan(const std::wstring& path, SKFile::VersionProperties& properties) {
    properties.scanned = true;
    CFileVersionInfo versionInfo;
    if (!versionInfo.Create(path)) {
        const DWORD error = GetLastError();
        if (error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND) {
            TW_LOG_AT(kNoVersionLine, LogLevel::Detail,
                      "SKFilePropertyScanner::Scan() versionInfo.Create() RESOURCE_DATA/TYPE_NOT_FOUND");
        } else {
            TW_LOG_AT(kVersionFailedLine, LogLevel::Error,
                      "SKFilePropertyScanner::Scan() versionInfo.Create() Error=%d", (int)error);
        }
        return;
    }
    properties.productName = versionInfo.ProductName;
    properties.productVersion = versionInfo.ProductVersion;
    properties.companyName = versionInfo.CompanyName;
    properties.fileDescription = versionInfo.FileDescription;
    properties.originalFileName = versionInfo.OriginalFileName;
    properties.fileVersion = versionInfo.FileVersion;
    const VS_FIXEDFILEINFO& fixed = versionInfo.fixedInfo;
    properties.numericFileVersion = std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." +
                                    std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"." +
                                    std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." +
                                    std::to_wstring(LOWORD(fixed.dwFileVersionLS));
}
