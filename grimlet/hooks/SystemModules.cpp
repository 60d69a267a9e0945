#include "grimlet/hooks/SystemModules.h"

#include <psapi.h>

#include <algorithm>
#include <cwctype>

#include "grimlet/pe/PeReadWindow.h"
#include "platform/system/Wow64.h"
#include "platform/win32/KernelHandle.h"

namespace {

constexpr DWORD kMaxModules = 1024;
constexpr int kMaxForwarderHops = 4;

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);


// The mapped headers describe the same image as the file: same machine, entry point, sections and
// exports. The name of a mapping says which file it came from; this says that it still is that file.
bool SameImage(const PeHeaders& mapped, const PeHeaders& file) {
    if (mapped.machine != file.machine || mapped.addressOfEntryPoint != file.addressOfEntryPoint ||
        mapped.sections.size() != file.sections.size() ||
        mapped.directories[0].virtualAddress != file.directories[0].virtualAddress ||
        mapped.directories[0].size != file.directories[0].size)
        return false;
    for (std::size_t i = 0; i < file.sections.size(); ++i)
        if (mapped.sections[i].virtualAddress != file.sections[i].virtualAddress ||
            mapped.sections[i].virtualSize != file.sections[i].virtualSize)
            return false;
    return true;
}

}  // namespace

std::wstring LastTwoNames(const std::wstring& path) {
    const std::wstring::size_type last = path.find_last_of(L'\\');
    if (last == std::wstring::npos || last == 0) return {};
    const std::wstring::size_type before = path.find_last_of(L'\\', last - 1);
    return Lower(path.substr(before == std::wstring::npos ? 0 : before + 1));
}

bool SystemFolderOf(HANDLE process, SystemFolder& folder) {
    // A 32-bit plug-in reaches only 32-bit processes: under WOW64 they are all WOW64 processes.
    if (sizeof(void*) == 4) {
        folder = IsWow64() ? SystemFolder::SysWow64 : SystemFolder::System32;
        return true;
    }
    static const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(process, &wow64)) return false;
    folder = wow64 ? SystemFolder::SysWow64 : SystemFolder::System32;
    return true;
}

std::wstring SystemFolderPath(SystemFolder folder) {
    wchar_t path[MAX_PATH] = {};
    const UINT length = folder == SystemFolder::SysWow64 ? GetSystemWow64DirectoryW(path, MAX_PATH)
                                                         : GetSystemDirectoryW(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool ReadPlainLocalFile(const std::wstring& path, uint32_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    // Not following a link placed under the name; a device or pipe is refused before any read, so that
    // nothing can make the read wait.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
    if (!file.IsValid() || GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information)) return false;
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (information.nFileSizeHigh != 0 || information.nFileSizeLow > limit) return false;
    bytes.resize(information.nFileSizeLow);
    DWORD total = 0;
    while (total < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), bytes.data() + total, static_cast<DWORD>(bytes.size() - total), &read, nullptr) ||
            read == 0)
            return false;
        total += read;
    }
    return true;
}

const PeFileImage* SystemModuleFiles::File(SystemFolder folder, const std::string& module) {
    const std::wstring folderPath = SystemFolderPath(folder);
    if (folderPath.empty() || module.empty() || module.find_first_of("\\/:") != std::string::npos) return nullptr;
    const std::wstring path = Lower(folderPath + L"\\" + Widen(module));
    auto known = files_.find(path);
    if (known == files_.end()) {
        std::unique_ptr<PeFileImage> image(new PeFileImage());
        std::vector<uint8_t> bytes;
        if (!ReadPlainLocalFile(path, PeFileImage::kMaxFileSize, bytes) || !image->Parse(std::move(bytes)))
            image.reset();
        known = files_.emplace(path, std::move(image)).first;
    }
    return known->second.get();
}

