#include "rarpar/FileLists.h"

#include "common/GeneralFunc.h"
#include "storage/AppSettings.h"

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

void setPickedFiles(const QStringList &paths)
{
    QStringList &picked = PickedFiles();
    picked = QStringList{QString()};
    for (const QString &p : paths)
        if (!p.isEmpty())
            picked << p;
    if (picked.size() > 1)
        appSettings().LastPath = folderOf(picked[1]);
    GnomeSort(picked);
}

} // namespace tessaly
