// Runs the first Rar & Par job of the job list: makes a fresh temporary
// folder below the job's save path, runs the archiver (rar, or zip for a ZIP
// archive; none for a job without an archive) and then the recovery tool
// there, shows their progress in the "RarPar" row of the connection list,
// and queues what they made (with the job's extra files and its NZB; without
// an archive, with the chosen files themselves). The finished job leaves the
// list. A stop, a tool that fails, or one that writes nothing for
// silenceBound() and is stopped, removes the temporary folder and keeps the
// job. The window and a headless run host it.
#pragma once

#include "platform/ConsoleRunner.h"
#include "rarpar/Tools.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

namespace tessaly {

class JobTree;

class JobHost
{
public:
    virtual ~JobHost() = default;
    // The "No Upload" box: keep the results without queueing them.
    virtual bool noUpload() const = 0;
    // Start reads "Stop", settings and job commands are off while a job runs.
    virtual void setJobControls(bool running) = 0;
    // Presses Start a moment later, for the queued results or the next job.
    virtual void enableStartTimer() = 0;
};

class JobRunner : public QObject
{
    Q_OBJECT
public:
    // CannotRecord: the results could not be written down in the program folder.
    enum class Outcome { Done, Stopped, Failed, NothingToDo, CannotRecord };
    enum class Packer { Rar, Zip, None };
    Q_ENUM(Outcome)

    JobRunner(JobHost &host, JobTree &tree, QObject *parent = nullptr);
    ~JobRunner() override;

    // Starts the first job; finished() follows, also when nothing could start.
    void start();
    // Ends the running tool; the job stays in the list.
    void cancel();
    bool isRunning() const { return running_; }

    // The temporary folder a run below base would use: "Tessaly_Temp0001" to
    // "Tessaly_Temp9999", the first that does not exist; empty when all do.
    static QString freeTempName(const QString &base);
    // Queues the files of folder and the extra files as one collection;
    // returns the number of items added (the NZB included).
    static int LoadData(const QString &folder, const QString &subject, const QString &newsgroups,
                        const QString &nzbName, const QStringList &extraFiles, bool obfuscate = false,
                        bool postNzb = true);

    // Removes the temporary folders of runs that did not finish (the program
    // was ended during them) below the save paths of the jobs, with a log line.
    static void removeStaleFolders(const JobTree &tree);

    // How long a tool may write nothing before it is taken for hung.
    static int silenceBound();
    static void setSilenceBound(int milliseconds); // for tests

    // What the current run is in, for tests.
    QString tempPath() const { return tempPath_; }

signals:
    void finished(tessaly::JobRunner::Outcome outcome);
    // The action text of the RarPar row changed.
    void progressed(const QString &text);

private:
    void received(const QString &chunk);
    void toolEnded(const ConsoleResult &result);
    bool prepareZip(const QString &archive, const QStringList &inputs, const QStringList &skipped);
    bool startTool(const QString &program, const QStringList &arguments, const QString &input = {});
    void startPar2();
    static QString par2ProgramFor(const QString &arguments);
    void abort(Outcome outcome);
    void end(Outcome outcome);
    void setAction(const QString &text);

    JobHost &host_;
    JobTree &tree_;
    ConsoleRunner runner_;
    RarProgress rarProgress_;
    Par2Progress par2Progress_;
    QString rarProgram_, par2Program_;
    QStringList rarArgs_, par2Args_;
    QString tempPath_, tempName_;
    QString jobKey_, jobName_, jobSubject_, jobGroups_, jobNzb_;
    QStringList extraFiles_, chosenFiles_;
    bool obfuscate_ = false; // the job's results go obfuscated
    bool postNzb_ = true;
    QString stagePath_, zipPartial_;
    QTimer silence_;
    Packer packer_ = Packer::Rar;
    int archiveCount_ = 1;
    int zipEntries_ = 0, zipAdded_ = 0;
    bool rarPhase_ = false;
    bool silent_ = false;
    bool running_ = false;
    bool started_ = false;
    bool cancelRequested_ = false;
};

} // namespace tessaly
