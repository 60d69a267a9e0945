#pragma once
// The binary contract between the host program and its scanning plug-ins. Both sides compile this
// header; a plug-in built by another compiler against the same tables must work with our host and
// ours with theirs, so nothing here may change the layout of a table:
//  - every operation is a virtual member call, first table entry first, in the 32-bit Windows member
//    call convention (object in ECX, arguments on the stack, the callee pops them);
//  - the tables hold exactly the operations below, in this order, with no destructor in front
//    (only IPluginHelper has one, the host's own, after its two operations);
//  - a derived interface's table starts with all of its base's operations;
//  - "text" is a NUL-terminated UTF-16LE string owned by the object that returned it; the receiver
//    copies what it keeps. Booleans are ints: 1 yes/success, 0 no/failure.
//  - nothing is thrown across this boundary.
#include <windows.h>

#include <cstddef>
#include <type_traits>

#if defined(__i386__) || defined(_M_IX86)
#define SK_PLUGIN_CALL __thiscall
#else
#define SK_PLUGIN_CALL
#endif

static_assert(sizeof(wchar_t) == 2, "texts that cross the plug-in boundary are UTF-16");
static_assert(sizeof(int) == 4 && sizeof(unsigned int) == 4, "ints that cross the boundary are 32-bit");

// Interface names, compared without regard to case by the object that answers.
constexpr wchar_t kInterfacePluginPreGeneralHandler[] = L"INTERFACE_PLUGIN_PRE_GENERAL_HANDLER";
constexpr wchar_t kInterfacePluginGeneralHandler[] = L"INTERFACE_PLUGIN_GENERAL_HANDLER";
constexpr wchar_t kInterfacePluginFileHandler[] = L"INTERFACE_PLUGIN_FILE_HANDLER";
constexpr wchar_t kInterfacePluginRuntimeV0[] = L"INTERFACE_PLUGIN_RUNTIME_VER_0";
constexpr wchar_t kInterfacePluginRuntimeV1[] = L"INTERFACE_PLUGIN_RUNTIME_VER_1";

// Outcome codes of IPluginReporter::ReportCleanResult.
constexpr int kPluginCleanDone = 0;
constexpr int kPluginCleanFailed = 1;  // any value other than 0 and 2 means "not cleaned"
constexpr int kPluginCleanNeedsRestart = 2;

// The first type id that RegisterTypeName hands out (1 to 11 are the host's fixed item types).
constexpr int kFirstRegisteredTypeId = 0x1001;

class IPluginReporter;

// Base of every plug-in handler and of the host's runtime object.
class IPluginUnknown {
public:
    // Handler: the plug-in id the host assigned at registration (0 before). Runtime: 0.
    virtual int SK_PLUGIN_CALL GetId() = 0;
    // Handler: its display name, unique among handlers of one kind. Runtime: the empty text.
    virtual const wchar_t* SK_PLUGIN_CALL GetName() = 0;
    // Answers `name`: stores the object's own address in *out, adds one reference and returns 1.
    // Otherwise stores null and returns 0.
    virtual int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) = 0;
    // Drops one reference; the object destroys itself when the last one goes (the runtime's does nothing).
    virtual void SK_PLUGIN_CALL Release() = 0;

protected:
    ~IPluginUnknown() = default;  // only Release ends an object's life
};

// A handler that examines the system as a whole ("INTERFACE_PLUGIN_GENERAL_HANDLER").
class IPluginGeneralHandler : public IPluginUnknown {
public:
    // Called once by the host inside IPluginHelper::Register; 0 makes the host refuse the handler.
    virtual int SK_PLUGIN_CALL Initialize() = 0;
    // The host's reporter for the next Scan or Clean; it stays the host's and is used only inside them.
    virtual void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) = 0;
    // Reports every finding through ReportFound before returning.
    virtual void SK_PLUGIN_CALL Scan() = 0;
    // Removes the findings with these found ids and reports each outcome before returning.
    virtual void SK_PLUGIN_CALL Clean(const int* foundIds, unsigned int count) = 0;

protected:
    ~IPluginGeneralHandler() = default;
};

// Same table as the general handler ("INTERFACE_PLUGIN_PRE_GENERAL_HANDLER"); the host registers and
// initialises such a handler but never scans or cleans with it.
class IPluginPreGeneralHandler : public IPluginUnknown {
public:
    virtual int SK_PLUGIN_CALL Initialize() = 0;
    virtual void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) = 0;
    virtual void SK_PLUGIN_CALL Scan() = 0;
    virtual void SK_PLUGIN_CALL Clean(const int* foundIds, unsigned int count) = 0;

