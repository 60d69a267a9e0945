#pragma once
#include <string>

#include "platform/payload/PayloadStamp.h"

// The payload behind the program's image: a 7z archive with the plug-in and its companion programs,
// copied out into the work folder as "Real.7z", unpacked there and deleted.

// Results of Extract7z besides the decoder's own codes.
namespace PackageResult {
constexpr int kOk = 0;
constexpr int kCannotOpenArchive = 1;
constexpr int kOutOfMemory = 2;
constexpr int kCannotWriteFile = 11;
// An entry name would land outside the folder (absolute, drive, "..", device); nothing was written.
constexpr int kUnsafeEntryName = 20;
// The target folder is empty or the root of a drive; nothing was written.
constexpr int kUnsafeFolder = 21;
}  // namespace PackageResult

// Unpacks the payload into the work folder (no trailing separator), only when the copy is exactly the
// archive this image was built with. True when every component is in place; on failure "Real.7z" is
// left in the folder.
bool PrepareComponents(const std::wstring& folder);
// The same with the payload of any file that carries one, checked against `expected`.
bool PrepareComponentsFrom(const wchar_t* sfxPath, const std::wstring& folder, const PayloadStamp& expected);

// Copies the archive behind the marker in the program's own file to `archivePath`.
bool DropPayloadArchive(const wchar_t* archivePath);
// The same from any file carrying a payload.
bool DropPayloadArchiveFrom(const wchar_t* sfxPath, const wchar_t* archivePath);

// Unpacks `archivePath` into `folder`; logs the failure. True on success.
bool unzipSfxPayload(const wchar_t* archivePath, const wchar_t* folder);

// 0 when every entry was written; otherwise a PackageResult code or the decoder's result code.
int Extract7z(const wchar_t* archivePath, const wchar_t* folder);
