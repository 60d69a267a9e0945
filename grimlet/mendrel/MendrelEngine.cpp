#include "grimlet/mendrel/MendrelEngine.h"

#include <vector>

#include "grimlet/common/FileSystemRedirectionGuard.h"
#include "grimlet/mendrel/FileRemover.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/NetsvcsGroupList.h"
#include "grimlet/mendrel/NetsvcsServiceFinder.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/RegistryTreeCopy.h"
#include "grimlet/mendrel/RegistryTreeDeleter.h"
#include "grimlet/mendrel/ServiceStopper.h"
#include "platform/log/Logger.h"
#include "platform/system/UtcTime.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";

bool FileExists(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

enum class QuarantineOutcome { Stored, Unreadable, Trusted, Failed };

// All keys of all the services in one regedit file; false when any key cannot be read or the file
// cannot be written.
bool SaveServiceKeys(QuarantineStore& store, const std::vector<std::wstring>& services, const std::wstring& stem,
                     std::wstring& fileName) {
    std::vector<RegFileKey> keys;
    for (const std::wstring& name : services)
        if (!ReadRegistryTree(kServicesPath + name, keys)) return false;
    return store.SaveKeys(keys, stem, fileName);
}

std::wstring Joined(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (const std::wstring& name : names) text += (text.empty() ? L"" : L", ") + name;
    return text;
}

}  // namespace

int MendrelEngine::Run(const std::wstring& dllPath) {
    TW_LOG_SCOPE("MendrelEngine::Run()");
    std::vector<std::wstring> services = FindNetsvcsServicesUsing(dllPath);
    if (services.empty()) {
        TW_LOG(LogLevel::Info, "No netsvcs service uses %S; nothing changed", dllPath.c_str());
        return MendrelExitCode::NoMatchingService;
    }

    QuarantineStore store(quarantineFolder_);
    if (!store.Prepare()) {
        TW_LOG(LogLevel::Error, "The quarantine %S cannot be made; nothing changed", quarantineFolder_.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
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

    // The keys are saved before the service manager is asked for anything: it deletes the key of a
    // service marked for deletion as soon as that service stops.
    QuarantineEntry entry;
    entry.originalPath = dllPath;
    entry.services = Joined(services);
    std::wstring keysStem = quarantined ? std::wstring(copy.sha1.begin(), copy.sha1.end()) : L"keys";
    if (!SaveServiceKeys(store, services, keysStem, entry.keysName)) {
        if (quarantined) store.Discard(copy);
        TW_LOG(LogLevel::Error, "The service keys of %S cannot be saved; nothing changed", dllPath.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
    auto record = [&](const std::wstring& state) {
        if (quarantined) {
            entry.sha1 = copy.sha1;
            entry.size = copy.size;
            entry.attributes = copy.attributes;
            entry.copyName = std::wstring(copy.sha1.begin(), copy.sha1.end()) + L".bin";
        }
        entry.state = state;
        entry.time = IsoUtcNow();
        return store.Record(entry);
    };
    // Whatever can be recorded now is recorded before anything changes: a removal the manifest does not
    // know could not be listed or undone.
    if ((quarantined || !dllPresent) && !record(quarantined ? L"quarantined" : L"missing")) {
        if (quarantined) store.Discard(copy);
        store.DiscardKeys(entry.keysName);
        TW_LOG(LogLevel::Error, "The quarantine manifest cannot be written; nothing changed");
        return MendrelExitCode::QuarantineFailed;
    }

    bool failed = false;
    for (const std::wstring& name : services)
        if (!StopAndUnregisterService(name)) failed = true;

    bool afterRestart = false;
    if (dllPresent && !quarantined) {
        // A service that held the file may have let go of it now.
        QuarantineOutcome retry = quarantine();
        if (retry == QuarantineOutcome::Trusted) {
            record(L"kept: signed by a trusted signer");
            TW_LOG(LogLevel::Warning, "%S is signed by a trusted signer; refused after stopping", dllPath.c_str());
            return MendrelExitCode::TrustedSigner;
        }
        if (quarantined) {
            if (!record(L"quarantined")) failed = true;
        } else {
            std::wstring aside = dllPath + L".quarantine";
            bool moved = MoveFileAsideAtRestart(dllPath, aside);
            if (moved)
                afterRestart = true;
            else
                failed = true;
            if (!record(moved ? L"unreadable; moved at restart to " + aside : L"unreadable; not removed")) failed = true;
        }
    }

    for (const std::wstring& name : services) {
        if (!DeleteRegistryTree(kServicesPath + name)) failed = true;
        if (!NetsvcsGroupList::Remove(name)) failed = true;
    }

    if (dllPresent && quarantined) {
        FileRemoval removal = RemoveFileNowOrAtRestart(dllPath);
        if (removal == FileRemoval::Failed) failed = true;
        if (removal == FileRemoval::DeletedAtRestart) afterRestart = true;
    }

    int code = failed ? MendrelExitCode::PartlyFailed
                      : afterRestart ? MendrelExitCode::RemovedAfterRestart : MendrelExitCode::Removed;
    TW_LOG(LogLevel::Info, "Removal of %S ends with %d", dllPath.c_str(), code);
    return code;
}