protected:
    ~IPluginPreGeneralHandler() = default;
};

// A handler that examines single files ("INTERFACE_PLUGIN_FILE_HANDLER").
class IPluginFileHandler : public IPluginUnknown {
public:
    virtual int SK_PLUGIN_CALL Initialize() = 0;
    virtual void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) = 0;
    // Reports the findings of one file (full path) before returning.
    virtual void SK_PLUGIN_CALL ScanFile(const wchar_t* fullPath) = 0;
    // Cleans one file found earlier and reports the outcome before returning.
    virtual void SK_PLUGIN_CALL CleanFile(const wchar_t* fullPath) = 0;

protected:
    ~IPluginFileHandler() = default;
};

// One finding. Plug-in side; it stays the plug-in's: the host copies what it needs during the
// reporter call and never keeps or destroys it. No reference counting.
class IPluginFound {
public:
    // Chosen by the handler, unique among its findings; handed back in Clean.
    virtual int SK_PLUGIN_CALL GetId() = 0;
    // A type id from RegisterTypeName or one of the host's fixed item types.
    virtual int SK_PLUGIN_CALL GetTypeId() = 0;
    // The item's name (a file finding's full path).
    virtual const wchar_t* SK_PLUGIN_CALL GetName() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetThreatClass() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetThreatName() = 0;

protected:
    ~IPluginFound() = default;
};

// Host side: where a handler reports, synchronously, on the thread that called it. The plug-in id
// argument is the handler's own GetId.
class IPluginReporter {
public:
    virtual void SK_PLUGIN_CALL ReportFound(int pluginId, IPluginFound* found) = 0;
    // outcome: kPluginCleanDone, kPluginCleanNeedsRestart, anything else = not cleaned.
    virtual void SK_PLUGIN_CALL ReportCleanResult(int pluginId, IPluginFound* found, int outcome) = 0;

protected:
    ~IPluginReporter() = default;
};

// Host side, handed to SK_GetPluginInstance.
class IPluginHelper {
public:
    // Offers a handler. On 1 the host keeps the reference its own QueryInterface took and has written
    // the plug-in id and the runtime object; on 0 it has written neither.
    virtual int SK_PLUGIN_CALL Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtime) = 0;
    // The type id of an item type name (compared exactly), created on first use; always written.
    virtual void SK_PLUGIN_CALL RegisterTypeName(const wchar_t* name, int* typeId) = 0;
    // The host's own destructor, third in the table; a plug-in never calls it.
    virtual ~IPluginHelper() = default;
};

