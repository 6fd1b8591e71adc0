#include "shell/Prompts.h"

#include "common/AppState.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QQueue>
#include <QSpacerItem>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace tessaly::Prompts {

namespace {
PromptMode g_mode = PromptMode::Interactive;
QQueue<PromptAnswer> g_answers;
QQueue<std::optional<QString>> g_inputs;
QQueue<QStringList> g_fileNames;
QList<ShownPrompt> g_shown;
bool g_headlessFailure = false;
std::function<void()> g_headlessHandler;

void record(const QString &kind, const QString &title, const QString &text, PromptIcon icon = PromptIcon::None,
            PromptButtons buttons = PromptButtons::Ok)
{
    g_shown.append({kind, title, text, icon, buttons, {}});
    if (g_mode == PromptMode::Headless) {
        QString plain = text;
        plain.replace(u"\r\n"_s, u"\n"_s);
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(plain));
        std::fflush(stderr);
        if (!g_headlessFailure && g_headlessHandler)
            QTimer::singleShot(0, g_headlessHandler);
        g_headlessFailure = true;
    }
}

PromptAnswer firstButton(PromptButtons b)
{
    return b == PromptButtons::Ok || b == PromptButtons::OkCancel ? PromptAnswer::Ok : PromptAnswer::Yes;
}

PromptAnswer cancelButton(PromptButtons b)
{
    switch (b) {
    case PromptButtons::Ok:
        return PromptAnswer::Ok;
    case PromptButtons::OkCancel:
    case PromptButtons::YesNoCancel:
        return PromptAnswer::Cancel;
    case PromptButtons::YesNo:
        return PromptAnswer::No;
    }
    return PromptAnswer::Cancel;
}

QStringList nextFileNames()
{
    return g_fileNames.isEmpty() ? QStringList() : g_fileNames.dequeue();
}
} // namespace

void setMode(PromptMode mode)
{
    g_mode = mode;
}

PromptMode mode()
{
    return g_mode;
}

namespace {
// Wide enough for the whole title beside the window manager's icon and
// buttons: a narrow box shows "Confir…ation".
int widthForTitle(const QString &title)
{
    QFont font = QApplication::font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + 160;
}
} // namespace

PromptAnswer message(QWidget *parent, const QString &text, PromptIcon icon, PromptButtons buttons,
                     const QString &title)
{
    const QString caption = title.isEmpty() ? QString::fromUtf16(kAppTitle) : title;
    record(u"message"_s, caption, text, icon, buttons);
    if (g_mode == PromptMode::Scripted)
        return g_answers.isEmpty() ? firstButton(buttons) : g_answers.dequeue();
    if (g_mode == PromptMode::Headless)
        return cancelButton(buttons);

    QMessageBox box(parent);
    box.setWindowTitle(caption);
    // Always plain text: a file name or a server's words are never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(u"\r\n"_s, u"\n"_s));
    switch (icon) {
    case PromptIcon::None:
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case PromptIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case PromptButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(widthForTitle(caption), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    switch (box.exec()) {
    case QMessageBox::Ok:
        return PromptAnswer::Ok;
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    default:
        return cancelButton(buttons);
    }
}

std::optional<QString> input(QWidget *parent, const QString &title, const QString &prompt,
                             const QString &defaultText)
{
    record(u"input"_s, title, prompt);
    g_shown.last().value = defaultText;
    if (g_mode == PromptMode::Scripted)
        return g_inputs.isEmpty() ? std::nullopt : g_inputs.dequeue();
    if (g_mode == PromptMode::Headless)
        return std::nullopt;
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    // Its layout sets its own least size: the line is widened instead.
    for (QLineEdit *edit : dialog.findChildren<QLineEdit *>())
        edit->setMinimumWidth(widthForTitle(title) - 40);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QStringList openFileNames(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)
{
    record(u"open-files"_s, caption, folder);
    if (g_mode != PromptMode::Interactive)
        return g_mode == PromptMode::Scripted ? nextFileNames() : QStringList();
    return QFileDialog::getOpenFileNames(parent, caption, folder, filter);
}

QString existingFolder(QWidget *parent, const QString &caption, const QString &folder)
{
    record(u"folder"_s, caption, folder);
    if (g_mode != PromptMode::Interactive)
        return g_mode == PromptMode::Scripted ? nextFileNames().value(0) : QString();
    return QFileDialog::getExistingDirectory(parent, caption, folder);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &path, const QString &filter)
{
    record(u"save-file"_s, caption, path);
    if (g_mode != PromptMode::Interactive)
        return g_mode == PromptMode::Scripted ? nextFileNames().value(0) : QString();
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

void setNextAnswer(PromptAnswer answer)
{
    g_answers.enqueue(answer);
}

void setNextInput(std::optional<QString> text)
{
    g_inputs.enqueue(std::move(text));
}

void setNextFileNames(const QStringList &names)
{
    g_fileNames.enqueue(names);
}

const QList<ShownPrompt> &shown()
{
    return g_shown;
}

bool headlessFailure()
{
    return g_headlessFailure;
}

void setHeadlessHandler(std::function<void()> handler)
{
    g_headlessHandler = std::move(handler);
}

void reset()
{
    g_answers.clear();
    g_inputs.clear();
    g_fileNames.clear();
    g_shown.clear();
    g_headlessFailure = false;
}

} // namespace tessaly::Prompts
