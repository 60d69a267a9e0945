#include "app/PreparedWorkFolder.h"

#include "app/StartUp.h"
#include "platform/payload/PackageManager.h"

namespace {

// A folder left by an earlier run is replaced; failures show up when the payload is unpacked. An
// unresolved (empty) path names no folder at all: nothing is deleted or created, and the unpacking
// refuses it.
std::wstring FreshWorkFolder() {
    const std::wstring path = GetFullPath(startup::kWorkFolderName);
    if (!path.empty()) {
        RemoveDirectoryRecursiveW(path);
        CreateDirectoryRecursive(path, true);
    }
    return path;
}

}  // namespace

PreparedWorkFolder::PreparedWorkFolder()
    : path_(FreshWorkFolder()), inWorkFolder_(path_), logger_(), prepared_(PrepareComponents(path_)) {}
