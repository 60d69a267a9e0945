// Throughput of the one-pass SHA-1 + MD5 file digest (HashFile over SmartFD, 256 KiB blocks) against
// in-process peers on the same file: the system's CryptoAPI doing the same one pass, and the LZMA SDK's
// portable SHA-1 alone. tools/bench_platform.sh runs it on a 256 MiB file and adds sha1sum and md5sum,
// run natively on the same file, as the outside peers.
// usage: file_hash_bench [file]   (without a file: a 256 MiB file of its own in the temp folder)
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "Md5.h"
#include "Sha1.h"
#include "platform/access/SKSmartFD.h"
#include "platform/hash/SKFileHash.h"
#include "tests/support/BenchClock.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

double NowSeconds() { return testsupport::NowMs() / 1e3; }

std::string Hex(const uint8_t* bytes, std::size_t size) {
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

bool MakeFile(const std::wstring& path, DWORD mebibytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::unique_ptr<uint8_t[]> block(new uint8_t[1 << 20]);
    uint32_t x = 2463534242u;
    for (DWORD m = 0; m < mebibytes; ++m) {
        for (int i = 0; i < (1 << 20); ++i) {
            x ^= x << 13; x ^= x >> 17; x ^= x << 5;
            block[i] = static_cast<uint8_t>(x);
        }
        DWORD written = 0;
        WriteFile(file, block.get(), 1 << 20, &written, nullptr);
    }
    CloseHandle(file);
    return true;
}

// The same one pass through CryptoAPI: two hash objects fed the same 256 KiB blocks.
double CryptoApiSeconds(const std::wstring& path, std::string& sha1Hex) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return -1;
    HCRYPTHASH sha1 = 0, md5 = 0;
    CryptCreateHash(provider, CALG_SHA1, 0, 0, &sha1);
    CryptCreateHash(provider, CALG_MD5, 0, 0, &md5);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::unique_ptr<uint8_t[]> block(new uint8_t[262144]);
    double start = NowSeconds();
    DWORD got = 0;
    while (ReadFile(file, block.get(), 262144, &got, nullptr) && got) {
        CryptHashData(sha1, block.get(), got, 0);
        CryptHashData(md5, block.get(), got, 0);
    }
    BYTE value[20];
    DWORD length = sizeof value;
    CryptGetHashParam(sha1, HP_HASHVAL, value, &length, 0);
    double elapsed = NowSeconds() - start;
    sha1Hex = Hex(value, 20);
    CloseHandle(file);
    CryptDestroyHash(sha1);
    CryptDestroyHash(md5);
    CryptReleaseContext(provider, 0);
    return elapsed;
}

// One digest of the LZMA SDK alone over the file: SHA-1 with the given block function, or MD5.
double SingleDigestSeconds(const std::wstring& path, int sha1Algorithm /* 0 = MD5 */) {
    CSha1 sha1;
    CMd5 md5;
    Sha1_Init(&sha1);
    Md5_Init(&md5);
    if (sha1Algorithm && !Sha1_SetFunction(&sha1, static_cast<unsigned>(sha1Algorithm))) return -1;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::unique_ptr<uint8_t[]> block(new uint8_t[262144]);
    double start = NowSeconds();
    DWORD got = 0;
    while (ReadFile(file, block.get(), 262144, &got, nullptr) && got) {
        if (sha1Algorithm)
            Sha1_Update(&sha1, block.get(), got);
        else
            Md5_Update(&md5, block.get(), got);
    }
    Byte digest[20];
    if (sha1Algorithm)
        Sha1_Final(&sha1, digest);
    else
        Md5_Final(&md5, digest);
    double elapsed = NowSeconds() - start;
    CloseHandle(file);
    return elapsed;
}

double Best(int runs, const std::function<double()>& run) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) best = std::min(best, run());
    return best;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::unique_ptr<ScratchFolder> scratch;
    std::wstring path;
    if (argc > 1) {
        path = argv[1];
    } else {
        scratch.reset(new ScratchFolder(L"hashbench"));
        path = *scratch / L"bench.bin";
        if (!MakeFile(path, 256)) {
            printf("cannot make %ls\n", path.c_str());
            return 1;
        }
    }
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        printf("cannot open %ls\n", path.c_str());
        return 1;
    }
    const double mebibytes = static_cast<double>(GetFileSize(probe, nullptr)) / 1048576.0;
    CloseHandle(probe);

    uint8_t md5[16], sha1[20];
    bool ok = true;
    const double ours = Best(3, [&] {
        SmartFD file(path.c_str());
        double start = NowSeconds();
        ok = ok && HashFile(file, md5, sha1);
        return NowSeconds() - start;
    });
    std::string cryptoSha1;
    const double crypto = Best(3, [&] { return CryptoApiSeconds(path, cryptoSha1); });
    // HashFile has prepared the SHA-1 block functions by now.
    const double hardware = Best(3, [&] { return SingleDigestSeconds(path, SHA1_ALGO_HW); });
    const double portable = Best(3, [&] { return SingleDigestSeconds(path, SHA1_ALGO_SW); });
    const double md5Alone = Best(3, [&] { return SingleDigestSeconds(path, 0); });

    printf("file: %.0f MiB, sha1 %s md5 %s%s\n", mebibytes, Hex(sha1, 20).c_str(), Hex(md5, 16).c_str(),
           ok ? "" : " (HashFile FAILED)");
    printf("HashFile SHA-1+MD5 one pass:     %7.3f s  %7.1f MiB/s\n", ours, mebibytes / ours);
    printf("CryptoAPI SHA-1+MD5 one pass:    %7.3f s  %7.1f MiB/s  ratio ours/CryptoAPI throughput %.2f%s\n",
           crypto, mebibytes / crypto, crypto / ours, cryptoSha1 == Hex(sha1, 20) ? "" : " (digest differs!)");
    if (hardware > 0)
        printf("LZMA SDK SHA-1 alone, SHA instr: %7.3f s  %7.1f MiB/s\n", hardware, mebibytes / hardware);
    else
        printf("LZMA SDK SHA-1 alone, SHA instr: not available on this processor\n");
    printf("LZMA SDK SHA-1 alone, portable:  %7.3f s  %7.1f MiB/s\n", portable, mebibytes / portable);
    printf("LZMA SDK MD5 alone:              %7.3f s  %7.1f MiB/s\n", md5Alone, mebibytes / md5Alone);
    printf("RESULT one_pass_seconds=%.4f mib=%.1f\n", ours, mebibytes);
    return ok ? 0 : 1;
}
