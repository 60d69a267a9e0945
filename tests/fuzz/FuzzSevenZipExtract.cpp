// 7z extraction through the LZMA SDK into a scratch folder: the archive database, the decoders and the
// walk that creates folders and files, with the refusal of names that would leave the folder. The input
// is the archive itself.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "7zCrc.h"

#include "platform/payload/ArchiveExtractor.h"
#include "platform/payload/MemoryArchiveInStream.h"
#include "platform/payload/PackageManager.h"
#include "platform/payload/SevenZipArchive.h"

namespace {

std::string g_scratch;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void EmptyScratch() {
    nftw(g_scratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    mkdir(g_scratch.c_str(), 0700);
}

bool ScratchIsEmpty() { return rmdir(g_scratch.c_str()) == 0 && mkdir(g_scratch.c_str(), 0700) == 0; }

// Windows drops trailing dots and spaces from a path component, so "..", ". ." and ".. " all climb.
bool ClimbsOnWindows(const std::u16string& component) {
    std::size_t dots = 0;
    for (char16_t c : component) {
        if (c == u'.') {
            ++dots;
        } else if (c != u' ') {
            return false;
        }
    }
    return dots >= 2;
}

// An independent look at a name handed out for writing: it must stay inside the folder on Windows.
void CheckStaysInside(const std::u16string& name) {
    if (!name.empty() && (name[0] == u'/' || name[0] == u'\\')) abort();
    if (name.find(u':') != std::u16string::npos) abort();
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && name[end] != u'/' && name[end] != u'\\') ++end;
        if (ClimbsOnWindows(name.substr(start, end - start))) abort();
        start = end + 1;
    }
}

// The folder on Linux, with Windows's separators; characters beyond ASCII become '_' (they cannot
// make a separator or a dot).
class ScratchTarget final : public IExtractTarget {
public:
    void Refused(const std::u16string&, EntryNameVerdict verdict) override {
        if (verdict == EntryNameVerdict::Inside) abort();
        ++refusals;
    }
    void CreateFolder(const std::u16string& name) override {
        CheckStaysInside(name);
        mkdir(Path(name).c_str(), 0700);
    }
    bool StoreFile(const std::u16string& name, const unsigned char* data, std::size_t size) override {
        CheckStaysInside(name);
        if (size != 0 && data == nullptr) abort();
        const int file = open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
        if (file < 0) return false;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t written = write(file, data + done, size - done);
            if (written <= 0) break;
            done += static_cast<std::size_t>(written);
        }
        return close(file) == 0 && done == size;
    }
    void SetAttributes(const std::u16string& name, uint32_t) override { CheckStaysInside(name); }

    int refusals = 0;

private:
    static std::string Path(const std::u16string& name) {
        std::string path = g_scratch + "/";
        for (char16_t c : name) {
            if (c == u'\\') {
                path.push_back('/');
            } else if (c >= 0x20 && c < 0x7F) {
                path.push_back(static_cast<char>(c));
            } else {
                path.push_back('_');
            }
        }
        return path;
    }
};

void PutU32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Mutations almost always break the two header checksums, which would stop the decoder at its first
// look. A copy with them recomputed lets the fuzzer reach the database and the decoders behind them.
bool FixChecksums(std::vector<uint8_t>& bytes) {
    if (bytes.size() < 32 || memcmp(bytes.data(), "7z\xBC\xAF\x27\x1C", 6) != 0) return false;
    uint64_t offset = 0, size = 0;
    for (int i = 7; i >= 0; --i) {
        offset = (offset << 8) | bytes[12 + i];
        size = (size << 8) | bytes[20 + i];
    }
    if (offset > bytes.size() - 32 || size > bytes.size() - 32 - offset) return false;
    PutU32(bytes, 28, CrcCalc(bytes.data() + 32 + offset, static_cast<std::size_t>(size)));
    PutU32(bytes, 8, CrcCalc(bytes.data() + 12, 20));
    return true;
}

void ExtractIntoScratch(const uint8_t* data, std::size_t size) {
    MemoryArchiveInStream stream(data, size);
    SevenZipArchive archive;
    if (archive.Open(stream) != 0) return;
    ScratchTarget target;
    const int result = ArchiveExtractor(target).Extract(archive);
    if (result == PackageResult::kUnsafeEntryName) {
        // Refused before anything was written.
        if (target.refusals != 1 || !ScratchIsEmpty()) abort();
    } else if (target.refusals != 0) {
        abort();
    }
    EmptyScratch();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where the system offers it: every input writes its files.
    char pattern[] = "/dev/shm/tidewash-fuzz-7z-XXXXXX";
    char fallback[] = "/tmp/tidewash-fuzz-7z-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    if (made == nullptr) abort();
    g_scratch = made;
    CrcGenerateTable();
    atexit([] {
        nftw(g_scratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExtractIntoScratch(data, size);
    std::vector<uint8_t> fixed(data, data + size);
    if (FixChecksums(fixed) && memcmp(fixed.data(), data, 32) != 0) ExtractIntoScratch(fixed.data(), fixed.size());
    return 0;
}
