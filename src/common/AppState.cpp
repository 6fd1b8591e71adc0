#include "common/AppState.h"

#include "common/MessageTable.h"

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {
QString g_runTag;
bool g_posting = false;
} // namespace

bool postingInProgress()
{
    return g_posting;
}

void setPostingInProgress(bool posting)
{
    g_posting = posting;
}

QString versionNumber()
{
    // Every article carries it: made once.
    static const QString number =
        u"%1.%2.%3"_s.arg(TESSALY_VERSION_MAJOR).arg(TESSALY_VERSION_MINOR).arg(TESSALY_VERSION_PATCH);
    return number;
}

QString versionString()
{
    static const QString text = u"Tessaly Poster v"_s + versionNumber();
    return text;
}

QString standardTrayTooltip()
{
    return u"Tessaly Poster\u2122 "_s + versionNumber() + u"\r\n"_s + msg(265);
}

const QString &runTag()
{
    return g_runTag;
}

void setRunTag(const QString &tag)
{
    g_runTag = tag;
}

} // namespace tessaly
