// Makes a recovery set: the index file NAME.par2 (the set's description:
// main, file description, slice checksum and creator packets) and the
// recovery files NAME.volX+Y.par2 (recovery slices and a copy of the
// description each).
//
// The files are read once, in batches of slices taken from several files in
// turn: each file's MD5 runs over its slices as they come (the files side by
// side in vector lanes), each slice's MD5 and CRC-32 likewise, and every
// slice of the batch is multiplied into every recovery slice, the work split
// over the cores while the next batch is read. Memory stays within a bound:
// when the recovery slices do not fit, they are made in groups, the files
// read again for each.
#pragma once

#include "par2/CreateCommand.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace tessaly::par2 {

struct CreatorLimits
{
    std::size_t memoryBytes = std::size_t(200) << 20; // buffers, all told
    int threads = 0;                                  // 0: one per core
};

struct CreatorReport
{
    int files = 0;
    int sourceSlices = 0;
    int recoverySlices = 0;
    int recoveryFiles = 0;
    int passes = 0;
    QStringList written; // the index file first
    QStringList skipped; // empty files (nothing to recover)
};

class Creator
{
public:
    explicit Creator(CreateCommand command, CreatorLimits limits = {});
    ~Creator();

    // The numbers, known before the work starts; false (see error()) when
    // the set cannot be made.
    bool plan();
    // Makes the files; progress gets the fraction done (0..1) now and then.
    // False on failure: error() says why, and nothing is left behind.
    bool run(const std::function<void(double)> &progress = {});
    void cancel() { cancelled_ = true; }

    const CreatorReport &report() const { return report_; }
    const QString &error() const { return error_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    CreateCommand command_;
    CreatorLimits limits_;
    CreatorReport report_;
    QString error_;
    std::atomic<bool> cancelled_ = false;
};

} // namespace tessaly::par2
