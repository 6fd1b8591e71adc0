#include "storage/ProfileFile.h"

#include "common/GeneralFunc.h"
#include "platform/SafeFiles.h"

#include <QFile>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

QStringList readLines(const QString &path)
{
    const SmallFile f = readSmallFile(path, FileLimit::Settings);
    if (f.outcome != SmallFile::Ok)
        return {};
    QString all = QString::fromUtf8(f.data);
    all.remove(u'\r');
    QStringList lines = all.split(u'\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

// "[name]" with optional blanks; returns the name or a null string.
QString sectionName(const QString &line)
{
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close > 0)
            return t.mid(1, close - 1).trimmed();
    }
    return {};
}

bool isComment(const QString &line)
{
    const QString t = line.trimmed();
    return t.startsWith(u';') || t.startsWith(u'#');
}

// Key of a "key=value" line, or a null string.
QString keyOf(const QString &line)
{
    if (isComment(line))
        return {};
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return {};
    return line.left(eq).trimmed();
}

struct Found
{
    qsizetype sectionLine = -1; // line of "[section]"
    qsizetype endLine = -1;     // first line after the section's last non-blank line
    qsizetype keyLine = -1;
};

Found find(const QStringList &lines, const QString &section, const QString &key)
{
    Found f;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = sectionName(lines[i]);
        if (!name.isNull()) {
            if (inSection)
                break;
            if (f.sectionLine < 0 && name.compare(section, Qt::CaseInsensitive) == 0) {
                inSection = true;
                f.sectionLine = i;
                f.endLine = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!lines[i].trimmed().isEmpty())
            f.endLine = i + 1;
        if (f.keyLine < 0 && !key.isEmpty() && keyOf(lines[i]).compare(key, Qt::CaseInsensitive) == 0)
            f.keyLine = i;
    }
    return f;
}

QString cleanValue(QString v)
{
    v = v.trimmed();
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

void setKey(QStringList &lines, const QString &section, const QString &key, const QString &value)
{
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString entry = key + u'=' + clean;
    const Found f = find(lines, section, key);
    if (f.keyLine >= 0) {
        lines[f.keyLine] = entry;
    } else if (f.sectionLine >= 0) {
        lines.insert(f.endLine, entry);
    } else {
        if (!lines.isEmpty() && !lines.constLast().trimmed().isEmpty())
            lines.append(QString());
        lines.append(u'[' + section + u']');
        lines.append(entry);
    }
}

} // namespace

QString ProfileFile::damage() const
{
    const SmallFile f = readSmallFile(path_, FileLimit::Settings);
    return f.outcome == SmallFile::Damaged ? f.problem : QString();
}

QString ProfileFile::read(const QString &section, const QString &key) const
{
    const QStringList lines = readLines(path_);
    const Found f = find(lines, section, key);
    if (f.keyLine < 0)
        return {};
    const QString &line = lines[f.keyLine];
    return cleanValue(line.mid(line.indexOf(u'=') + 1)).left(MaxValueLength);
}

QHash<QString, QString> ProfileFile::section(const QString &section) const
{
    QHash<QString, QString> values;
    const QStringList lines = readLines(path_);
    bool inSection = false;
    bool seen = false;
    for (const QString &line : lines) {
        const QString name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break;
            inSection = !seen && name.compare(section, Qt::CaseInsensitive) == 0;
            seen = seen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const QString key = keyOf(line).toLower();
        if (!key.isNull() && !values.contains(key))
            values.insert(key, cleanValue(line.mid(line.indexOf(u'=') + 1)).left(MaxValueLength));
    }
    return values;
}

bool ProfileFile::hasKey(const QString &section, const QString &key) const
{
    return find(readLines(path_), section, key).keyLine >= 0;
}

QString ProfileFile::write(const QString &section, const QString &key, const QString &value) const
{
    return write(section, {{key, value}});
}

QString ProfileFile::write(const QString &section, const QList<QPair<QString, QString>> &keys) const
{
    QStringList lines = readLines(path_);
    for (const auto &[key, value] : keys)
        setKey(lines, section, key, value);
    return writeFileAtomically(path_, (lines.join(u'\n') + u'\n').toUtf8(), private_);
}

} // namespace tessaly
