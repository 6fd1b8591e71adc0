// The "create" command line of the recovery tool, as the Rar & Par jobs
// write it, and how a set's recovery slices are shared out among its files.
//
//   create -s<bytes> -r<percent> [-u] [-B <folder>] NAME.par2 FILE...
//
// Names are stored relative to the folder (-B, else NAME.par2's own); a
// file outside it is refused.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tessaly::par2 {

struct CreateCommand
{
    qint64 sliceSize = 0;  // a multiple of 4
    int redundancy = 0;    // percent, 1..100
    bool uniform = false;  // recovery files of equal size
    QString base;          // the folder names are relative to
    QString output;        // NAME.par2
    QStringList files;
};

// The command, or none (with why) when the line is not one this creator
// makes: the outside tool gets it then.
std::optional<CreateCommand> parseCreate(const QStringList &arguments, QString *why = nullptr);

// Recovery slices for this many source slices: the percentage, rounded,
// and at least one.
int recoveryCount(int sourceSlices, int percent);

struct Volume
{
    int firstExponent = 0;
    int count = 0;
    QString path; // NAME.vol<first>+<count>.par2
};

// The recovery files: 1, 2, 4, ... slices (the last one the rest), or with
// `uniform` as many files of (nearly) equal counts; numbered with as many
// digits as the largest number needs.
std::vector<Volume> planVolumes(const QString &output, int recoverySlices, bool uniform);

} // namespace tessaly::par2
