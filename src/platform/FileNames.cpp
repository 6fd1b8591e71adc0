#include "platform/FileNames.h"
#include "platform/PartFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr char16_t kRawFirst = 0xDC80;
constexpr char16_t kRawLast = 0xDCFF;

// The length of the valid UTF-8 sequence at p (1..4), 0 when there is none.
int utf8Length(const unsigned char *p, qsizetype left)
{
    const unsigned char c = p[0];
    int n = 0;
    char32_t min = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (left < n)
        return 0;
    char32_t v = c & (0xFF >> (n + 1));
    for (int k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (p[k] & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

QString decodeFileName(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const int n = utf8Length(p + i, size - i);
        if (n == 0) {
            out += QChar(char16_t(0xDC00 + p[i]));
            ++i;
            continue;
        }
        out += QString::fromUtf8(reinterpret_cast<const char *>(p + i), n);
        i += n;
    }
    return out;
}

QByteArray encodeFileName(const QString &name)
{
    if (!hasRawBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const bool raw = i < name.size() && name.at(i).unicode() >= kRawFirst && name.at(i).unicode() <= kRawLast;
        if (i < name.size() && !raw)
            continue;
        out += QStringView(name).mid(start, i - start).toUtf8();
        if (raw)
            out += char(name.at(i).unicode() - 0xDC00);
        start = i + 1;
    }
    return out;
}

bool hasRawBytes(const QString &path)
{
    return std::any_of(path.cbegin(), path.cend(),
                       [](QChar c) { return c.unicode() >= kRawFirst && c.unicode() <= kRawLast; });
}

QString displayName(const QString &name)
{
    QString out = name;
    for (QChar &c : out)
        if (c.unicode() >= kRawFirst && c.unicode() <= kRawLast)
            c = QChar::ReplacementCharacter;
    return out;
}

qint64 regularFileSize(const QString &path)
{
#ifdef Q_OS_UNIX
    if (hasRawBytes(path)) {
        struct stat st {};
        if (::stat(encodeFileName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            return -1;
        return qint64(st.st_size);
    }
#endif
    const QFileInfo info(path);
    return info.isFile() ? info.size() : -1;
}

bool removeFile(const QString &path)
{
    closePartFiles(path); // a kept-open file would keep its space
#ifdef Q_OS_UNIX
    if (hasRawBytes(path))
        return ::unlink(encodeFileName(path).constData()) == 0;
#endif
    return QFile::remove(path);
}

QList<FolderFile> filesInFolder(const QString &folder)
{
    QList<FolderFile> files;
    QString base = folder;
    if (!base.endsWith(u'/'))
        base += u'/';
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(encodeFileName(folder).constData());
    if (!dir)
        return files;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QString path = base + decodeFileName(name);
        if (regularFileSize(path) < 0)
            continue;
        files.append({path, name.startsWith('.')});
    }
    ::closedir(dir);
#else
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
        files.append({f.absoluteFilePath(), f.isHidden()});
#endif
    std::sort(files.begin(), files.end(), [](const FolderFile &a, const FolderFile &b) { return a.path < b.path; });
    return files;
}

} // namespace tessaly
