#include "rarpar/FileLists.h"

#include "common/GeneralFunc.h"

namespace tessaly {

namespace {
bool sortsBefore(const QString &a, const QString &b)
{
    return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded()) < 0;
}
} // namespace

void GnomeSort(QStringList &list)
{
    qsizetype i = 1;
    while (i < list.size()) {
        if (sortsBefore(list[i], list[i - 1])) {
            list.swapItemsAt(i, i - 1);
            if (i >= 2)
                --i;
        } else {
            ++i;
        }
    }
}

QStringList &PickedFiles()
{
    static QStringList files{QString()};
    return files;
}

QString setPickedFiles(const QStringList &paths)
{
    QStringList &picked = PickedFiles();
    picked = QStringList{QString()};
    for (const QString &p : paths)
        if (!p.isEmpty())
            picked << p;
    const QString folder = picked.size() > 1 ? folderOf(picked[1]) : QString();
    GnomeSort(picked);
    return folder;
}

} // namespace tessaly
