#include "tests/plugin/CContractTables.h"

#include <cstring>
#include <cwchar>

namespace ctables {

namespace {
void CopyText(wchar_t* to, std::size_t size, const wchar_t* from) {
    wcsncpy(to, from ? from : L"(null)", size - 1);
    to[size - 1] = L'\0';
}
}  // namespace

void C_MEMBER CReportFound(CReporter* self, int pluginId, void* found) {
    if (self->foundCount >= 8) return;
    CReporter::Found& f = self->found[self->foundCount++];
    const FoundTable* t = TableOf<FoundTable>(found);
    f.pluginId = pluginId;
    f.id = t->GetId(found);
    f.typeId = t->GetTypeId(found);
    CopyText(f.nameCopy, 512, t->GetName(found));
    CopyText(f.threatClassCopy, 64, t->GetThreatClass(found));
    CopyText(f.threatNameCopy, 128, t->GetThreatName(found));
    f.name = f.nameCopy;
    f.threatClass = f.threatClassCopy;
    f.threatName = f.threatNameCopy;
}

void C_MEMBER CReportCleanResult(CReporter* self, int pluginId, void* found, int outcome) {
    if (self->cleanedCount >= 8) return;
    const FoundTable* t = TableOf<FoundTable>(found);
    self->cleaned[self->cleanedCount++] = CReporter::Cleaned{pluginId, t->GetId(found), outcome};
}

const ReporterTable kCReporterTable = {&CReportFound, &CReportCleanResult};

void InitCReporter(CReporter& reporter) {
    memset(&reporter, 0, sizeof reporter);
    reporter.table = &kCReporterTable;
}

}  // namespace ctables
