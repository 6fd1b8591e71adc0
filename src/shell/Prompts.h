// Every message box, input box and file picker of the program goes through
// these functions. Tests put them in scripted mode, pre-answer them and read
// back what was shown; headless runs print the text instead of waiting.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace tessaly {

enum class PromptIcon { None, Information, Exclamation, Critical, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

enum class PromptMode {
    Interactive, // real dialogs
    Scripted,    // answers come from the pre-answer queues; nothing is shown
    Headless,    // the text goes to standard error; the run is marked as failed
};

struct ShownPrompt
{
    QString kind; // "message", "input", "open-files", "folder", "save-file"
    QString title;
    QString text;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
    QString value; // what an input box offered to start from
};

namespace Prompts {

void setMode(PromptMode mode);
PromptMode mode();

// Shows a message box. Title defaults to the program's title.
PromptAnswer message(QWidget *parent, const QString &text, PromptIcon icon = PromptIcon::Exclamation,
                     PromptButtons buttons = PromptButtons::Ok, const QString &title = {});
// Asks for a line of text; nullopt when cancelled.
std::optional<QString> input(QWidget *parent, const QString &title, const QString &prompt,
                             const QString &defaultText = {});
QStringList openFileNames(QWidget *parent, const QString &caption, const QString &folder,
                          const QString &filter = {});
QString existingFolder(QWidget *parent, const QString &caption, const QString &folder);
QString saveFileName(QWidget *parent, const QString &caption, const QString &path,
                     const QString &filter = {});

// Pre-answers for scripted mode, used first in first out. Without one a
// message box answers its first button and the other prompts are cancelled.
void setNextAnswer(PromptAnswer answer);
void setNextInput(std::optional<QString> text);
void setNextFileNames(const QStringList &names);

// What was shown since the last reset.
const QList<ShownPrompt> &shown();
// Set once a headless run needed a person.
bool headlessFailure();
// Called (once, a moment later) when a headless run needed a person.
void setHeadlessHandler(std::function<void()> handler);
void reset();

} // namespace Prompts
} // namespace tessaly