// The host's runtime services ("INTERFACE_PLUGIN_RUNTIME_VER_0"). An operation named after a Windows
// function takes that function's parameters and gives its result. It belongs to the host, lives as
// long as the host's plug-in manager, and needs no Release.
class IPluginRuntimeV0 : public IPluginUnknown {
public:
    virtual int SK_PLUGIN_CALL IsWow64() = 0;
    virtual int SK_PLUGIN_CALL GetLowLevelMode() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetBaseFolder() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetPatternFolder() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetProfileFolder() = 0;
    virtual const wchar_t* SK_PLUGIN_CALL GetLogFolder() = 0;
    virtual HANDLE SK_PLUGIN_CALL CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                              LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                              DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL SK_PLUGIN_CALL CloseHandle(HANDLE handle) = 0;
    // The open that the host's own file code falls back on when the normal open is refused; its
    // handle is closed with CloseLockFile.
    virtual HANDLE SK_PLUGIN_CALL OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                                LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                                DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL SK_PLUGIN_CALL CloseLockFile(HANDLE handle) = 0;
    virtual BOOL SK_PLUGIN_CALL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                                         LPOVERLAPPED overlapped) = 0;
    virtual DWORD SK_PLUGIN_CALL SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                                DWORD moveMethod) = 0;
    virtual DWORD SK_PLUGIN_CALL GetFileSize(HANDLE file, LPDWORD sizeHigh) = 0;
    virtual BOOL SK_PLUGIN_CALL DeleteFileW(LPCWSTR fileName) = 0;
    virtual DWORD SK_PLUGIN_CALL GetFileAttributesW(LPCWSTR fileName) = 0;
    virtual BOOL SK_PLUGIN_CALL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) = 0;
    virtual BOOL SK_PLUGIN_CALL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) = 0;
    virtual HANDLE SK_PLUGIN_CALL FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) = 0;
    virtual BOOL SK_PLUGIN_CALL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData) = 0;
    virtual BOOL SK_PLUGIN_CALL FindClose(HANDLE find) = 0;
    virtual BOOL SK_PLUGIN_CALL RemoveFileW(LPCWSTR fileName) = 0;  // as DeleteFileW
    virtual LONG SK_PLUGIN_CALL RegCloseKey(HKEY key) = 0;
    virtual LONG SK_PLUGIN_CALL RegDeleteKeyW(HKEY key, LPCWSTR subKey) = 0;
    virtual LONG SK_PLUGIN_CALL RegDeleteValueW(HKEY key, LPCWSTR valueName) = 0;
    virtual LONG SK_PLUGIN_CALL RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                                DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                                                PHKEY result, LPDWORD disposition) = 0;
    virtual LONG SK_PLUGIN_CALL RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired,
                                              PHKEY result) = 0;
    virtual LONG SK_PLUGIN_CALL RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                              LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                              PFILETIME lastWriteTime) = 0;
    virtual LONG SK_PLUGIN_CALL RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) = 0;
    virtual LONG SK_PLUGIN_CALL RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                                              LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) = 0;
    virtual LONG SK_PLUGIN_CALL RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                                 LPBYTE data, LPDWORD dataSize) = 0;
    virtual LONG SK_PLUGIN_CALL RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength,
                                                 LPDWORD reserved, LPDWORD subKeys, LPDWORD maxSubKeyLength,
                                                 LPDWORD maxClassLength, LPDWORD values,
                                                 LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                                 LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) = 0;
    virtual LONG SK_PLUGIN_CALL RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                               const BYTE* data, DWORD dataSize) = 0;
    virtual LONG SK_PLUGIN_CALL RegRestoreKeyW(HKEY key, LPCWSTR file, DWORD flags) = 0;

protected:
    ~IPluginRuntimeV0() = default;
};

// Version 1 ("INTERFACE_PLUGIN_RUNTIME_VER_1"): version 0 with one appended operation. Later versions
// may only append, so that a plug-in built against an older table keeps working.
class IPluginRuntimeV1 : public IPluginRuntimeV0 {
public:
    virtual const wchar_t* SK_PLUGIN_CALL GetExtraFolder() = 0;

protected:
    ~IPluginRuntimeV1() = default;
};

// The one export of a plug-in DLL, undecorated "SK_GetPluginInstance", stdcall. The host calls it once
// right after loading the DLL; a result above 0 is success, anything else makes the host unload it.
typedef int(WINAPI* SK_GetPluginInstanceFn)(IPluginHelper* helper);
constexpr char kPluginFactoryExportName[] = "SK_GetPluginInstance";

// Each interface is one pointer to its table, and a derived interface shares its base's address and
// table start (single inheritance, base first).
namespace plugin_interface_layout {
template <typename T>
constexpr bool IsOneTablePointer() {
    return sizeof(T) == sizeof(void*) && alignof(T) == alignof(void*) && std::is_polymorphic<T>::value &&
           std::is_abstract<T>::value;
}
static_assert(IsOneTablePointer<IPluginUnknown>(), "IPluginUnknown layout");
static_assert(IsOneTablePointer<IPluginGeneralHandler>(), "IPluginGeneralHandler layout");
static_assert(IsOneTablePointer<IPluginPreGeneralHandler>(), "IPluginPreGeneralHandler layout");
static_assert(IsOneTablePointer<IPluginFileHandler>(), "IPluginFileHandler layout");
static_assert(IsOneTablePointer<IPluginFound>(), "IPluginFound layout");
static_assert(IsOneTablePointer<IPluginReporter>(), "IPluginReporter layout");
static_assert(IsOneTablePointer<IPluginHelper>(), "IPluginHelper layout");
static_assert(IsOneTablePointer<IPluginRuntimeV0>(), "IPluginRuntimeV0 layout");
static_assert(IsOneTablePointer<IPluginRuntimeV1>(), "IPluginRuntimeV1 layout");
static_assert(std::is_base_of<IPluginUnknown, IPluginGeneralHandler>::value &&
                  std::is_base_of<IPluginUnknown, IPluginPreGeneralHandler>::value &&
                  std::is_base_of<IPluginUnknown, IPluginFileHandler>::value &&
                  std::is_base_of<IPluginRuntimeV0, IPluginRuntimeV1>::value,
              "derived interfaces append to their base's table");
}  // namespace plugin_interface_layout