bool SystemModuleFiles::Resolve(SystemFolder folder, const std::string& module, const std::string& entry,
                                Entry& resolved) {
    std::string currentModule = LowerAscii(module);
    std::string currentEntry = entry;
    uint32_t ordinal = 0;
    for (int hop = 0; hop <= kMaxForwarderHops; ++hop) {
        const PeFileImage* file = File(folder, currentModule);
        if (!file) return false;
        uint32_t rva = 0;
        std::string forwarder;
        const PeFileImage::Export found = ordinal ? file->FindOrdinal(ordinal, rva, forwarder)
                                                  : file->FindExport(currentEntry, rva, forwarder);
        if (found == PeFileImage::Export::Missing) return false;
        if (found == PeFileImage::Export::Code) {
            resolved.module = currentModule;
            resolved.rva = rva;
            resolved.file = file;
            return true;
        }
        // "MODULE.Entry" or "MODULE.#ordinal"; an API set name is no file of the folder and fails there.
        const std::string::size_type dot = forwarder.find('.');
        currentModule = LowerAscii(forwarder.substr(0, dot)) + ".dll";
        currentEntry = forwarder.substr(dot + 1);
        ordinal = 0;
        if (!currentEntry.empty() && currentEntry[0] == '#') {
            ordinal = static_cast<uint32_t>(strtoul(currentEntry.c_str() + 1, nullptr, 10));
            if (ordinal == 0) return false;
        }
    }
    return false;
}

RemoteSystemModules::RemoteSystemModules(HANDLE process) : process_(process) {
    std::vector<HMODULE> handles(kMaxModules);
    DWORD needed = 0;
    if (!EnumProcessModules(process, handles.data(), static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed))
        return;
    handles.resize(std::min<std::size_t>(needed / sizeof(HMODULE), handles.size()));
    for (HMODULE handle : handles) {
        Module module;
        module.base = reinterpret_cast<uintptr_t>(handle);
        modules_.push_back(module);
    }
    listed_ = true;
}

uintptr_t RemoteSystemModules::BaseOf(const std::string& module, const PeFileImage& file) {
    const std::string key = LowerAscii(module);
    auto known = found_.find(key);
    if (known != found_.end()) return known->second;
    // Either system folder's name: Wine names the mapping of a 32-bit process's ntdll after System32.
    // The headers decide whether the mapping is the file of this process's folder.
    const std::wstring name = Widen(key);
    uintptr_t base = 0;
    for (Module& candidate : modules_) {
        if (!candidate.named) {
            candidate.named = true;
            wchar_t mapped[MAX_PATH * 2] = {};
            if (GetMappedFileNameW(process_, reinterpret_cast<void*>(candidate.base), mapped, MAX_PATH * 2))
                candidate.mappedTail = LastTwoNames(mapped);
        }
        if (candidate.mappedTail != L"system32\\" + name && candidate.mappedTail != L"syswow64\\" + name) continue;
        uint8_t headers[PeReadWindow::kSize] = {};
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_, reinterpret_cast<void*>(candidate.base), headers, sizeof headers, &read))
            continue;
        PeMemorySource source(headers, read);
        PeReadWindow window(source);
        PeHeaders mappedHeaders;
        if (!PeHeaders::Parse(window, mappedHeaders) || !SameImage(mappedHeaders, file.Headers())) continue;
        base = candidate.base;
        break;
    }
    found_.emplace(key, base);
    return base;
}

uint32_t FileBytesAsMapped(const PeFileImage& file, uintptr_t base, uint32_t rva, uint32_t count, uint8_t* out) {
    // As many bytes as the file holds for the range, up to `count`.
    uint32_t available = 0;
    while (available < count && file.BytesAt(rva + available, 1, out + available)) ++available;
    const uint64_t delta = static_cast<uint64_t>(base) - file.Headers().imageBase;
    if (available == 0 || delta == 0) return available;
    std::vector<PeFileImage::Fixup> fixups;
    if (!file.FixupsIn(rva, available, fixups)) return 0;
    for (const PeFileImage::Fixup& fixup : fixups) {
        // A value that starts before the range cannot be relocated from the bytes in it; one that runs
        // past its end shortens the range to where it starts.
        if (fixup.rva < rva) return 0;
        if (fixup.rva + fixup.width > rva + available) {
            available = fixup.rva - rva;
            continue;
        }
    }
    for (const PeFileImage::Fixup& fixup : fixups) {
        if (fixup.rva + fixup.width > rva + available) continue;
        uint8_t* at = out + (fixup.rva - rva);
        uint64_t value = 0;
        for (int i = fixup.width - 1; i >= 0; --i) value = (value << 8) | at[i];
        value += delta;
        for (int i = 0; i < fixup.width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return available;
}
