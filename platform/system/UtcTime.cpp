#include "platform/system/UtcTime.h"

#include <cwchar>

std::wstring IsoUtcText(const SYSTEMTIME& utc) {
    wchar_t text[32];
    _snwprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
               utc.wSecond);
    text[31] = L'\0';
    return text;
}

std::wstring IsoUtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return IsoUtcText(now);
}
