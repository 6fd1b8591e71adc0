// Asks the server, over one connection, whether it holds every segment of a
// set of files (STAT per Message-ID), and says per file which are missing.
// Used for an NZB file from the command line and for chosen queue items.
#pragma once

#include "engine/LinkPorts.h"
#include "engine/NntpPipeline.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace tessaly {

struct NzbListing;

struct VerifyFile
{
    QString name;  // the subject, for the report
    QString group; // selected for servers that want a group before STAT
    QList<int> numbers;
    QStringList ids;
    int queueItem = 0; // the queue item it came from, 0 for an NZB file
    // Segment numbers whose Message-ID no server could be asked for (empty,
    // blanks or control characters in it, over 250 characters): not asked,
    // and counted as missing.
    QList<int> unusable;
    // Results: the segment numbers not found, and how many were asked.
    QList<int> missing;
    int asked = 0;
};

// Whether a Message-ID (without its brackets) can be asked for with STAT.
bool usableMessageId(const QString &id);
// The Message-IDs of the files that will be asked for.
int idsToAsk(const QList<VerifyFile> &files);

QList<VerifyFile> verifyFilesOf(const QList<NzbListing> &nzb);
QList<VerifyFile> verifyFilesOfItems(const QList<int> &items);

// "name: all 12 parts on the server" or "name: 10 of 12 parts on the
// server, missing: 3, 7" (with the unusable Message-IDs named after it).
QString verifyReport(const VerifyFile &file);

class SocketTransport;

class Verifier : public QObject, private TransportEvents
{
    Q_OBJECT
public:
    explicit Verifier(QList<VerifyFile> files, QObject *parent = nullptr);
    ~Verifier() override;

    // Connects to the server of the settings and asks for every segment.
    void start();
    const QList<VerifyFile> &files() const { return files_; }
    // Why the check could not be completed; empty when every segment was asked.
    QString error() const { return error_; }
    int missingTotal() const;

signals:
    void finished(bool complete);

private:
    // TransportEvents
    void connected() override {}
    void received(const QByteArray &bytes) override;
    void written(qint64) override {}
    void closedByPeer() override;
    void transportFailed(const QString &why, bool fatal) override;

    void onReply(const NntpPipeline::Reply &reply);
    void askNext();
    void fail(const QString &why);
    void send(const QByteArray &command);

    QList<VerifyFile> files_;
    std::unique_ptr<SocketTransport> transport_;
    QTimer watchdog_;
    NntpPipeline pipeline_;
    int file_ = 0;
    int segment_ = 0;
    bool groupAsked_ = false;
    bool done_ = false;
    QString error_;
};

} // namespace tessaly
