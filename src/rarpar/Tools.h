// The two outside tools of a job: where they are, how a stored argument
// string becomes an argument list, and what their output says of progress.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

// The tool's path: the program folder first, then PATH; empty when neither
// has it. name is "rar" or "par2" (".exe" is added on Windows).
QString findTool(const QString &name);
// The program's own PAR2 creator (tessaly-par2): beside the program, then on
// PATH; empty when neither has it. Tests name the one they built.
QString findBuiltinPar2();
void setBuiltinPar2(const QString &path);

// Splits an argument string at blanks outside double quotes; the quotes go,
// a doubled quote inside them stands for one. Nothing else is special.
QStringList splitArguments(const QString &arguments);
// An argument ending in "/*.*" becomes the files of that folder (not
// folders), sorted by name, each its own argument; no shell does it for us.
QStringList expandWildcards(const QStringList &arguments);

// Volumes the archiver has finished, from its output in chunks cut anywhere.
// Older versions write "l sum" as each volume ends; newer ones write
// "Creating archive" as each next volume starts and "Done" at the end.
class RarProgress
{
public:
    // Returns true when the count changed.
    bool feed(const QString &chunk);
    int volumesDone() const;
    // The files it said it could not open, each with the reason it gave
    // ("/a/b.bin (Permission denied)").
    const QStringList &unreadable() const { return unreadable_; }

private:
    void line(const QString &text);
    QString partial_;
    QStringList unreadable_;
    bool reasonNext_ = false;
    int controlSums_ = 0;
    int creating_ = 0;
    bool done_ = false;
};

// Whole percentages of the recovery tool ("Processing: 42.7%", ended by a
// carriage return), once per whole number.
class Par2Progress
{
public:
    // Returns true when the whole percentage changed.
    bool feed(const QString &chunk);
    int percent() const { return percent_; }

private:
    void segment(const QString &text);
    QString partial_;
    int percent_ = -1;
    bool changed_ = false;
};

} // namespace tessaly
