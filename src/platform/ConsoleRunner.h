// Runs one console program at a time with its standard output and standard
// error captured through one pipe, and hands the output to its owner in
// chunks of at most 256 bytes, in the order written, as it arrives. Nothing
// blocks the event loop: the run is reported by signals. The program runs at
// idle priority in a process group of its own, so that a stop ends it and
// everything it started.
#pragma once

#include <QObject>
#include <QProcess>
#include <QStringDecoder>
#include <QStringList>

namespace tessaly {

struct ConsoleResult
{
    bool started = false;  // false: the program could not be started
    bool stopped = false;  // ended by stop()
    bool crashed = false;  // ended by a signal it was not sent by stop()
    int exitCode = -1;     // the program's exit status when it exited itself
    QString lastLine;      // the last non-empty line it wrote
    // Ran to its end by itself and said it succeeded.
    bool succeeded() const { return started && !stopped && !crashed && exitCode == 0; }
};

class ConsoleRunner : public QObject
{
    Q_OBJECT
public:
    static constexpr int ChunkSize = 256;

    explicit ConsoleRunner(QObject *parent = nullptr);
    ~ConsoleRunner() override;

    // Starts program with arguments (no shell is involved), its standard
    // input read from inputFile (empty: nothing to read). Returns false,
    // after emitting failed("File or command not found"), when it cannot
    // start; then no output() and no finished() follow.
    bool start(const QString &program, const QStringList &arguments, const QString &workingFolder = {},
               const QString &inputFile = {});
    // Ends the running program and its children; finished() follows with
    // stopped set. Does nothing when idle.
    void stop();
    bool isRunning() const;

signals:
    // One chunk (at most ChunkSize bytes of output, decoded); the end of the
    // output is one last, empty chunk.
    void output(const QString &chunk);
    void failed(const QString &message);
    void finished(const tessaly::ConsoleResult &result);

private:
    void drain();
    void ended(int exitCode, QProcess::ExitStatus status);

    QProcess *process_ = nullptr;
    QStringDecoder decoder_;
    QByteArray lineTail_;
    QString lastLine_;
    bool stopRequested_ = false;
    qint64 pid_ = 0;
};

} // namespace tessaly
