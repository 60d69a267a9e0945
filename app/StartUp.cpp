#include "app/StartUp.h"

#include <windows.h>

#include "app/DialogRunner.h"
#include "platform/log/Logger.h"
#include "platform/payload/PackageManager.h"
#include "platform/system/FileUtility.h"

namespace startup {

const wchar_t kWorkFolderName[] = L"GRIMLET专杀";

namespace {

const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kPrepareFailed[] = L"初始化组件失败";

}  // namespace

int Run() {
    const std::wstring workFolder = GetFullPath(kWorkFolderName);
    // A folder left by an earlier run is replaced; failures show up when the payload is unpacked. An
    // unresolved (empty) path names no folder at all: nothing is deleted or created, and the unpacking
    // refuses it.
    if (!workFolder.empty()) {
        RemoveDirectoryRecursiveW(workFolder);
        CreateDirectoryRecursive(workFolder, true);
    }
    CurrentDirectoryGuard inWorkFolder(workFolder);

    int exitCode;
    {
        Logger logger;
        if (!PrepareComponents(workFolder)) {
            MessageBoxW(nullptr, kPrepareFailed, kCaption, MB_ICONERROR);
            exitCode = -1;
        } else {
            exitCode = RunDetectionDialog();
        }
    }  // the logger's event-trace registration goes here, before the directory is restored
    return exitCode;
}

}  // namespace startup
