#include "grimlet/mendrel/MendrelEngine.h"

#include <new>
#include <vector>

#include "grimlet/mendrel/FileRemover.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/common/NetsvcsGroupList.h"
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

// All keys of all the services in one regedit file, as far as they can be saved: what the worm made
// unsavable (a link, a chain too deep, a name Win32 cannot open, a huge value) is left out and listed
// in `gaps`, and so is a keys file that cannot be written. Never a reason to leave the worm in place.
void SaveServiceKeys(QuarantineStore& store, const std::vector<std::wstring>& services, const std::wstring& stem,
                     std::wstring& fileName, std::vector<std::wstring>& gaps) {
    std::vector<RegFileKey> keys;
    for (const std::wstring& name : services) ReadRegistryTree(kServicesPath + name, keys, &gaps);
    if (!store.SaveKeys(keys, stem, fileName)) {
        fileName.clear();
        gaps.push_back(L"the keys file could not be written");
    }
}

std::wstring Joined(const std::vector<std::wstring>& names, const wchar_t* separator) {
    std::wstring text;
    for (const std::wstring& name : names) text += (text.empty() ? L"" : separator) + name;
    return text;
}

}  // namespace

int MendrelEngine::Run(const std::wstring& dllPath) {
    TW_LOG_SCOPE("MendrelEngine::Run()");
    try {
        return Remove(dllPath);
    } catch (const std::bad_alloc&) {
        // The worm decides how large its keys and values are; running out of memory ends the removal
        // where it stands, said in the log, never in an abort.
        TW_LOG(LogLevel::Error, "Out of memory while removing %S", dllPath.c_str());
        return MendrelExitCode::PartlyFailed;
    }
}

int MendrelEngine::Remove(const std::wstring& dllPath) {
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

    // The DLL is opened once; its signer is checked on the copy taken through that handle, and the same
    // handle deletes it.
    FileRemover dll;
    FileRemover::Opened opened = dll.Open(dllPath);
    // Every way out before the removal goes ahead starts these again: what ran runs again.
    StoppedServices stopped;
    if (opened == FileRemover::Opened::Unreadable) {
        // The worm may hold its own file, and so may a legitimate service: its signer is unknown until
        // the file can be read. Stopping its services may let go of it.
        TW_LOG(LogLevel::Info, "%S cannot be read (Error=%d); its signer is unknown; stopping its services",
               dllPath.c_str(), (int)dll.OpenError());
        stopped.Stop(services);
        opened = dll.Open(dllPath);
        if (opened == FileRemover::Opened::Unreadable) {
            TW_LOG(LogLevel::Error, "%S cannot be read (Error=%d), so its signer cannot be checked; nothing removed",
                   dllPath.c_str(), (int)dll.OpenError());
            return MendrelExitCode::SignatureUnchecked;
        }
    }
    if (opened == FileRemover::Opened::Refused) {
        TW_LOG(LogLevel::Error, "%S cannot be quarantined; nothing changed", dllPath.c_str());
        return MendrelExitCode::QuarantineFailed;
    }

    QuarantinedFile copy;
    const bool quarantined = opened == FileRemover::Opened::Yes;
    if (quarantined) {
        DWORD error = ERROR_SUCCESS;
        if (!store.Copy(dll.Handle(), dllPath, dll.Attributes(), copy, error)) {
            TW_LOG(LogLevel::Error, "%S cannot be quarantined; nothing changed", dllPath.c_str());
            return MendrelExitCode::QuarantineFailed;
        }
        if (isTrusted_(copy.copyPath)) {
            store.Discard(copy);
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
    entry.services = Joined(services, L", ");
    std::vector<std::wstring> gaps;
    SaveServiceKeys(store, services, quarantined ? std::wstring(copy.sha1.begin(), copy.sha1.end()) : L"keys",
                    entry.keysName, gaps);
    entry.unsaved = Joined(gaps, L"; ");
    if (quarantined) {
        entry.sha1 = copy.sha1;
        entry.size = copy.size;
        entry.attributes = copy.attributes;
        entry.copyName = std::wstring(copy.sha1.begin(), copy.sha1.end()) + L".bin";
    }
    entry.state = quarantined ? L"quarantined" : L"missing";
    entry.time = IsoUtcNow();
    // Recorded before anything changes: a removal the manifest does not know could not be listed or
    // undone.
    if (!store.Record(entry)) {
        if (quarantined) store.Discard(copy);
        store.DiscardKeys(entry.keysName);
        TW_LOG(LogLevel::Error, "The quarantine manifest cannot be written; nothing changed");
        return MendrelExitCode::QuarantineFailed;
    }

    stopped.Commit();
    bool failed = false;
    for (const std::wstring& name : services)
        if (!StopAndUnregisterService(name)) failed = true;
    for (const std::wstring& name : services) {
        if (!DeleteRegistryTree(kServicesPath + name)) failed = true;
        if (!NetsvcsGroupList::Remove(name)) failed = true;
    }

    bool afterRestart = false;
    if (quarantined) {
        FileRemoval removal = dll.Remove();
        if (removal == FileRemoval::Failed) failed = true;
        if (removal == FileRemoval::DeletedAtRestart) afterRestart = true;
    }

    int code = failed ? MendrelExitCode::PartlyFailed
                      : afterRestart ? MendrelExitCode::RemovedAfterRestart : MendrelExitCode::Removed;
    TW_LOG(LogLevel::Info, "Removal of %S ends with %d", dllPath.c_str(), code);
    return code;
}
