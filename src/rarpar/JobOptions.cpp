#include "rarpar/JobOptions.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

bool hasThreeLetterExtension(const QString &name)
{
    return name.size() >= 4 && name.at(name.size() - 4) == u'.';
}

QString quoted(const QString &path)
{
    QString inner = path;
    inner.replace(u'"', u"\"\""_s);
    return u'"' + inner + u'"';
}

QString lastComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

qint64 splitSizeBytes(const QString &text, bool megabytes)
{
    qsizetype digits = 0;
    while (digits < text.size() && digits < 12 && text.at(digits).isDigit())
        ++digits;
    const qint64 value = text.left(digits).toLongLong();
    return megabytes ? value * 1048576 : value;
}

qint64 volumeSize(const JobOptions &options)
{
    const qint64 split = splitSizeBytes(options.splitText, options.megabytes);
    if (!options.calcEfficient || options.partSize <= 0)
        return split;
    qint64 parts = split / options.partSize;
    const qint64 rest = split % options.partSize;
    if (2 * rest > options.partSize || (2 * rest == options.partSize && (parts & 1)))
        ++parts;
    return qMax<qint64>(parts, 1) * options.partSize;
}

int archiveCount(qint64 totalSize, qint64 splitSize)
{
    if (splitSize <= 0)
        return 1;
    return int(qMax<qint64>((totalSize + splitSize - 1) / splitSize, 1));
}

QString quoteFileList(const QStringList &paths)
{
    QStringList parts;
    for (const QString &path : paths)
        parts << quoted(path);
    return parts.join(u' ');
}

QString GetRarString(const JobOptions &options, const QString &fileList)
{
    if (options.noArchive)
        return u"none -- "_s + fileList;
    static const char *const compression[] = {"-m0 ", "-m3 ", "-m5 "};
    QString s = u"a -r0 -ep1 "_s + QLatin1StringView(compression[qBound(0, options.compression, 2)]);
    if (options.oldNaming)
        s += u"-vn "_s;
    if (!options.splitText.isEmpty())
        s += u"-v"_s + QString::number(volumeSize(options)) + u"b "_s;
    s += u"-- "_s + quoted(options.savePath + u"<TempFolder>/"_s + options.archiveName) + u' ' + fileList;
    return s;
}

QString GetPar2String(const JobOptions &options)
{
    QString s = u"create -s"_s + QString::number(options.partSize) + u" -r"_s + options.redundancy + u' ';
    if (options.uniformSize)
        s += u"-u "_s;
    // Without an archive the name is the recovery files' own, as given.
    s += quoted(options.savePath + u"<TempFolder>/"_s
                + (options.noArchive ? options.archiveName : withoutExtension(options.archiveName)) + u".par2"_s);
    s += u' ' + quoted(options.savePath + u"<TempFolder>/*.*"_s);
    return s;
}

QString withExtension(const QString &name, const QString &extension)
{
    return hasThreeLetterExtension(name) ? QString(name.left(name.size() - 3) + extension) : QString(name + u'.' + extension);
}

QString withoutExtension(const QString &name)
{
    return hasThreeLetterExtension(name) ? name.left(name.size() - 4) : name;
}

qint64 itemSize(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return info.size();
    qint64 total = 0;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

QStringList patternNames(const QStringList &paths)
{
    QStringList out;
    for (const QString &path : paths)
        if (path.contains(u'*') || path.contains(u'?'))
            out << path;
    return out;
}

int validateJob(JobRequest &request, qint64 totalSize)
{
    JobOptions &o = request.options;
    if (request.inputs.isEmpty())
        return 189;
    if (!patternNames(request.inputs).isEmpty())
        return 285;
    if (request.collectionName.trimmed().isEmpty())
        return 190;
    if (request.outputPath.trimmed().isEmpty())
        return 191;
    if (!QDir::isAbsolutePath(request.outputPath.trimmed()))
        return 286;
    if (o.archiveName.trimmed().isEmpty())
        return 192;
    if (o.noArchive)
        o.splitText.clear();
    const qint64 split = splitSizeBytes(o.splitText, o.megabytes);
    if (!o.splitText.isEmpty() && split < MinSplitSize)
        return 193;
    if (!o.splitText.isEmpty() && split > MaxSplitSize)
        return 194;
    if (request.subject.trimmed().isEmpty())
        return 24;
    if (request.newsgroups.isEmpty())
        return 25;
    if (o.noArchive) {
        // The recovery files' name: an archive's extension, left from
        // before the box was ticked, goes.
        o.archiveName = o.archiveName.trimmed();
        for (const QString &extension : {u".par2"_s, u".rar"_s, u".zip"_s})
            if (o.archiveName.endsWith(extension, Qt::CaseInsensitive))
                o.archiveName.chop(extension.size());
        return o.archiveName.isEmpty() ? 192 : 0;
    }
    o.archiveName = withExtension(o.archiveName.trimmed(), o.createZip ? u"zip"_s : u"rar"_s);
    if (o.splitText.isEmpty() && totalSize > MaxSplitSize)
        return 195;
    return 0;
}

QVector<RarParJob> makeJobs(const JobRequest &request, qint64 totalSize)
{
    JobOptions options = request.options;
    options.savePath = request.outputPath.trimmed();
    if (!options.savePath.endsWith(u'/'))
        options.savePath += u'/';
    const qint64 split = splitSizeBytes(options.splitText, options.megabytes);

    RarParJob common;
    common.savePath = options.savePath;
    common.subject = request.subject.trimmed();
    common.newsgroups = request.newsgroups.join(u',');
    common.extraFiles = request.extraFiles;
    common.obfuscate = request.obfuscate;
    common.postNzb = request.postNzb;

    QVector<RarParJob> jobs;
    if (!request.separate) {
        RarParJob job = common;
        job.name = request.collectionName.trimmed();
        job.rar = GetRarString(options, quoteFileList(request.inputs));
        job.par2 = GetPar2String(options);
        job.nzb = request.nzb ? withExtension(request.nzbName.trimmed(), u"nzb"_s) : QString();
        job.totalSize = totalSize;
        job.archives = archiveCount(totalSize, split);
        jobs << job;
        return jobs;
    }
    for (const QString &input : request.inputs) {
        const QString name = lastComponent(input);
        JobOptions own = options;
        own.archiveName = options.noArchive ? name : withExtension(name, u"rar"_s);
        RarParJob job = common;
        job.name = withoutExtension(name);
        job.rar = GetRarString(own, quoteFileList({input}));
        job.par2 = GetPar2String(own);
        job.nzb = request.nzb ? withExtension(name, u"nzb"_s) : QString();
        job.totalSize = itemSize(input);
        job.archives = archiveCount(job.totalSize, split);
        jobs << job;
    }
    return jobs;
}

} // namespace tessaly
