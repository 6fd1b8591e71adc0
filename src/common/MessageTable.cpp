#include "common/MessageTable.h"

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

struct EnglishText
{
    int slot;
    const char16_t *text;
};

// The built-in English texts. "//" marks a line break (slot 9: the file count).
constexpr EnglishText kEnglish[] = {
    {9, u"Adding // files"},
    {10, u"Subject"},
    {11, u"Example:"},
    {12, u"Newsgroups"},
    {13, u"Newsgroups"},
    {14, u"Add"},
    {15, u"Remove"},
    {16, u"Generate and Post a .NZB file for this collection"},
    {17, u"Save"},
    {18, u"OK"},
    {19, u"Cancel"},
    {20, u"is an invalid newsgroup name."},
    {21, u"Newsgroup names cannot start with a dot (.)"},
    {22, u"Newsgroup names cannot end with a dot (.)"},
    {23, u"Newsgroup already exists in the list!"},
    {24, u"No subject specified."},
    {25, u"No newsgroup selected."},
    {26, u"No NZB path selected."},
    {27, u"You haven't changed the subject line.//Is that OK?"},
    {28, u"Queued"},
    {29, u"Upload Individual Parts"},
    {30, u"Select the parts you want to upload:"},
    {31, u"Parts to Upload"},
    {32, u"File Part"},
    {33, u"OK"},
    {34, u"Cancel"},
    {35, u"No newsserver specified!"},
    {36, u"No nickname specified!"},
    {37, u"No email address specified!"},
    {38, u"No parts selected!"},
    {39, u"Start"},
    {40, u"Stop"},
    {41, u"Add Files"},
    {42, u"Settings"},
    {43, u"Log"},
    {44, u"Scheduler"},
    {45, u"About"},
    {46, u"Tray"},
    {47, u"On Complete:"},
    {48, u"Close Tessaly"},
    {49, u"Power Off"},
    {50, u"Logoff User"},
    {51, u"Hibernate"},
    {52, u"Reboot"},
    {53, u"Show Balloon Tip"},
    {54, u"Limit Upload Speed to:"},
    {55, u"Article Subject"},
    {56, u"Post Status"},
    {57, u"Parts to Post"},
    {58, u"Newsgroups"},
    {59, u"#"},
    {60, u"Action"},
    {61, u"Description"},
    {62, u"Progress"},
    {63, u"Thread Speed"},
    {64, u"Upload Speed:"},
    {65, u"Remaining Time:"},
    {66, u"Queued"},
    {67, u"Paused"},
    {68, u"Posting"},
    {69, u"Posted OK"},
    {70, u"Error"},
    {71, u"File"},
    {72, u"Exit"},
    {73, u"Tools"},
    {74, u"Add Files"},
    {75, u"Settings"},
    {76, u"Check Latest Version"},
    {77, u"About"},
    {78, u"Online Help Guide (EN)"},
    {79, u"Online Help Guide (NL)"},
    {80, u"About Tessaly Poster"},
    {81, u"Please stop posting first."},
    {82, u"Posting in Progress"},
    {83, u"Clear all files?"},
    {84, u"Confirmation"},
    {85, u"Your version of Tessaly Poster is up-to-date."},
    {86, u"A new version of Tessaly Poster is available:"},
    {87, u"Would you like to visit the website?"},
    {88, u"Online version info not found."},
    {89, u"Stop posting?"},
    {90, u"No newsserver specified!"},
    {91, u"No nickname specified!"},
    {92, u"No email address specified!"},
    {93, u"No files to post."},
    {94, u"Offline"},
    {95, u"Pause Selected Files"},
    {96, u"Pause All Files"},
    {97, u"Clear Selected Files"},
    {98, u"Clear All Files"},
    {99, u"Re-Queue Selected Files"},
    {100, u"Re-Queue All Files"},
    {101, u"Change Newsgroup Of Selected Files"},
    {102, u"Change Newsgroup Of All Files"},
    {103, u"Upload Individual Parts (Filling)"},
    {104, u"Create NZB From Selected Files"},
    {105, u"Create NZB From This Collection"},
    {106, u"File not found!"},
    {107, u"No Upload"},
    {108, u"Remove Files From Disk After Upload"},
    {109, u"No Rar & Par2 Items."},
    {110, u"Idle"},
    {111, u"Warning! The files will be removed permanently after upload!//Are you sure?"},
    {112, u"Warning!"},
    {113, u"Rar.exe is required in order to use the Rar/Par2 feature.//Copy \"Rar.exe\" from the WinRAR installation folder to the Tessaly Poster installation folder.////If you haven't installed WinRAR already, then please download the shareware version from//the WinRAR website first and install it.////Would you like to visit the WinRAR website?"},
    {114, u"Par2.exe is required in order to use the Rar/Par2 feature.//Please re-install Tessaly Poster."},
    {115, u"Change Newsgroups"},
    {116, u"Newsgroups"},
    {117, u"Newsgroups"},
    {118, u"Add"},
    {119, u"Remove"},
    {120, u"OK"},
    {121, u"Cancel"},
    {122, u"On Complete"},
    {123, u"Cancel"},
    {124, u"seconds"},
    {125, u"Powering off computer in"},
    {126, u"Logging off in"},
    {127, u"Hibernating computer in"},
    {128, u"Rebooting computer in"},
    {129, u"Connecting to server"},
    {130, u"on port"},
    {131, u"Upload in Thread"},
    {132, u"File not found!"},
    {133, u"Offline"},
    {134, u"Upload has finished!"},
    {135, u"Start"},
    {136, u"Stop"},
    {137, u"Upload Speed:"},
    {138, u"Remaining Time:"},
    {139, u"Queued"},
    {140, u"Posted OK"},
    {141, u"Authenticating"},
    {142, u"Uploading Article"},
    {143, u"Error Occurred!"},
    {144, u"Initializing Rar... Please Wait."},
    {145, u"Initializing Par2... Please Wait."},
    {146, u"Creating Rar archives..."},
    {147, u"Creating Par2 recovery files..."},
    {148, u"Waiting for folder to become available"},
    {149, u"Input && Output Options"},
    {150, u"Rar && Par2 Options"},
    {151, u"Post Options"},
    {152, u"Input && Output Options"},
    {153, u"Rar Options"},
    {154, u"Par2 Options"},
    {155, u"Extra files (will be posted, but not rarred && parred, like screenshots or NFO files)"},
    {156, u"Subject"},
    {157, u"Newsgroups"},
    {158, u"      Generate and Post a .NZB file for this collection (name only)"},
    {159, u"Files / Folders"},
    {160, u"Treat each file && folder as a separate upload"},
    {161, u"Collection Name:"},
    {162, u"Save Path:"},
    {163, u"Archive Name:"},
    {164, u"Files"},
    {165, u"Folder"},
    {166, u"Remove"},
    {167, u"Clear"},
    {168, u"Random"},
    {169, u"Save"},
    {170, u"Add"},
    {171, u"Desired Split Size:"},
    {172, u"Compression:"},
    {173, u"Calculate most efficient Rar size for Par2 (Recommended!)"},
    {174, u"Create ZIP file"},
    {175, u"Use old style naming scheme"},
    {176, u"None"},
    {177, u"Normal"},
    {178, u"High"},
    {179, u"Redundancy (%):"},
    {180, u"Uniform recovery file sizes"},
    {181, u"Extra Files"},
    {182, u"Add"},
    {183, u"Remove"},
    {184, u"Clear"},
    {185, u"Example"},
    {186, u"Newsgroups"},
    {187, u"Add"},
    {188, u"Remove"},
    {189, u"No files or folders specified."},
    {190, u"No Collection Name specified."},
    {191, u"No Save Path specified."},
    {192, u"No Archive Name specified."},
    {193, u"Minimum allowed split size is 100.000 bytes."},
    {194, u"Maximum allowed split size is 250mb (262.144.000 bytes)."},
    {195, u"The total size of the files/folders you're trying to archive is more than 250mb (262.144.000 bytes).//Please split them into several smaller archives instead of 1 big one.////If you have selected to create a Zip archive, then please create Rar archives instead."},
    {196, u"Only numbers are allowed."},
    {197, u"You cannot specify a number lower than 1."},
    {198, u"You cannot specify a number higher than 100."},
    {199, u"Note: Splitting is not possible when creating ZIP archives."},
    {200, u"Drives cannot be selected."},
    {201, u"A filename cannot contain any of the following characters: \r\n\r\n\\ / : * ? \" < > |"},
    {202, u"Scheduler"},
    {203, u"Time to Start Posting"},
    {204, u"Hour:"},
    {205, u"Minutes:"},
    {206, u"Start"},
    {207, u"Stop"},
    {208, u"Cancel"},
    {209, u"Waiting"},
    {210, u"Settings"},
    {211, u"Server Settings"},
    {212, u"Post Settings"},
    {213, u"Newsserver:"},
    {214, u"Port:"},
    {215, u"Connections:"},
    {216, u"Connect via SSL"},
    {217, u"Newsserver Requires Authentication"},
    {218, u"Username:"},
    {219, u"Password:"},
    {220, u"Nickname:"},
    {221, u"Email Address:"},
    {222, u"Lines per Part"},
    {223, u"Server"},
    {224, u"Miscellaneous"},
    {225, u"Miscellaneous"},
    {226, u"Don't show confirmation box when subject hasn't been changed."},
    {227, u"Remember and reload checked newsgroups."},
    {228, u"Automatically enable option to generate and post a NZB file."},
    {229, u"Select Language:"},
    {230, u"OK"},
    {231, u"Cancel"},
    {232, u"Tessaly Poster uses Stunnel for the SSL connection. If you have a firewall installed, then make sure it gives Stunnel access to the internet.\r\n\r\nWould you like to change the port to \"563\", which is the default SSL usenet connection port? "},
    {233, u"Since you have turned off SSL, would you like to change the port to \"119\", which is the default non-SSL usenet connection port? "},
    {234, u"Confirm"},
    {235, u"There was an error reading the language file!\r\nThe language has been reset to English."},
    {236, u"Remove all uploaded files from the list after upload is done."},
    {237, u"Check for new version every time Tessaly Poster starts."},
    {238, u"Hide last two separators from toolbar (Classic style bug)."},
    {239, u"Speed Scheduler"},
    {240, u"Speed Scheduler"},
    {241, u"Current Upload Speed."},
    {242, u"Limit Upload Speed to:"},
    {243, u"Language"},
    {244, u"Tessaly Poster must be restarted before this option takes effect."},
    {245, u"You have enabled the Speed Scheduler, but set the speed at 0 kB/s (unlimited).\r\n\r\nThe Speed Scheduler will be disabled."},
    {246, u"You have enabled the Speed Scheduler, but haven't selected any hours.\r\n\r\nThe Speed Scheduler will be disabled."},
    {247, u"Remember and reload Rar && Par2 settings."},
    {248, u"Checking"},
    {249, u"checked %1 / missing %2"},
    {250, u"Check every posted article on the server"},
    {251, u"Check after (seconds):"},
    {252, u"Post a missing article again (times):"},
    {253, u"Verify on the server"},
    {254, u"%1: %2 of %3 parts on the server, missing: %4"},
    {255, u"%1: all %2 parts on the server"},
    {256, u"Post the missing parts again now?"},
    {257, u"Or type the parts (for example 2, 5, 9-12):"},
    {258, u"Not a part number or a range of parts: %1"},
    {259, u"No such part: %1 (this file has parts 1 to %2)"},
    {260, u"Do not check the server's certificate (unsafe)"},
    {261, u"Restore"},
    {262, u"Not every item was posted."},
    {263, u"%1 was refused by the system: %2"},
    {264, u"%1 now"},
    {265, u"Ready to post"},
    {266, u"Nothing to post at the scheduled time."},
    {267, u"%1: accepted by the system."},
    {268, u"Remove the %1 selected rows from the queue? Not all of them are posted yet."},
    {269, u"The port must be a whole number from 1 to 65535 (not \"%1\")."},
    {270, u"Run finished: %1 items posted, %2 failed, %3 parts, %4 in %5, average %6"},
    {271, u"%1 of %2 posted"},
    {272, u"Upload speed over the last ten minutes (the line: the speed limit)"},
    {273, u"not while posting"},
    {274, u"Tick \"%1\" first"},
    {275, u"Plain"},
    {276, u"SSL (built-in)"},
    {277, u"SSL through the tunnel"},
    {278, u"Connection:"},
    {279, u"Certificate fingerprint (SHA-256):"},
    {280, u"A certificate fingerprint is 64 hex digits (colons allowed), not \"%1\"."},
    {281, u"empty: the system's certificate authorities decide"},
    {282, u"select a job first"},
    {283, u"no jobs yet"},
    {284, u"not while the jobs run"},
    {285, u"The archiver reads * and ? in a name as a pattern and would pack every file that matches it. Rename these first://%1"},
    {286, u"The save path must be a full path, such as /home/me/uploads."},
    {287, u"No archive: PAR2 over the files as they are"},
    {288, u"Creating ZIP archive..."},
    {289, u"Remove all Rar & Par jobs?"},
    {290, u"Would you like to change the port to \"563\", which is the default SSL usenet connection port? "},
    {291, u"Adding 1 file"},
    {292, u"Run finished: %1 item posted, %2 failed, %3 parts, %4 in %5, average %6"},
    {293, u"Successfully uploaded: %1"},
    {294, u"Connection Closed"},
    {295, u"Post check: %1"},
    {296, u"Waiting for the post check"},
    {297, u"Obfuscate names"},
    {298, u"Random subjects, file names and poster on the server: only the NZB file tells what the articles are."},
    {299, u"Post the NZB file (unticked: it is only written)"},
    {300, u"Post check server"},
    {301, u"Posted, not checked: %1"},
    {302, u"empty: the posting server checks"},
    {303, u"Make PAR2 files with the outside par2 program"},
};
static_assert(std::size(kEnglish) == MessageTable::SlotCount);

