#pragma once
// UTF-8 for the texts the tool writes for people and scripts (the unattended report, the quarantine
// manifest, RunMendrel's -list). Done by hand rather than by WideCharToMultiByte, whose handling of a
// lone surrogate differs between XP and later systems: here it always becomes U+FFFD.
#include <string>

std::string Utf8FromWide(const std::wstring& text);
// The reverse; malformed sequences become U+FFFD as the system decodes them.
std::wstring WideFromUtf8(const std::string& text);
