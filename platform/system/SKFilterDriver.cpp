#include "platform/system/SKFilterDriver.h"

#include "platform/win32/KernelHandle.h"

const wchar_t SKFilterDriver::kDeviceName[] = L"\\\\.\\QVFILTER";

namespace {

const DWORD kEveryProcess = 0xFFFFFFFF;

void PutLittleEndian32(SKFilterDriver::Record& record, std::size_t offset, DWORD value) {
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

SKFilterDriver::Record SKFilterDriver::BuildDeregistrationRecord() {
    Record record{};
    PutLittleEndian32(record, 4, kEveryProcess);
    PutLittleEndian32(record, 12, kEveryProcess);
    return record;
}

bool SKFilterDriver::SendDeregistration(const wchar_t* devicePath) {
    KernelHandle device(CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr));
    if (!device.IsValid()) return false;
    Record record = BuildDeregistrationRecord();
    DWORD returned = 0;
    const DWORD size = static_cast<DWORD>(kRecordSize);
    ControlAndWait(device.Get(), kDeregisterControlCode, record.data(), size, record.data(), size, &returned);
    return true;
}

BOOL SKFilterDriver::ControlAndWait(HANDLE device, DWORD controlCode, void* input, DWORD inputSize, void* output,
                                    DWORD outputSize, DWORD* bytesReturned) {
    KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event.IsValid()) return FALSE;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    // The buffers and the OVERLAPPED live on this frame: the call must be complete before returning.
    BOOL ok = DeviceIoControl(device, controlCode, input, inputSize, output, outputSize, bytesReturned, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(device, &overlapped, bytesReturned, TRUE);
    // A completed call leaves ERROR_IO_PENDING behind from the issue; report its real outcome instead.
    DWORD finalError = ok ? ERROR_SUCCESS : GetLastError();
    event.Close();
    SetLastError(finalError);
    return ok;
}
