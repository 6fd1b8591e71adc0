#include "common/Log.h"
#include "shell/MainWindow.h"
#include "storage/UploadQueue.h"

#include <QListView>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(MainWindow, ListsShowTheModels)
{
    MainWindow w;
    EXPECT_EQ(w.windowTitle(), u"Tessaly Poster (Beta 2)"_s);
    for (int i = 1; i <= 3; ++i)
        uploadQueue().append(UploadQueue::newItem(u"item %1"_s.arg(i), u"a.b"_s, u"/p"_s, 2, u"t"_s, {}));
    uploadQueue().MoveUDTItemTop(3, 1);
    const QAbstractItemModel *m = w.uploadList()->model();
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->index(0, 0).data().toString(), u"item 3"_s);
    EXPECT_FALSE(m->index(0, 0).data(Qt::DecorationRole).isNull());
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), u"Article Subject"_s);

    AddLog(0, u"red line"_s, LogColour::Red, true);
    const QModelIndex line = w.logPane()->model()->index(0, 0);
    EXPECT_TRUE(line.data().toString().endsWith(u": red line"_s));
    EXPECT_EQ(line.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_TRUE(line.data(Qt::FontRole).value<QFont>().bold());
}
