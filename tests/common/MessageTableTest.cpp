#include "common/MessageTable.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(MessageTable, BuiltInEnglishTexts)
{
    const MessageTable &t = messageTable();
    EXPECT_EQ(t.text(9), u"Adding // files"_s);
    EXPECT_EQ(t.text(28), u"Queued"_s);
    EXPECT_EQ(t.text(66), u"Queued"_s);
    EXPECT_EQ(t.text(81), u"Please stop posting first."_s);
    EXPECT_EQ(t.text(82), u"Posting in Progress"_s);
    EXPECT_EQ(t.text(94), u"Offline"_s);
    EXPECT_EQ(t.text(131), u"Upload in Thread"_s);
    EXPECT_EQ(t.text(140), u"Posted OK"_s);
    EXPECT_EQ(t.text(149), u"Input && Output Options"_s);
    EXPECT_EQ(t.text(214), u"Port:"_s);
    EXPECT_EQ(t.text(235), u"There was an error reading the language file!\r\nThe language has been reset to English."_s);
    EXPECT_EQ(t.text(232),
              u"Tessaly Poster uses Stunnel for the SSL connection. If you have a firewall installed, then "
              u"make sure it gives Stunnel access to the internet.\r\n\r\nWould you like to change the port "
              u"to \"563\", which is the default SSL usenet connection port? "_s);
    EXPECT_EQ(t.text(247), u"Remember and reload Rar && Par2 settings."_s);
    EXPECT_EQ(t.text(8), QString());
    EXPECT_EQ(t.text(MessageTable::LastSlot + 1), QString());
    for (int slot = MessageTable::FirstSlot; slot <= MessageTable::LastSlot; ++slot)
        EXPECT_FALSE(t.text(slot).isEmpty()) << slot;
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

TEST(MessageTable, SectionsCoverEverySlotOnce)
{
    int next = MessageTable::FirstSlot;
    for (const auto &s : MessageTable::sections()) {
        EXPECT_EQ(s.first, next);
        next = s.last + 1;
    }
    EXPECT_EQ(next, MessageTable::LastSlot + 1);
    // frmSettings key 5 is slot 214, frmMain key 28 is slot 66.
    EXPECT_EQ(MessageTable::sections()[9].first + 5 - 1, 214);
    EXPECT_EQ(MessageTable::sections()[2].first + 28 - 1, 66);
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
