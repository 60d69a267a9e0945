#include "grimlet/mendrel/MendrelEngine.h"

#include <vector>

#include "grimlet/mendrel/FileRemover.h"
#include "grimlet/FileSystemRedirectionGuard.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/NetsvcsGroupList.h"
#include "grimlet/mendrel/NetsvcsServiceFinder.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/RegistryTreeDeleter.h"
#include "grimlet/mendrel/ServiceStopper.h"
#include "platform/Logger.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";

bool FileExists(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

enum class QuarantineOutcome { Stored, Unreadable, Trusted, Failed };

}  // namespace

int MendrelEngine::Run(const std::wstring& dllPath) {
    TW_LOG_SCOPE("MendrelEngine::Run()");
    std::vector<std::wstring> services = FindNetsvcsServicesUsing(dllPath);
    if (services.empty()) {
        TW_LOG(LogLevel::Info, "No netsvcs service uses %S; nothing changed", dllPath.c_str());
        return MendrelExitCode::NoMatchingService;
    }

    QuarantineStore store(QuarantineFolder());
    QuarantinedFile copy;
    bool dllPresent = FileExists(dllPath);
    bool quarantined = false;
    // The signature is checked on the copy: it is exactly the file that would be deleted, and it lies
    // outside the folders a 32-bit process sees redirected.
    auto quarantine = [&]() {
        DWORD error = ERROR_SUCCESS;
        if (!store.Copy(dllPath, copy, error))
            return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? QuarantineOutcome::Unreadable
                                                                                     : QuarantineOutcome::Failed;
        if (isTrusted_(copy.copyPath)) {
            store.Discard(copy);
            return QuarantineOutcome::Trusted;
        }
        store.Record(copy, L"quarantined");
        quarantined = true;
        return QuarantineOutcome::Stored;
    };

    if (dllPresent) {
        QuarantineOutcome outcome = quarantine();
        if (outcome == QuarantineOutcome::Trusted) {
            TW_LOG(LogLevel::Warning, "%S is signed by a trusted signer; refused, nothing changed", dllPath.c_str());
            return MendrelExitCode::TrustedSigner;
        }
        if (outcome == QuarantineOutcome::Failed) {
            TW_LOG(LogLevel::Error, "%S cannot be quarantined; nothing changed", dllPath.c_str());
            return MendrelExitCode::QuarantineFailed;
        }
        if (outcome == QuarantineOutcome::Unreadable && isTrusted_(dllPath)) {
            TW_LOG(LogLevel::Warning, "%S is signed by a trusted signer; refused, nothing changed", dllPath.c_str());
            return MendrelExitCode::TrustedSigner;
        }
    } else {
        TW_LOG(LogLevel::Warning, "%S does not exist; only the services are removed", dllPath.c_str());
    }

    bool failed = false;
    for (const std::wstring& name : services)
        if (!StopAndUnregisterService(name)) failed = true;

    // A service that held the file may have let go of it now.
    if (dllPresent && !quarantined && quarantine() == QuarantineOutcome::Trusted) {
        TW_LOG(LogLevel::Warning, "%S is signed by a trusted signer; refused after stopping", dllPath.c_str());
        return MendrelExitCode::TrustedSigner;
    }

    for (const std::wstring& name : services) {
        if (!DeleteRegistryTree(kServicesPath + name)) failed = true;
        if (!NetsvcsGroupList::Remove(name)) failed = true;
    }

    bool afterRestart = false;
    if (dllPresent && quarantined) {
        FileRemoval removal = RemoveFileNowOrAtRestart(dllPath);
        if (removal == FileRemoval::Failed) failed = true;
        if (removal == FileRemoval::DeletedAtRestart) afterRestart = true;
    } else if (dllPresent) {
        std::wstring aside = dllPath + L".quarantine";
        if (MoveFileAsideAtRestart(dllPath, aside)) {
            store.RecordPendingMove(dllPath, aside);
            afterRestart = true;
        } else {
            failed = true;
        }
    }

    int code = failed ? MendrelExitCode::PartlyFailed
                      : afterRestart ? MendrelExitCode::RemovedAfterRestart : MendrelExitCode::Removed;
    TW_LOG(LogLevel::Info, "Removal of %S ends with %d", dllPath.c_str(), code);
    return code;
}
