#pragma once
#include <cstdint>
#include <string>

class IScanCommunicator;

// The scan manager's view of a scanner.
class ISKScanner {
public:
    virtual ~ISKScanner() = default;
    virtual std::wstring GetName() = 0;
    virtual int32_t GetId() = 0;
    // Where findings go; set once, when the scanner is added to the scan manager.
    virtual void SetReporter(IScanCommunicator* communicator) = 0;
    virtual int32_t Probe(int32_t value) = 0;
    // Asks a running Scan to stop early.
    virtual void Cancel() = 0;
    virtual int32_t IsGeneral() = 0;
    // General scanners receive the SKItemManager*, file scanners an IFile* (of an SKFile).
    virtual void Scan(void* subject) = 0;
};

// A scanner that runs once per scan over the system as a whole.
class ISKGeneralScanner : public ISKScanner {};
