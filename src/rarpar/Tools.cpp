#include "rarpar/Tools.h"

#include "platform/ProgramFolder.h"
#include "rarpar/FileLists.h"
#include "rarpar/TempFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace tessaly {

QString findTool(const QString &name)
{
#ifdef Q_OS_WIN
    const QString file = name + u".exe"_s;
#else
    const QString file = name;
#endif
    const QFileInfo local(inProgramFolder(file));
    if (local.isFile() && local.isExecutable())
        return local.absoluteFilePath();
    return QStandardPaths::findExecutable(file);
}

namespace {
QString g_builtinPar2;
} // namespace

QString findBuiltinPar2()
{
    if (!g_builtinPar2.isEmpty())
        return g_builtinPar2;
#ifdef Q_OS_WIN
    const QString file = u"tessaly-par2.exe"_s;
#else
    const QString file = u"tessaly-par2"_s;
#endif
    const QFileInfo beside(QCoreApplication::applicationDirPath() + u'/' + file);
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(file);
}

void setBuiltinPar2(const QString &path)
{
    g_builtinPar2 = path;
}

QStringList splitArguments(const QString &arguments)
{
    QStringList out;
    QString current;
    bool inQuotes = false;
    bool any = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QChar c = arguments.at(i);
        if (c == u'"') {
            if (inQuotes && i + 1 < arguments.size() && arguments.at(i + 1) == u'"') {
                current += u'"';
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            any = true;
        } else if (c == u' ' && !inQuotes) {
            if (any)
                out << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        out << current;
    return out;
}

QStringList expandWildcards(const QStringList &arguments)
{
    QStringList out;
    for (const QString &argument : arguments) {
        if (!argument.endsWith(u"/*.*"_s)) {
            out << argument;
            continue;
        }
        const QString folder = argument.left(argument.size() - 4);
        QStringList files;
        files << QString();
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries)
            if (entry.fileName() != QLatin1StringView(TempMarkerName))
                files << entry.absoluteFilePath();
        GnomeSort(files);
        files.removeFirst();
        out << files;
    }
    return out;
}

namespace {

// Feeds every finished line or carriage-return segment of a chunk stream to f.
template <typename F>
void segments(QString &partial, const QString &chunk, F f)
{
    partial += chunk;
    qsizetype start = 0;
    for (qsizetype i = 0; i < partial.size(); ++i) {
        const QChar c = partial.at(i);
        if (c == u'\n' || c == u'\r') {
            f(partial.mid(start, i - start));
            start = i + 1;
        }
    }
    partial.remove(0, start);
    if (partial.size() > 4096) // a tool that never ends a line
        partial = partial.right(256);
}

} // namespace

bool RarProgress::feed(const QString &chunk)
{
    const int before = volumesDone();
    segments(partial_, chunk, [this](const QString &s) { line(s); });
    return volumesDone() != before;
}

void RarProgress::line(const QString &text)
{
    if (text.isEmpty())
        return;
    // "Cannot open <path>", and the system's reason on the line after it.
    if (reasonNext_) {
        reasonNext_ = false;
        unreadable_.last() += u" ("_s + text.trimmed() + u')';
        return;
    }
    if (text.startsWith(u"Cannot open "_s) && unreadable_.size() < 100) {
        unreadable_ << text.mid(12).trimmed();
        reasonNext_ = true;
        return;
    }
    if (text.contains(u"l sum"_s))
        ++controlSums_;
    if (text.startsWith(u"Creating archive"_s))
        ++creating_;
    if (text.trimmed() == u"Done"_s)
        done_ = true;
}

int RarProgress::volumesDone() const
{
    // Each further volume started means the one before is finished; versions
    // that also write "l sum" count the same volumes, so take the larger.
    const int started = qMax(creating_ - 1, 0) + (done_ && creating_ > 0 ? 1 : 0);
    return qMax(controlSums_, started);
}

bool Par2Progress::feed(const QString &chunk)
{
    changed_ = false;
    segments(partial_, chunk, [this](const QString &s) { segment(s); });
    return changed_;
}

void Par2Progress::segment(const QString &text)
{
    const qsizetype at = text.indexOf(u"Processing:"_s);
    if (at < 0)
        return;
    const QString value = text.mid(at + 11).trimmed();
    qsizetype digits = 0;
    while (digits < value.size() && value.at(digits).isDigit())
        ++digits;
    if (digits == 0 || digits > 3)
        return;
    const int v = value.left(digits).toInt();
    if (v != percent_) {
        percent_ = v;
        changed_ = true;
    }
}

} // namespace tessaly
