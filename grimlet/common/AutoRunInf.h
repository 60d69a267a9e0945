#pragma once
// An autorun.inf as Explorer reads it, for the worm's copies on removable and network drives. The
// worm writes these files itself, so the reader takes any bytes and is kept free of Win32 types: it
// is fuzzed natively. It only reads; whether the file the command names is the worm's is decided
// elsewhere, on evidence about that file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace AutoRunInf {

// Real autorun.inf files are a few hundred bytes. Anything bigger is not read at all (the caller
// reports the drive as unchecked) so that a shaped file cannot make the scan slow.
constexpr std::size_t kMaxBytes = 64 * 1024;

// One action that starts a program: "open", "shellexecute" or "shell\<verb>\command", as written
// (the key's case kept for showing), with its command line.
struct Action {
    std::u16string key;
    std::u16string command;
};

// The actions of both sections Explorer honours: [AutoRun], and [AutoRun.Amd64], which 64-bit
// Windows prefers. A stick travels between machines, so both count.
struct Contents {
    std::vector<Action> actions;
};

// Reads the file's bytes: UTF-16 LE with its byte-order mark, or 8-bit text (a UTF-8 mark is
// skipped). Section names and keys compare without regard to case; within a section the first of a
// key wins, later ones are ignored, as the profile functions do. Lines that are neither a section, a
// comment nor key=value are skipped. A byte above 0x7F of 8-bit text becomes U+FFFD: its code page is
// the writer's, and no path with it is ever resolved. False, with the reason, only for a file larger
// than kMaxBytes.
bool Parse(const std::vector<uint8_t>& bytes, Contents& contents, std::string& problem);

// The file that a command starts through rundll32 ("rundll32.exe x.dll,Entry", quoted or not, with
// or without a folder before rundll32), as a path relative to the root of drive `driveLetter`, which
// holds the autorun.inf, "." parts dropped. False when the command does not start rundll32, or its DLL
// lies elsewhere (another drive, a share, an environment variable) or cannot be named safely (".."
// parts, streams, wildcards, U+FFFD); `problem` then says why.
bool Rundll32Target(const std::u16string& command, char16_t driveLetter, std::u16string& relativePath,
                    std::string& problem);

}  // namespace AutoRunInf
