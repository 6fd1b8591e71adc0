// RarPar.dat: loading arbitrary documents, and saving what was loaded.
#include "fuzz/FuzzSupport.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"

using namespace Qt::StringLiterals;

namespace {

bool same(const QVector<tessaly::FlatNode> &a, const QVector<tessaly::FlatNode> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].caption != b[i].caption || a[i].key != b[i].key || a[i].image != b[i].image
            || a[i].parentKey != b[i].parentKey)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tessaly::fuzz::writeInput(u"RarPar.dat"_s, data, size);
    tessaly::JobTree tree;
    tessaly::LoadRarPar(tree);
    // Whatever loads is a tree whose leaves a job run can read, and it saves
    // and loads back the same.
    for (int row = 0; row < tree.rootCount(); ++row)
        (void)tree.leafCaptions(row);
    const QVector<tessaly::FlatNode> loaded = tree.flatten();
    if (loaded.isEmpty())
        __builtin_trap();
    tessaly::SaveRarPar(tree);
    tessaly::JobTree again;
    tessaly::LoadRarPar(again);
    if (!same(loaded, again.flatten()))
        __builtin_trap();
    tessaly::logModel().clear();
    return 0;
}
