// Walking a large tree with EnumFindImpl (through the file access layer, with the skip rule and full
// paths) against a plain FindFirstFileW/FindNextFileW walk in the same process. tools/bench_platform.sh
// runs it on a tree of 100,000 files and adds `find` over the same tree, run natively, as the outside
// peer.
// usage: dir_enum_bench [folder]   (without a folder: a tree of 5,000 files of its own)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/access/SKDirEnum.h"
#include "tests/support/BenchClock.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

double NowSeconds() { return testsupport::NowMs() / 1e3; }

struct Counts {
    long files = 0;
    long folders = 0;
};

Counts WalkWithEnumerator(const std::wstring& root) {
    Counts counts;
    std::vector<std::wstring> pending{root};
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    while (!pending.empty()) {
        DirEnumPtr dirEnum = CreateDirEnum(pending.back(), L"*");
        pending.pop_back();
        if (!First(dirEnum, path, attributes, size)) continue;
        do {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ++counts.folders;
                pending.push_back(path);
            } else {
                ++counts.files;
            }
        } while (Next(dirEnum, path, attributes, size));
    }
    return counts;
}

Counts WalkPlain(const std::wstring& root) {
    Counts counts;
    std::vector<std::wstring> pending{root};
    WIN32_FIND_DATAW data;
    while (!pending.empty()) {
        std::wstring folder = pending.back();
        pending.pop_back();
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if (data.cFileName[0] == L'.' &&
                (data.cFileName[1] == 0 || (data.cFileName[1] == L'.' && data.cFileName[2] == 0)))
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ++counts.folders;
                pending.push_back(folder + L"\\" + data.cFileName);
            } else {
                ++counts.files;
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return counts;
}

double Best(int runs, const std::function<Counts()>& walk, Counts& counts) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        double start = NowSeconds();
        counts = walk();
        best = std::min(best, NowSeconds() - start);
    }
    return best;
}

void MakeTree(const std::wstring& root, int folders, int filesPerFolder) {
    for (int d = 0; d < folders; ++d) {
        std::wstring folder = root + L"\\d" + std::to_wstring(d);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < filesPerFolder; ++f) {
            HANDLE file = CreateFileW((folder + L"\\f" + std::to_wstring(f) + L".txt").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::unique_ptr<ScratchFolder> scratch;
    std::wstring root;
    if (argc > 1) {
        root = argv[1];
    } else {
        scratch.reset(new ScratchFolder(L"enumbench"));
        root = scratch->Path();
        MakeTree(root, 20, 250);
    }
    Counts ours, plain;
    const double oursSeconds = Best(3, [&] { return WalkWithEnumerator(root); }, ours);
    const double plainSeconds = Best(3, [&] { return WalkPlain(root); }, plain);
    printf("tree: %ld files in %ld folders%s\n", ours.files, ours.folders,
           ours.files == plain.files && ours.folders == plain.folders ? "" : " (plain walk counted differently!)");
    printf("EnumFindImpl walk:           %7.3f s  %9.0f entries/s\n", oursSeconds,
           (ours.files + ours.folders) / oursSeconds);
    printf("plain FindFirstFileW walk:   %7.3f s  %9.0f entries/s  ratio ours/plain time %.2f\n", plainSeconds,
           (plain.files + plain.folders) / plainSeconds, oursSeconds / plainSeconds);
    printf("RESULT walk_seconds=%.4f files=%ld folders=%ld\n", oursSeconds, ours.files, ours.folders);
    return 0;
}
