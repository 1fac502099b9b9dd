// Reads arbitrary bytes as project.dat. The reader must stop at damage without
// crashing or allocating what the bytes claim but do not hold; whatever it
// accepted must survive a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "framework/CArchive.h"
#include "framework/CException.h"
#include "framework/CMemFile.h"
#include "project/ProjectFile.h"
#include "tests/support/MemoryProjectList.h"

namespace {

bool SameProjects(const ProjectList& a, const ProjectList& b)
{
    if (a.GetCount() != b.GetCount() || a.GetCurSel() != b.GetCurSel())
        return false;
    for (int i = 0; i < a.GetCount(); i++) {
        const Project* x = reinterpret_cast<const Project*>(a.GetItemData(i));
        const Project* y = reinterpret_cast<const Project*>(b.GetItemData(i));
        if (x->name != y->name || x->sourceFolder != y->sourceFolder || x->backupFolder != y->backupFolder ||
            x->ignoredExtensions != y->ignoredExtensions || x->ignoredFolders != y->ignoredFolders)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryProjectList loaded;
    CMemFile input(data, size);
    CArchive in(&input, CArchive::load);
    if (!ReadProjectFile(in, loaded))
        return 0;

    CMemFile output;
    CArchive out(&output, CArchive::store);
    WriteProjectFile(out, loaded);
    out.Close();

    MemoryProjectList again;
    CMemFile reread(output.GetData().data(), output.GetData().size());
    CArchive back(&reread, CArchive::load);
    if (!ReadProjectFile(back, again) || !SameProjects(loaded, again))
        std::abort();
    return 0;
}
