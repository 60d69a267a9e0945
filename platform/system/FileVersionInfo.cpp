#include "platform/system/FileVersionInfo.h"

#include <cstdio>
#include <cstring>

void CFileVersionInfo::Reset() {
    memset(&fixedInfo, 0, sizeof fixedInfo);
    for (std::wstring* field : {&CompanyName, &FileDescription, &FileVersion, &InternalName, &LegalCopyright,
                                &OriginalFileName, &ProductName, &ProductVersion, &Comments, &LegalTrademarks,
                                &PrivateBuild, &SpecialBuild}) {
        field->clear();
    }
}

int CFileVersionInfo::PickTranslation(const std::vector<uint32_t>& translations, uint16_t userLanguage) {
    auto language = [&](std::size_t i) { return static_cast<uint16_t>(translations[i] & 0xFFFF); };
    auto findExact = [&](uint16_t wanted) -> int {
        for (std::size_t i = 0; i < translations.size(); ++i)
            if (language(i) == wanted) return static_cast<int>(i);
        return -1;
    };
    auto findExactOrPrimary = [&](uint16_t wanted) -> int {
        int exact = findExact(wanted);
        if (exact >= 0) return exact;
        for (std::size_t i = 0; i < translations.size(); ++i)
            if ((language(i) & 0xFF) == (wanted & 0xFF)) return static_cast<int>(i);
        return -1;
    };
    if (translations.empty()) return -1;
    int pick = findExact(userLanguage);
    if (pick < 0) pick = findExactOrPrimary(userLanguage);
    if (pick < 0) pick = findExactOrPrimary(0);
    if (pick < 0) pick = findExactOrPrimary(9);
    if (pick < 0) pick = 0;
    return pick;
}

bool CFileVersionInfo::Create(const std::wstring& path) {
    Reset();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", &value, &length) && length == sizeof(VS_FIXEDFILEINFO)) {
        memcpy(&fixedInfo, value, sizeof fixedInfo);
    }

    std::vector<uint32_t> translations;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && value) {
        const auto* entries = static_cast<const uint16_t*>(value);
        for (UINT i = 0; i + 1 < length / 2; i += 2)
            translations.push_back(static_cast<uint32_t>(entries[i]) | (static_cast<uint32_t>(entries[i + 1]) << 16));
    }
    int pick = PickTranslation(translations, GetUserDefaultLangID());
    if (pick < 0) return true;

    wchar_t prefix[MAX_PATH];
    _snwprintf(prefix, MAX_PATH, L"\\StringFileInfo\\%04X%04X\\", translations[pick] & 0xFFFF,
               translations[pick] >> 16);
    prefix[MAX_PATH - 1] = L'\0';

    struct Field {
        const wchar_t* name;
        std::wstring* target;
    };
    const Field fields[] = {
        {L"CompanyName", &CompanyName},         {L"FileDescription", &FileDescription},
        {L"FileVersion", &FileVersion},         {L"InternalName", &InternalName},
        {L"LegalCopyright", &LegalCopyright},   {L"OriginalFileName", &OriginalFileName},
        {L"ProductName", &ProductName},         {L"ProductVersion", &ProductVersion},
        {L"Comments", &Comments},               {L"LegalTrademarks", &LegalTrademarks},
        {L"PrivateBuild", &PrivateBuild},       {L"SpecialBuild", &SpecialBuild},
    };
    for (const Field& field : fields) {
        wchar_t query[MAX_PATH];
        _snwprintf(query, MAX_PATH, L"%s%s", prefix, field.name);
        query[MAX_PATH - 1] = L'\0';
        wchar_t* text = nullptr;
        UINT textLength = 0;
        if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &textLength) && text) {
            *field.target = text;
        }
    }
    return true;
}
