#!/usr/bin/env python3
"""Checks the shipped i686 binaries: PE32, the expected subsystem, and load-time imports that the loader
never takes from the program's own folder, with functions that Windows XP SP3 has.

usage: check_imports.py FOLDER|FILE...
Fails when a binary imports a DLL outside the allowed set at load time, or a function that XP lacks.
"""
import os
import struct
import sys

# The only DLLs that a binary may import at load time. For any other DLL the loader searches the program's
# own folder first, which a user may be able to write (Downloads, a stick, a share): the rest of the
# system DLLs are delay-imported and loaded by full path from the system folder.
# KnownDLLs on both Windows XP SP3 and 7 SP1 (HKLM\System\CurrentControlSet\Control\Session Manager\
# KnownDLLs): always mapped from the system folder's section objects.
KNOWN_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
    "comdlg32.dll", "imagehlp.dll",
}
ALLOWED_DLLS = KNOWN_DLLS | {
    "ntdll.dll",   # mapped into every process before the program's imports are read
    "msvcrt.dll",  # a KnownDLL's own dependency (advapi32, ole32, ...): loaded from the system folder first
}

# Functions newer than XP that toolchains and runtimes tend to pull in; importing any of them keeps a
# binary from loading on XP ("entry point not found").
VISTA_AND_LATER = {
    "GetTickCount64",               # winpthreads, std::chrono in posix-thread runtimes
    "InitializeCriticalSectionEx",  # newer CRT start-up
    "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue",  # fiber-local storage in newer CRTs (XP lacks FLS)
    "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared", "ReleaseSRWLockExclusive",
    "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive",  # std::mutex on newer runtimes
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable",
    "CreateEventExW", "CreateMutexExW", "CreateSemaphoreExW", "WaitForSingleObjectEx2",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete",
    "GetFinalPathNameByHandleW", "CreateSymbolicLinkW", "GetLocaleInfoEx", "LCMapStringEx",
    "CompareStringEx", "GetUserDefaultLocaleName", "QueryFullProcessImageNameW", "GetErrorMode",
    "RegGetValueW", "RegDeleteTreeW", "RegDeleteKeyExW", "SetFileInformationByHandle",
    "GetFileInformationByHandleEx", "CancelIoEx", "GetCurrentProcessorNumber",
}

SUBSYSTEM_GUI, SUBSYSTEM_CONSOLE = 2, 3


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.nt = struct.unpack_from("<I", d, 0x3C)[0]
        if d[self.nt:self.nt + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.machine, nsect = struct.unpack_from("<HH", d, self.nt + 4)
        opt_size = struct.unpack_from("<H", d, self.nt + 20)[0]
        self.characteristics = struct.unpack_from("<H", d, self.nt + 22)[0]
        opt = self.nt + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.import_rva = struct.unpack_from("<I", d, dirs + 8)[0]
        self.export_rva = struct.unpack_from("<I", d, dirs)[0]
        self.sections = []
        sect = opt + opt_size
        for i in range(nsect):
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", d, sect + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva %#x outside every section" % rva)

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def imports(self):
        result = {}
        if not self.import_rva:
            return result
        o = self.offset(self.import_rva)
        ptr = 4 if self.magic == 0x10B else 8
        ordinal_flag = 1 << (8 * ptr - 1)
        while True:
            ilt, _, _, name_rva, iat = struct.unpack_from("<IIIII", self.data, o)
            if name_rva == 0:
                break
            dll = self.cstring(name_rva)
            names = []
            t = self.offset(ilt or iat)
            while True:
                entry = struct.unpack_from("<Q" if ptr == 8 else "<I", self.data, t)[0]
                if entry == 0:
                    break
                names.append("#%d" % (entry & 0xFFFF) if entry & ordinal_flag else self.cstring(entry + 2))
                t += ptr
            result[dll] = names
            o += 20
        return result


def binaries(arguments):
    for argument in arguments:
        if os.path.isdir(argument):
            for name in sorted(os.listdir(argument)):
                if name.lower().endswith((".exe", ".dll")):
                    yield name, os.path.join(argument, name)
        else:
            yield os.path.basename(argument), argument


def check(arguments):
    problems = []
    checked = 0
    for name, path in binaries(arguments):
        pe = PeFile(path)
        checked += 1
        if pe.magic != 0x10B or pe.machine != 0x14C:
            problems.append("%s: not a PE32 i386 file" % name)
        if name.lower() == "tidewash.exe" and pe.subsystem != SUBSYSTEM_GUI:
            problems.append("%s: subsystem %d, expected GUI" % (name, pe.subsystem))
        for dll, functions in pe.imports().items():
            if dll.lower() not in ALLOWED_DLLS:
                problems.append("%s: imports %s at load time, which is not a KnownDLL" % (name, dll))
            for function in functions:
                if function in VISTA_AND_LATER:
                    problems.append("%s: imports %s!%s, which Windows XP lacks" % (name, dll, function))
        print("%s: %s" % (name, ", ".join("%s(%d)" % (d, len(f)) for d, f in pe.imports().items())))
    if checked == 0:
        problems.append("no binaries in %s" % " ".join(arguments))
    return problems


if __name__ == "__main__":
    problems = check(sys.argv[1:])
    for p in problems:
        print("FAIL " + p)
    sys.exit(1 if problems else 0)
