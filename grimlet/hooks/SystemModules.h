#pragma once
// System modules as the hook test knows them: the file that the system folder of a process's bitness
// holds (never a path the process names), and where the process has mapped that very file.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "grimlet/pe/PeFileImage.h"

// The folder a process loads its system modules from: SysWOW64 for a 32-bit process under WOW64,
// System32 otherwise.
enum class SystemFolder { System32, SysWow64 };
bool SystemFolderOf(HANDLE process, SystemFolder& folder);
// The last two names of a mapping's path, lower case ("system32\dnsapi.dll"): what tells a system
// module, in the forms both Windows (\Device\...) and Wine (\??\C:\...) give.
std::wstring LastTwoNames(const std::wstring& path);
std::wstring SystemFolderPath(SystemFolder folder);

// The system folders' module files, each read once for the object's lifetime (one scan). A file is read
// only when it is a plain local file: a link, a folder, a device or a pipe under the name is refused.
class SystemModuleFiles {
public:
    // Null when the file cannot be read or is no PE image.
    const PeFileImage* File(SystemFolder folder, const std::string& module);

    // Where an export really lives once forwarders are followed (a few hops, within the same folder).
    struct Entry {
        std::string module;  // lower case, with its extension
        uint32_t rva = 0;
        const PeFileImage* file = nullptr;
    };
    bool Resolve(SystemFolder folder, const std::string& module, const std::string& entry, Entry& resolved);

private:
    std::map<std::wstring, std::unique_ptr<PeFileImage>> files_;  // null: read and refused
};

// Reads a whole file that must be a plain local file; false for anything else, or beyond `limit`.
bool ReadPlainLocalFile(const std::wstring& path, uint32_t limit, std::vector<uint8_t>& bytes);

// The modules of one process, listed once, each matched to a system folder's file by the name the
// system gives its mapping and by its headers, which must be that file's.
class RemoteSystemModules {
public:
    explicit RemoteSystemModules(HANDLE process);
    RemoteSystemModules(const RemoteSystemModules&) = delete;
    RemoteSystemModules& operator=(const RemoteSystemModules&) = delete;

    bool Listed() const { return listed_; }
    // The base of the mapping of `file` (the system folder's `module`), or 0 when the process has none.
    uintptr_t BaseOf(const std::string& module, const PeFileImage& file);

private:
    struct Module {
        uintptr_t base = 0;
        bool named = false;
        std::wstring mappedTail;  // the mapping's last two names, lower case ("system32\dnsapi.dll")
    };
    HANDLE process_;
    bool listed_ = false;
    std::vector<Module> modules_;
    std::map<std::string, uintptr_t> found_;
};

// The file's bytes at `rva` as they stand in an image mapped at `base`, base relocations applied: how
// many of the `count` asked for could be given (0 when the relocations cannot be read).
uint32_t FileBytesAsMapped(const PeFileImage& file, uintptr_t base, uint32_t rva, uint32_t count, uint8_t* out);
