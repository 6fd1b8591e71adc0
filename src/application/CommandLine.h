// The command line of an unattended run. Arguments arrive as the shell split
// them; an argument that is exactly "/X" or "-X" for a switch letter X (F, H,
// N, Z, P, C, S, L, B, R, O, any case), or one of the long forms, starts switch
// X, and the arguments up to the next switch, joined by single blanks, are its
// value (outer blanks trimmed, double quotes deleted). Any other "/X", "-X"
// or "--word" is an unknown switch: it and its words are set aside.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

struct CommandLine
{
    struct Piece
    {
        QChar letter;  // upper case; null for arguments before any switch
        QString text;  // as the user wrote it, for the log
        QString value;
    };
    QList<Piece> pieces;
    QStringList ignored; // arguments that are no switch and follow none
    // Arguments written as a switch that is none ("/J", "--obscure"), each
    // with the words up to the next switch: ignored, never part of a value.
    QStringList unknown;

    bool help = false;
    bool version = false; // --version
    bool headless = false; // --headless: no window even when there is a display
    // --verify FILE.nzb: ask the server for every segment the NZB lists.
    bool verify = false;
    QString verifyPath;
};

// Long forms: --folder --subject --newsgroups --nzb --post --close --poweroff
// --logoff --hibernate --reboot --obfuscate --private-nzb; --help, or -h as
// the only argument; --headless.
CommandLine parseCommandLine(const QStringList &arguments);

// What a file manager hands over (the desktop file's %F): when every
// argument is an existing file or folder and none is a switch, the files to
// add (a folder's own files, by name); else nothing.
QStringList filesToOpen(const QStringList &arguments);

// The switches explained, for --help.
QString commandLineHelp(const QString &program);

// The checked values of a command line.
struct BatchRequest
{
    QString folder;
    QString subject;
    QString newsgroups; // as given: names separated by blanks
    QString nzbName;    // with ".nzb"
    bool post = false;
    bool obfuscate = false; // /O
    bool postNzb = true;    // false: --private-nzb
    int action = -1;    // on-complete list position, -1 for none
    // Only /P (and an action) was given: post what the queue holds, for
    // instance to resume a run that was interrupted.
    bool resumeOnly = false;
};

// Sets the server, TLS, user and password of --server, --ssl, --user and
// --password-env for this run; false (logged) on a bad value.
bool applyServerSwitches(const QString &server, bool ssl, const QString &user, const QString &passwordVariable);

// Checks the pieces (logging each one, and every problem in red); returns
// false when nothing is to be queued.
bool CheckCMDData(const CommandLine &line, BatchRequest *request);

// Queues the folder's files (and the NZB) as one collection; returns the
// number of items added, 0 when nothing was queued (logged).
// The newsgroups of a /N value, separated by blanks or commas.
QStringList newsgroupList(const QString &text);

int CMDLoadData(const BatchRequest &request);

} // namespace tessaly
