// What every run of the program does, with a window or without: the start-up
// and shut-down sequences, the checks before posting, the command line of an
// unattended run and its exit status. The main window and the headless run
// both call these, so neither writes them again.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tessaly {

// Tables, run tag, Settings.ini (written with the defaults when missing),
// Queue.dat and the language. Before each stage `step` gets the text a splash
// window shows. Returns false when Settings.ini was unreadable and replaced.
bool startUp(const std::function<void(const QString &)> &step = {});

// Saves the queue, the Rar & Par jobs and the settings the window or run may
// have changed (before the machine is asked to go down, say). Returns whether
// the queue and the jobs were both written.
bool saveFiles();

// Saves the queue and the settings the window or run may have changed, the
// log file, and ends the SSL tunnel. Callers store their own values in
// appSettings() first. Returns what saveFiles() said.
bool shutDown();

// The message slot of the first server setting that posting needs and that is
// missing (server, nickname, e-mail address); 0 when nothing is missing.
int missingSettingSlot();

// How an unattended run ends; a signal ends it with 128 + its number.
enum ExitStatus : int {
    ExitAllPosted = 0,
    ExitBadCommandLine = 1,
    ExitNeedsAPerson = 2,   // a setting, a login, a queue file that cannot be read
    ExitGaveUp = 3,         // no progress for RetryMinutes
    ExitSomeFailed = 4,     // the run ended, but not every item was posted
    ExitActionRefused = 5,  // everything was posted, but the system refused to power off (etc.)
};

// Which items a run's result is about: the ones it added or took (not those
// an earlier run left failed in the queue), or every item of the queue.
enum class ItemScope { ThisRun, WholeQueue };
// ExitAllPosted when every item (of the scope) was posted, else ExitSomeFailed.
int queueExitStatus(ItemScope scope = ItemScope::ThisRun);
// A line for each item not posted: its subject and state (and why it failed).
QStringList itemsNotPosted(ItemScope scope = ItemScope::ThisRun);

// The start of an unattended run.
struct CommandLineStart
{
    bool queued = false;  // there is something to post
    bool post = false;    // and it is to be posted at once
    int action = -1;      // the on-complete list position asked for, -1 for none
    int exitStatus = -1;  // decided already (nothing left to post), else -1
    QString problem;      // why, when it needs a person
};
// Checks the switches, queues the folder (saving the queue at once, so that a
// run that is killed loses nothing) or, with /P alone, looks for work left.
CommandLineStart beginCommandLine(const QStringList &arguments);

} // namespace tessaly