constexpr MessageTable::Section kSections[] = {
    {u"frmFileSetup", 9, 28},    {u"frmFillSegment", 29, 38}, {u"frmMain", 39, 114},
    {u"frmNewsgroups", 115, 121}, {u"frmOnComplete", 122, 128}, {u"frmPost", 129, 143},
    {u"frmProgress", 144, 148},   {u"frmRarPar", 149, 201},      {u"frmScheduler", 202, 209},
    {u"frmSettings", 210, 247},  {u"PostCheck", 248, 256},
    {u"Fill", 257, 259},
    {u"Ssl", 260, 260},
    {u"Unattended", 261, 267},
    {u"Window", 268, 274},
    {u"Tls", 275, 281},
    {u"Hints", 282, 284},
    {u"RarParNames", 285, 296},
    {u"Obfuscation", 297, 299},
    {u"CheckServer", 300, 302},
    {u"Par2Tool", 303, 303},
};

bool inRange(int slot)
{
    return slot >= MessageTable::FirstSlot && slot <= MessageTable::LastSlot;
}

} // namespace

std::span<const MessageTable::Section> MessageTable::sections()
{
    return kSections;
}

MessageTable::MessageTable()
{
    SetEnglishLang();
}

void MessageTable::SetEnglishLang()
{
    for (const EnglishText &e : kEnglish)
        slots_[e.slot - FirstSlot] = QString::fromUtf16(e.text);
}

QString MessageTable::englishText(int slot)
{
    return inRange(slot) ? QString::fromUtf16(kEnglish[slot - FirstSlot].text) : QString();
}

QString MessageTable::text(int slot) const
{
    return inRange(slot) ? slots_[slot - FirstSlot] : QString();
}

void MessageTable::setText(int slot, const QString &text)
{
    if (inRange(slot))
        slots_[slot - FirstSlot] = text;
}

void MessageTable::clearAll()
{
    for (QString &s : slots_)
        s.clear();
}

QString MessageTable::message(int slot) const
{
    QString t = text(slot);
    const bool twoBreaks = slot == 245 || slot == 246;
    return t.replace(u"//"_s, twoBreaks ? u"\r\n\r\n"_s : u"\r\n"_s);
}

QString MessageTable::addingFilesText(int count) const
{
    return count == 1 ? text(291) : text(9).replace(u"//"_s, QString::number(count));
}

MessageTable &messageTable()
{
    static MessageTable table;
    return table;
}

QString msg(int slot)
{
    return messageTable().text(slot);
}

} // namespace tessaly
