// A Rar & Par job as the job dialog defines it: the archiver's and the
// recovery tool's argument strings (with "<TempFolder>" standing for the
// folder each run makes), the names, the checks made before a job is added,
// and turning the dialog's input into one job or one job per input item.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace tessaly {

inline constexpr qint64 MinSplitSize = 100000;
inline constexpr qint64 MaxSplitSize = 262144000;

struct JobOptions
{
    int compression = 0;      // 0 none, 1 normal, 2 high
    bool oldNaming = false;
    QString splitText;        // empty: one archive
    bool megabytes = false;   // the split text counts MiB, else bytes
    bool calcEfficient = true;
    bool createZip = false;
    bool noArchive = false;   // recovery files over the chosen files themselves
    QString redundancy = QStringLiteral("10");
    bool uniformSize = false;
    QString savePath;         // ending with "/"
    QString archiveName;      // with ".rar" or ".zip"
    qint64 partSize = 0;      // raw bytes of one posted article
};

// The split text in bytes (0 when empty or not a number).
qint64 splitSizeBytes(const QString &text, bool megabytes);
// The size given to the archiver's -v switch: the split size, or with the
// efficient option the nearest whole number of parts (halves to even, at
// least one part).
qint64 volumeSize(const JobOptions &options);
// Expected number of volumes: total / split rounded up, 1 without a split.
int archiveCount(qint64 totalSize, qint64 splitSize);

// Each path in double quotes (a double quote inside doubled), joined by spaces.
QString quoteFileList(const QStringList &paths);
// Without an archive the string is "none -- files": no archiver is run
// (and an earlier version refuses the job instead of packing something).
QString GetRarString(const JobOptions &options, const QString &fileList);
QString GetPar2String(const JobOptions &options);

// A name's three-letter extension replaced by extension, or extension added.
QString withExtension(const QString &name, const QString &extension);
// The name without a three-letter extension.
QString withoutExtension(const QString &name);

struct RarParJob
{
    QString name;
    QString rar;
    QString par2;
    QString savePath;
    QString subject;
    QString newsgroups;
    QString nzb;              // file name with ".nzb", or empty
    qint64 totalSize = 0;
    int archives = 1;
    QStringList extraFiles;
    bool obfuscate = false; // its results are posted obfuscated
    bool postNzb = true;    // its NZB is posted with them (else only written)
};

struct JobRequest
{
    QStringList inputs;       // files and folders
    QString collectionName;
    QString outputPath;
    QString subject;
    QStringList newsgroups;   // the selected ones, in list order
    bool nzb = false;
    QString nzbName;
    bool separate = false;
    QStringList extraFiles;
    JobOptions options;       // savePath is taken from outputPath
    bool obfuscate = false;
    bool postNzb = true;
};

// The paths holding * or ?, which the archiver would take as patterns (it
// has no way to quote them).
QStringList patternNames(const QStringList &paths);

// The size of a file, or of a folder with all its subfolders.
qint64 itemSize(const QString &path);

// The first check an Add fails, as a message slot (0: none). Fixes the
// archive name's extension on the way, as the dialog shows it.
int validateJob(JobRequest &request, qint64 totalSize);

// The job(s) an Add makes from a checked request.
QVector<RarParJob> makeJobs(const JobRequest &request, qint64 totalSize);

} // namespace tessaly
