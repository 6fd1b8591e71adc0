#include "application/ProcessState.h"

#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "platform/ProgramFolder.h"
#include "rarpar/FileLists.h"
#include "rarpar/JobTree.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QDateTime>

namespace tessaly {

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
    forgetQueueLoadProblem();
    messageTable().SetEnglishLang();
    appSettings() = defaultSettings();
    setTunnelStarter({});
    logModel().clear();
    logModel().setListener({});
    setRunTag(QString());
    setPostingInProgress(false);
    connectionList().rebuild(0);
    PickedFiles() = QStringList{QString()};
    jobTree().resetToPlaceholder();
}

} // namespace tessaly
