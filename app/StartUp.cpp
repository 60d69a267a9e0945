#include "app/StartUp.h"

#include <windows.h>

#include "app/DialogRunner.h"
#include "app/PreparedWorkFolder.h"

namespace startup {

const wchar_t kWorkFolderName[] = L"GRIMLET专杀";

namespace {

const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kPrepareFailed[] = L"初始化组件失败";

}  // namespace

int Run() {
    PreparedWorkFolder workFolder;
    if (!workFolder.Prepared()) {
        MessageBoxW(nullptr, kPrepareFailed, kCaption, MB_ICONERROR);
        return -1;
    }
    return RunDetectionDialog();
}

}  // namespace startup
