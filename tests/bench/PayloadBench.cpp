// Throughput of the payload path on a payload of at least 20 MiB, in-process figures for
// tools/bench_payload.sh, which adds Debian's `7zz x` of the same archive, run natively, as the peer:
//  - Extract7z (the LZMA SDK decoder, one solid block in memory);
//  - the marker search and copy out of the program file (DropPayloadArchiveFrom, one 4096-byte window)
//    against a plain CopyFileW of the same file, both timed here.
// usage: payload_bench ARCHIVE.7z PROGRAM.exe   (PROGRAM = image + marker + ARCHIVE)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/payload/PackageManager.h"
#include "platform/system/FileUtility.h"
#include "tests/support/BenchClock.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

double NowSeconds() { return testsupport::NowMs() / 1e3; }

// Best of `runs`: the run least disturbed by the other work on the machine. -1 when the work failed.
double BestSeconds(int runs, const std::function<void()>& prepare, const std::function<bool()>& work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const double start = NowSeconds();
        if (!work()) return -1;
        best = std::min(best, NowSeconds() - start);
    }
    return best;
}

ULONGLONG FolderBytes(const std::wstring& folder) {
    ULONGLONG total = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            total += FolderBytes(folder + L"\\" + name);
        } else {
            total += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return total;
}

double Mib(ULONGLONG bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("payload_bench: needs a payload; run tools/bench_payload.sh\n");
        return 0;
    }
    const std::wstring archive = argv[1];
    const std::wstring program = argv[2];
    ScratchFolder scratch(L"payload_bench");

    const std::wstring out = scratch / L"out";
    const double extract = BestSeconds(
        3,
        [&] {
            RemoveDirectoryRecursiveW(out);
            CreateDirectoryW(out.c_str(), nullptr);
        },
        [&] { return Extract7z(archive.c_str(), out.c_str()) == 0; });
    const ULONGLONG unpacked = FolderBytes(out);
    std::printf("Extract7z: %.1f MiB unpacked, best of 3 %.4f s = %.1f MiB/s\n", Mib(unpacked), extract,
                extract > 0 ? Mib(unpacked) / extract : 0.0);

    const ULONGLONG programBytes = ReadFileBytes(program).size();
    const std::wstring dropped = scratch / L"Real.7z";
    const std::wstring copied = scratch / L"copy.exe";
    const double drop = BestSeconds(
        5, [&] { DeleteFileW(dropped.c_str()); }, [&] { return DropPayloadArchiveFrom(program.c_str(), dropped.c_str()); });
    const double copy = BestSeconds(
        5, [&] { DeleteFileW(copied.c_str()); }, [&] { return CopyFileW(program.c_str(), copied.c_str(), FALSE) != 0; });
    const bool same = ReadFileBytes(dropped) == ReadFileBytes(archive);
    std::printf("DropPayloadArchive: %.1f MiB program, best of 5 %.4f s = %.1f MiB/s%s\n", Mib(programBytes), drop,
                drop > 0 ? Mib(programBytes) / drop : 0.0, same ? "" : " (THE COPY DIFFERS FROM THE ARCHIVE)");
    std::printf("CopyFileW:          %.1f MiB program, best of 5 %.4f s = %.1f MiB/s\n", Mib(programBytes), copy,
                copy > 0 ? Mib(programBytes) / copy : 0.0);
    if (drop > 0 && copy > 0) std::printf("ratio DropPayloadArchive throughput / CopyFileW: %.2f\n", copy / drop);
    std::printf("RESULT extract_seconds=%.6f unpacked_bytes=%llu\n", extract, unpacked);
    return (same && extract > 0) ? 0 : 1;
}
