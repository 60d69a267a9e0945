#pragma once
#include <windows.h>
#include <winioctl.h>

#include <array>

// The file-filter driver of the maker's other security products. At tear-down the tool asks it once to
// forget this process; machines without that product have no such device and nothing happens.
class SKFilterDriver {
public:
    static const wchar_t kDeviceName[];  // "\\.\QVFILTER"
    // Device type 0xA028, function 0x12B, read access, METHOD_NEITHER.
    static const DWORD kDeregisterControlCode = 0xA02844AF;
    static const std::size_t kRecordSize = 36;
    typedef std::array<unsigned char, kRecordSize> Record;

    // The little-endian request record: both process id fields set to "every process" (0xFFFFFFFF).
    static Record BuildDeregistrationRecord();

    // Opens the device and sends the deregistration, waiting for it to complete. Returns false (and
    // sends nothing) when the device cannot be opened; the driver's answer itself is not consulted.
    static bool SendDeregistration(const wchar_t* devicePath = kDeviceName);

    // DeviceIoControl on a handle opened for overlapped I/O, waiting for a pending call to finish.
    // Leaves the call's final error code as the thread's last error.
    static BOOL ControlAndWait(HANDLE device, DWORD controlCode, void* input, DWORD inputSize, void* output,
                               DWORD outputSize, DWORD* bytesReturned);
};

static_assert(SKFilterDriver::kDeregisterControlCode ==
                  static_cast<DWORD>(CTL_CODE(0xA028, 0x12B, METHOD_NEITHER, FILE_READ_ACCESS)),
              "deregistration control code");
