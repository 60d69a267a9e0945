#pragma once
#include <string>

// Started anywhere (a Downloads folder, a stick, a share, C:\Windows\Temp where a script copied it), the
// program runs nothing of its own from there: for a DLL that is not a KnownDLL the system looks in the
// program's folder first, also when a system DLL loads one by a bare name. So the first process only
// makes a run folder under the per-machine Work folder, puts a copy of itself in it that it checked
// against its own image and payload, runs that copy with its own command line and ends with the copy's
// exit code. The copy, in a folder that only administrators could have made, is the program.
class ProtectedCopy {
public:
    enum class Place {
        FirstProcess,  // started by a user or a script: make and run the copy
        Copy,          // the copy, in a run folder that checks out
        UntrustedCopy  // started as a copy, but its folder does not check out: it runs nothing
    };

    // Where this process runs. Only a folder opened and checked by handle makes it the copy; the mark
    // that a first process leaves in its copy's environment can only make it an untrusted one, so that a
    // copy that fails the check never starts yet another copy.
    static Place ThisProcess();

    // The name of the folder that this program's image lies in, when that folder lies directly in `work`
    // (the per-machine Work folder's path); empty otherwise. A name only: trust comes from opening it.
    static std::wstring RunFolderNameIn(const std::wstring& work);
    // This program's image path as the loader keeps it; empty when it does not fit.
    static std::wstring ThisProgramPath();
    // The file name of the copy in its run folder.
    static const wchar_t kCopyName[];
    // The environment variable a first process sets for its copy.
    static const wchar_t kStartedAsCopy[];
};
