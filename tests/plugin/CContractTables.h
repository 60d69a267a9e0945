#pragma once
// The plug-in interfaces written out as a C caller sees them: structs whose first word points to a
// hand-written table of function pointers, each taking the object first. On i686 every entry is a
// member call (object in ECX, callee pops); x86_64 has only one convention.
#include <windows.h>

#if defined(__i386__)
#define C_MEMBER __attribute__((thiscall))
#else
#define C_MEMBER
#endif

namespace ctables {

struct GeneralHandlerTable {
    int(C_MEMBER* GetId)(void* self);
    const wchar_t*(C_MEMBER* GetName)(void* self);
    int(C_MEMBER* QueryInterface)(void* self, const wchar_t* name, void** out);
    void(C_MEMBER* Release)(void* self);
    int(C_MEMBER* Initialize)(void* self);
    void(C_MEMBER* SetReporter)(void* self, void* reporter);
    void(C_MEMBER* Scan)(void* self);
    void(C_MEMBER* Clean)(void* self, const int* ids, unsigned int count);
};

struct FoundTable {
    int(C_MEMBER* GetId)(void* self);
    int(C_MEMBER* GetTypeId)(void* self);
    const wchar_t*(C_MEMBER* GetName)(void* self);
    const wchar_t*(C_MEMBER* GetThreatClass)(void* self);
    const wchar_t*(C_MEMBER* GetThreatName)(void* self);
};

template <typename Table>
const Table* TableOf(void* object) {
    return *static_cast<const Table* const*>(object);
}

struct CReporter;
struct ReporterTable {
    void(C_MEMBER* ReportFound)(CReporter* self, int pluginId, void* found);
    void(C_MEMBER* ReportCleanResult)(CReporter* self, int pluginId, void* found, int outcome);
};

// A reporter written the C way: it reads every finding through the FoundTable.
struct CReporter {
    const ReporterTable* table;
    struct Found {
        int pluginId, id, typeId;
        const wchar_t *name, *threatClass, *threatName;  // valid only during the call: copied below
        wchar_t nameCopy[512], threatClassCopy[64], threatNameCopy[128];
    };
    Found found[8];
    int foundCount;
    struct Cleaned {
        int pluginId, id, outcome;
    };
    Cleaned cleaned[8];
    int cleanedCount;
};

void C_MEMBER CReportFound(CReporter* self, int pluginId, void* found);
void C_MEMBER CReportCleanResult(CReporter* self, int pluginId, void* found, int outcome);
extern const ReporterTable kCReporterTable;
void InitCReporter(CReporter& reporter);

}  // namespace ctables
