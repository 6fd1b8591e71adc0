// A posting run against a server that misbehaves at random (seeded, so a run
// can be repeated): dropped connections mid-article, refusals, unfriendly or
// silent greetings, silence past the reply timeout, replies split across
// reads. Afterwards every accepted article is decoded and compared with its
// file. Shared by the soak test and the longer soak benchmark.
#pragma once

#include <QString>

namespace tessaly::test {

struct SoakOptions
{
    quint32 seed = 20261206;
    int files = 40;      // the first is one byte long, the others 1 byte to maxParts parts
    int maxParts = 9;
    int connections = 8;
    int maxLines = 1000; // 128,000-byte parts
    int replyMs = 400;   // the engine's reply timeout during the run
    int restartMs = 100;
    int deadlineMs = 120000;
    QString folder;      // where the files are written
    bool inProcess = false; // the server without a socket
};

struct SoakReport
{
    int files = 0;
    int parts = 0;
    int faults = 0;        // faults the server injected
    int connections = 0;   // sessions the server saw
    int duplicates = 0;    // parts accepted more than once
    int lost = 0;          // parts never accepted
    int corrupt = 0;       // accepted articles that do not decode to their file's bytes
    int notPostedOK = 0;   // items that did not end PostedOK
    bool endedByItself = false;
    double seconds = 0;
    qint64 fileBytes = 0;
    QString firstProblem;

    bool clean() const { return endedByItself && lost == 0 && corrupt == 0 && notPostedOK == 0; }
    QString summary() const;
};

// Runs one soak on the current program state (settings, queue): the caller
// provides a fresh one. The engine's timeouts are restored afterwards.
SoakReport runSoak(const SoakOptions &options);

} // namespace tessaly::test
