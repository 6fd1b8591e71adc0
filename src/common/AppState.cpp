#include "common/AppState.h"

#include "common/Clock.h"
#include "common/Log.h"
#include "config/MessageTable.h"
#include "platform/ProgramFolder.h"
#include "rarpar/FileLists.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/UploadQueue.h"

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
    return u"%1.%2.%3"_s.arg(TESSALY_VERSION_MAJOR).arg(TESSALY_VERSION_MINOR).arg(TESSALY_VERSION_PATCH);
}

QString versionString()
{
    return u"Tessaly Poster v"_s + versionNumber();
}

const QString &runTag()
{
    return g_runTag;
}

void setRunTag(const QString &tag)
{
    g_runTag = tag;
}

QString makeRunTag()
{
    const QDateTime local = Clock::instance().now();
    // The local wall-clock time counted as if it were UTC.
    const QDateTime asUtc(local.date(), local.time(), Qt::UTC);
    const QString seconds = QString::number(asUtc.toSecsSinceEpoch());
    if (seconds.size() < 6)
        return UploadQueue::MakeCollectionTag().toUpper();
    return seconds;
}

void resetProcessState()
{
    Clock::setInstance(nullptr);
    resetProgramFolder();
    uploadQueue().clear();
    messageTable().SetEnglishLang();
    appSettings() = defaultSettings();
    setTunnelStarter({});
    logModel().clear();
    logModel().setListener({});
    g_runTag.clear();
    g_posting = false;
    connectionList().rebuild(0);
    PickedFiles() = QStringList{QString()};
}

} // namespace tessaly
