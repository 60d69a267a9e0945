#include "app/PreparedWorkFolder.h"

#include "platform/payload/PackageManager.h"

static const wchar_t kLogSource[] = L"StartUp";

namespace {

// The folder a guard may switch into: none at all when the work folder was not made, so that the run
// never works in a folder of that name that someone else put there.
std::wstring ReadyPath(const WorkFolder& folder) { return folder.IsReady() ? folder.Path() : std::wstring(); }

}  // namespace

PreparedWorkFolder::PreparedWorkFolder()
    : folder_(),
      inWorkFolder_(ReadyPath(folder_)),
      logger_(),
      prepared_(folder_.IsReady() && inWorkFolder_.Switched() && PrepareComponents(folder_.Path())) {
    for (const std::wstring& note : folder_.TakenOver()) TW_LOG(LogLevel::Warning, "%S", note.c_str());
    // The dialog shows only its box; the reason goes to the log.
    if (!prepared_) TW_LOG(LogLevel::Error, "The components are not prepared: %S", Failure().c_str());
}

std::wstring PreparedWorkFolder::Failure() const {
    if (prepared_) return std::wstring();
    if (!folder_.IsReady()) return folder_.Failure();
    if (!inWorkFolder_.Switched()) return L"the work folder " + folder_.Path() + L" cannot be entered";
    return L"the components could not be prepared in " + folder_.Path();
}
