#include "common/MessageTable.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(MessageTable, BuiltInEnglishTextsFillEverySlotOfTheSectionsOnce)
{
    const MessageTable &t = messageTable();
    int next = MessageTable::FirstSlot;
    for (const auto &s : MessageTable::sections()) {
        EXPECT_EQ(s.first, next);
        next = s.last + 1;
    }
    EXPECT_EQ(next, MessageTable::LastSlot + 1);
    for (int slot = MessageTable::FirstSlot; slot <= MessageTable::LastSlot; ++slot)
        EXPECT_FALSE(t.text(slot).isEmpty()) << slot;
    EXPECT_EQ(t.text(MessageTable::LastSlot + 1), QString());
}

TEST(MessageTable, DoubleSlashConventions)
{
    MessageTable &t = messageTable();
    EXPECT_EQ(t.addingFilesText(3), u"Adding 3 files"_s);
    EXPECT_EQ(t.message(27), u"You haven't changed the subject line.\r\nIs that OK?"_s);
    EXPECT_EQ(t.message(111), u"Warning! The files will be removed permanently after upload!\r\nAre you sure?"_s);
    // Four slashes are two line breaks.
    EXPECT_TRUE(t.message(114).startsWith(u"Par2.exe is required in order to use the Rar/Par2 feature.\r\nPlease"_s));
    EXPECT_EQ(t.message(113).count(u"\r\n"_s), 6);
    t.setText(245, u"A//B"_s);
    EXPECT_EQ(t.message(245), u"A\r\n\r\nB"_s);
    t.setText(10, u"x//y//z"_s);
    EXPECT_EQ(t.message(10), u"x\r\ny\r\nz"_s);
}

TEST(MessageTable, SetEnglishLangRestoresAfterChanges)
{
    MessageTable &t = messageTable();
    t.clearAll();
    t.setText(66, u"Wachtrij"_s);
    EXPECT_EQ(msg(66), u"Wachtrij"_s);
    EXPECT_EQ(msg(67), QString());
    t.SetEnglishLang();
    EXPECT_EQ(msg(66), u"Queued"_s);
    EXPECT_EQ(msg(67), u"Paused"_s);
}
