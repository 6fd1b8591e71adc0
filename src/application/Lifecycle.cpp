#include "application/Lifecycle.h"

#include "application/JobRunner.h"

#include "application/CommandLine.h"
#include "application/ProcessState.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "config/Language.h"
#include "config/SslTunnel.h"
#include "common/Crc32.h"
#include "engine/yEnc.h"
#include "platform/ProgramFolder.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "storage/AppSettings.h"
#include "storage/LogFiles.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

using namespace Qt::StringLiterals;

namespace tessaly {

bool startUp(const std::function<void(const QString &)> &step)
{
    const auto stage = [&step](const QString &text) {
        if (step)
            step(text);
    };
    sharedCrc().Clear();
    uploadQueue().clear();

    stage(u"Loading yEnc and CRC32 Tables..."_s);
    (void)EncodeTable();

    AddLog(0, u".:: Tessaly Poster started ::."_s);
    AddLog(0, u"Settings, queue and logs are kept in %1"_s.arg(programFolder()));
    setRunTag(makeRunTag());

    stage(u"Loading application settings..."_s);
    AddLog(0, u"Loading application settings."_s);
    setTunnelStarter([] { startTunnel(); });
    setTunnelDiagnosis(tunnelRefusal);
    bool settingsRead = true;
    if (fileExists(settingsFile().path()))
        settingsRead = ReadINIFile();
    else
        writeDefaultSettings();

    if (fileExists(queueFilePath())) {
        AddLog(0, u"Loading file data."_s);
        stage(u"Loading file data..."_s);
        LoadStartXML();
    }

    stage(u"Setting language..."_s);
    const QString languageFile = languageFilePath(appSettings().Language);
    if (!fileExists(languageFile)) {
        appSettings().Language = u"English"_s;
        writeSettingKeys({u"Language"_s});
        SetEnglishLanguage();
    } else if (!SetLanguage(languageFile)) {
        SetEnglishLanguage();
    }
    jobTree().resetToPlaceholder(); // in the chosen language
    LoadRarPar();
    JobRunner::removeStaleFolders(jobTree());
    return settingsRead;
}

bool saveFiles()
{
    AddLog(0, u"Saving file data."_s);
    const bool queueSaved = SaveQueue();
    const bool jobsSaved = SaveRarPar();

    AddLog(0, u"Saving application settings."_s);
    const QString error = writeSettingKeys({u"WindowState"_s, u"WindowGeometry"_s, u"MaxSpeed"_s, u"LastPath"_s, u"SplitterPos1"_s,
                                            u"SplitterPos2"_s, u"Column1"_s, u"Column2"_s, u"Column3"_s, u"Column4"_s,
                                            u"Column5"_s, u"Column6"_s, u"Column7"_s, u"Column8"_s, u"Column9"_s,
                                            u"NoUpload"_s, u"RemoveFromDisk"_s});
    if (!error.isEmpty())
        LogError(ErrorCode::FileIo, error);
    return queueSaved && jobsSaved;
}

bool shutDown()
{
    const bool saved = saveFiles();
    AddLog(0, u".:: Tessaly Poster closed ::."_s);
    saveLogFile(Clock::instance().now());
    pruneLogFiles(logsFolder(), 25);
    stopTunnel();
    return saved;
}

int missingSettingSlot()
{
    const AppSettings &s = appSettings();
    if (s.Server.trimmed().isEmpty())
        return 90;
    if (s.Nickname.trimmed().isEmpty())
        return 91;
    if (s.Email.trimmed().isEmpty())
        return 92;
    return 0;
}

int queueExitStatus(ItemScope scope)
{
    return itemsNotPosted(scope).isEmpty() ? ExitAllPosted : ExitSomeFailed;
}

QStringList itemsNotPosted(ItemScope scope)
{
    QStringList out;
    const UploadQueue &q = uploadQueue();
    for (int i = 1; i <= q.count(); ++i) {
        const UploadItem &it = q.item(i);
        if (scope == ItemScope::ThisRun && it.run == UploadItem::Run::None)
            continue;
        if (it.state != UploadState::PostedOK)
            out << it.subject + u": "_s + UploadQueue::statusText(it);
    }
    return out;
}

CommandLineStart beginCommandLine(const QStringList &arguments)
{
    CommandLineStart start;
    BatchRequest request;
    if (!CheckCMDData(parseCommandLine(arguments), &request))
        return start;
    if (request.resumeOnly) {
        if (const QString problem = queueLoadProblem(); !problem.isEmpty()) {
            // An unreadable queue is not an empty one.
            start.problem = u"Nothing was posted: the queue could not be read. "_s + problem;
            start.exitStatus = ExitNeedsAPerson;
            return start;
        }
        if (!uploadQueue().hasState(UploadState::Queued) && !jobTree().hasJobs()) {
            AddLog(0, u"Nothing left to post."_s);
            // Resuming: what the queue still holds unposted is what it was to post.
            start.exitStatus = queueExitStatus(ItemScope::WholeQueue);
            return start;
        }
    } else if (CMDLoadData(request) <= 0) {
        return start;
    } else {
        SaveQueue();
    }
    start.queued = true;
    start.post = request.post;
    start.action = request.action;
    return start;
}

} // namespace tessaly
