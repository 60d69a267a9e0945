#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The version resource of one file: the fixed block and the twelve standard strings of the
// translation that best fits the user's language.
class CFileVersionInfo {
public:
    CFileVersionInfo() { Reset(); }
    virtual ~CFileVersionInfo() = default;
    virtual void Reset();

    bool Create(const std::wstring& path);

    // Picks the translation entry (low word language, high word code page) by the user's language,
    // then language neutral, then English, then the first entry. -1 when the list is empty.
    static int PickTranslation(const std::vector<uint32_t>& translations, uint16_t userLanguage);

    VS_FIXEDFILEINFO fixedInfo;
    std::wstring CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, OriginalFileName,
        ProductName, ProductVersion, Comments, LegalTrademarks, PrivateBuild, SpecialBuild;
};
