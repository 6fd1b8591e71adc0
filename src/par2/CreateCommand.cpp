#include "par2/CreateCommand.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace tessaly::par2 {

namespace {

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

bool wholeNumber(const QString &text, qint64 *value)
{
    if (text.isEmpty() || text.size() > 12)
        return false;
    for (const QChar c : text)
        if (!c.isDigit())
            return false;
    *value = text.toLongLong();
    return true;
}

QString withoutPar2(const QString &output)
{
    return output.endsWith(u".par2"_s, Qt::CaseInsensitive) ? output.left(output.size() - 5) : output;
}

int digits(int n)
{
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

} // namespace

std::optional<CreateCommand> parseCreate(const QStringList &arguments, QString *why)
{
    CreateCommand c;
    if (arguments.value(0) != u"create"_s) {
        fail(why, u"only \"create\" is understood"_s);
        return std::nullopt;
    }
    bool haveSize = false, haveRedundancy = false, optionsEnd = false;
    QStringList names;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (optionsEnd || !a.startsWith(u'-') || a.size() == 1) {
            names << a;
            continue;
        }
        if (a == u"--"_s) {
            optionsEnd = true;
        } else if (a.startsWith(u"-s"_s)) {
            qint64 v = 0;
            if (!wholeNumber(a.mid(2), &v) || v <= 0 || v % 4 != 0 || v > (qint64(1) << 31)) {
                fail(why, u"the block size must be a multiple of 4: "_s + a);
                return std::nullopt;
            }
            c.sliceSize = v;
            haveSize = true;
        } else if (a.startsWith(u"-r"_s)) {
            qint64 v = 0;
            if (!wholeNumber(a.mid(2), &v) || v < 1 || v > 100) {
                fail(why, u"the redundancy must be 1 to 100 percent: "_s + a);
                return std::nullopt;
            }
            c.redundancy = int(v);
            haveRedundancy = true;
        } else if (a == u"-u"_s) {
            c.uniform = true;
        } else if (a == u"-q"_s || a == u"-qq"_s) {
            // Quiet: the progress lines are written anyway, which is all there is.
        } else if (a.startsWith(u"-B"_s)) {
            c.base = a.size() > 2 ? a.mid(2) : arguments.value(++i);
            if (c.base.isEmpty()) {
                fail(why, u"-B needs a folder"_s);
                return std::nullopt;
            }
        } else {
            fail(why, u"unknown option "_s + a);
            return std::nullopt;
        }
    }
    if (!haveSize || !haveRedundancy) {
        fail(why, u"the block size (-s) and the redundancy (-r) are needed"_s);
        return std::nullopt;
    }
    if (names.size() < 2) {
        fail(why, u"the recovery file's name and at least one file are needed"_s);
        return std::nullopt;
    }
    c.output = names.takeFirst();
    if (!c.output.endsWith(u".par2"_s, Qt::CaseInsensitive))
        c.output += u".par2"_s;
    c.files = names;
    if (c.base.isEmpty())
        c.base = QFileInfo(c.output).absolutePath();
    c.base = QDir::cleanPath(QDir(c.base).absolutePath());
    return c;
}

int recoveryCount(int sourceSlices, int percent)
{
    const qint64 n = (qint64(sourceSlices) * percent + 50) / 100;
    return int(std::max<qint64>(n, percent > 0 ? 1 : 0));
}

std::vector<Volume> planVolumes(const QString &output, int recoverySlices, bool uniform)
{
    std::vector<int> counts;
    for (int left = recoverySlices, next = 1; left > 0; next *= 2) {
        counts.push_back(std::min(next, left));
        left -= counts.back();
    }
    if (uniform && !counts.empty()) {
        const int files = int(counts.size());
        for (int i = 0; i < files; ++i)
            counts[std::size_t(i)] = recoverySlices / files + (i < recoverySlices % files ? 1 : 0);
    }
    int largest = 0;
    for (int n : counts)
        largest = std::max(largest, n);
    const int exponentDigits = digits(recoverySlices);
    const int countDigits = digits(largest);
    const QString stem = withoutPar2(output);
    std::vector<Volume> out;
    int first = 0;
    for (int n : counts) {
        Volume v;
        v.firstExponent = first;
        v.count = n;
        v.path = stem + u".vol"_s + u"%1"_s.arg(first, exponentDigits, 10, QChar(u'0')) + u'+'
            + u"%1"_s.arg(n, countDigits, 10, QChar(u'0')) + u".par2"_s;
        out.push_back(v);
        first += n;
    }
    return out;
}

} // namespace tessaly::par2
