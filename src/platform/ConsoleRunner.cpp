#include "platform/ConsoleRunner.h"

#include "platform/StopSignals.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

ConsoleRunner::ConsoleRunner(QObject *parent)
    : QObject(parent)
{
}

ConsoleRunner::~ConsoleRunner()
{
    if (process_) {
        process_->disconnect(this);
        if (process_->state() != QProcess::NotRunning) {
            stop();
            process_->waitForFinished(2000);
        }
    }
}

bool ConsoleRunner::isRunning() const
{
    return process_ && process_->state() != QProcess::NotRunning;
}

bool ConsoleRunner::start(const QString &program, const QStringList &arguments, const QString &workingFolder,
                          const QString &inputFile)
{
    if (isRunning())
        return false;
    if (process_) {
        process_->disconnect(this);
        process_->deleteLater();
    }
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    // Nothing to read: a tool that asks a question (rar on a full disk:
    // "[R]etry, [A]bort") reads the end of its input, instead of waiting for ever.
    process_->setStandardInputFile(inputFile.isEmpty() ? QProcess::nullDevice() : inputFile);
    if (!workingFolder.isEmpty())
        process_->setWorkingDirectory(workingFolder);
#ifdef Q_OS_UNIX
    // Its own process group (a stop reaches its children too), idle priority.
    process_->setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::setpriority(PRIO_PROCESS, 0, 19);
    });
#endif
    decoder_ = QStringDecoder(QStringDecoder::System);
    lineTail_.clear();
    lastLine_.clear();
    stopRequested_ = false;
    pid_ = 0;
    connect(process_, &QProcess::readyReadStandardOutput, this, &ConsoleRunner::drain);
    connect(process_, &QProcess::finished, this, &ConsoleRunner::ended);
    process_->start(program, arguments, QIODevice::ReadOnly);
    if (!process_->waitForStarted(10000)) {
        process_->disconnect(this);
        process_->deleteLater();
        process_ = nullptr;
        emit failed(u"File or command not found"_s);
        return false;
    }
    pid_ = process_->processId();
    StopSignals::setToolGroup(pid_);
    return true;
}

void ConsoleRunner::stop()
{
    if (!isRunning())
        return;
    stopRequested_ = true;
#ifdef Q_OS_UNIX
    if (pid_ > 0) {
        ::kill(-pid_t(pid_), SIGKILL);
        ::kill(pid_t(pid_), SIGKILL);
    }
#else
    process_->kill();
#endif
}

void ConsoleRunner::drain()
{
    while (process_ && process_->bytesAvailable() > 0) {
        if (stopRequested_) { // nothing more is wanted after a stop
            process_->readAll();
            return;
        }
        const QByteArray bytes = process_->read(ChunkSize);
        if (bytes.isEmpty())
            break;
        const QString text = decoder_.decode(bytes);
        // The last line written, for the log when the program fails.
        lineTail_ += bytes;
        qsizetype cut = qMax(lineTail_.lastIndexOf('\n'), lineTail_.lastIndexOf('\r'));
        if (cut >= 0) {
            const QList<QByteArray> lines = lineTail_.left(cut).split('\n');
            for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
                const QList<QByteArray> pieces = it->split('\r');
                const QString line = QString::fromLocal8Bit(pieces.last()).trimmed();
                if (!line.isEmpty()) {
                    lastLine_ = line;
                    break;
                }
            }
            lineTail_.remove(0, cut + 1);
        }
        if (lineTail_.size() > 4096)
            lineTail_ = lineTail_.right(4096);
        if (!text.isEmpty())
            emit output(text);
    }
}

void ConsoleRunner::ended(int exitCode, QProcess::ExitStatus status)
{
    StopSignals::setToolGroup(0);
    drain();
    const QString tail = QString::fromLocal8Bit(lineTail_).trimmed();
    if (!tail.isEmpty())
        lastLine_ = tail.split(u'\r').last().trimmed();
    ConsoleResult result;
    result.started = true;
    result.stopped = stopRequested_;
    result.crashed = !stopRequested_ && status == QProcess::CrashExit;
    result.exitCode = status == QProcess::NormalExit ? exitCode : -1;
    result.lastLine = lastLine_;
    emit output(QString());
    emit finished(result);
}

} // namespace tessaly
