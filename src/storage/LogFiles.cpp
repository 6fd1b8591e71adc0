#include "storage/LogFiles.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

QByteArray rtfEscape(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\' || u == u'{' || u == u'}') {
            out += '\\';
            out += char(u);
        } else if (u == u'\t') {
            out += "\\tab ";
        } else if (u < 0x20) {
            out += ' ';
        } else if (u < 0x80) {
            out += char(u);
        } else if (u < 0x100) {
            out += "\\'" + QByteArray::number(int(u), 16).rightJustified(2, '0');
        } else {
            out += "\\u" + QByteArray::number(qint16(u)) + '?';
        }
    }
    return out;
}

} // namespace

QByteArray logToRtf(const QVector<LogLine> &lines)
{
    QVector<quint32> colours;
    for (const LogLine &l : lines)
        if (!colours.contains(l.colour))
            colours << l.colour;

    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Tahoma;}}\r\n{\\colortbl ;";
    for (quint32 c : colours)
        rtf += "\\red" + QByteArray::number(c & 0xFF) + "\\green" + QByteArray::number((c >> 8) & 0xFF) + "\\blue"
            + QByteArray::number((c >> 16) & 0xFF) + ';';
    rtf += "}\r\n\\viewkind4\\uc1\\pard\\f0\\fs17 ";
    for (const LogLine &l : lines) {
        rtf += "\\cf" + QByteArray::number(colours.indexOf(l.colour) + 1);
        rtf += l.bold ? "\\b " : "\\b0 ";
        rtf += rtfEscape(l.formatted());
        rtf += "\\par\r\n";
    }
    rtf += "}\r\n";
    return rtf;
}

QString logFileName(const QDateTime &when)
{
    return when.toString(u"dd-MM-yyyy_HH.mm.ss"_s) + u".rtf"_s;
}

QString logsFolder()
{
    return inProgramFolder(u"Logs"_s);
}

QString saveLogFile(const QDateTime &when)
{
    const QString folder = logsFolder();
    if (!QDir().mkpath(folder)) {
        LogError(ErrorCode::PathNotFound, u"cannot create the folder "_s + folder);
        return {};
    }
    if (logModel().count() == 0)
        return {};
    const QString path = folder + u'/' + logFileName(when);
    const QString error = writeFileAtomically(path, logToRtf(logModel().lines()));
    if (!error.isEmpty()) {
        LogError(ErrorCode::FileIo, error);
        return {};
    }
    return path;
}

void pruneLogFiles(const QString &folder, int keep)
{
    for (;;) {
        const int count = int(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size());
        if (count <= keep)
            return;
        const QString oldest = oldestFileIn(folder);
        if (oldest.isEmpty() || !QFile::remove(oldest))
            return;
    }
}

} // namespace tessaly
