// The fault-injection soak, longer than the test: several seeds, more files.
//
//   bench_soak [seeds] [files] [connections] [first seed]
//       defaults: 8 seeds of 200 files (1 byte to 9 parts each) over 8
//       connections, seeds 1..8
//
// One line per seed (parts, faults injected, duplicates, lost, corrupt, wall
// time) and a total. Exits 1 when any part was lost or corrupted, an item did
// not end PostedOK, or a run did not end by itself.
#include "application/ProcessState.h"
#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "support/SoakRun.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

int argOr(const QStringList &args, int index, int fallback)
{
    bool ok = false;
    const int v = args.value(index).toInt(&ok);
    return ok && v > 0 ? v : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(u"-h"_s) || args.contains(u"--help"_s)) {
        std::printf("usage: bench_soak [seeds] [files] [connections] [first seed]\n");
        return 0;
    }
    const int seeds = argOr(args, 1, 8);
    const int files = argOr(args, 2, 200);
    const int connections = argOr(args, 3, 8);
    const int firstSeed = argOr(args, 4, 1);

    test::SoakReport total;
    total.endedByItself = true;
    bool clean = true;
    for (int k = 0; k < seeds; ++k) {
        QTemporaryDir home;
        if (!home.isValid()) {
            std::fprintf(stderr, "cannot make a temporary folder\n");
            return 2;
        }
        qputenv("TESSALY_HOME", home.path().toUtf8());
        resetProcessState();
        setSyncWrites(false);

        test::SoakOptions o;
        o.seed = quint32(firstSeed + k);
        o.files = files;
        o.connections = connections;
        o.deadlineMs = 600000;
        o.folder = home.path();
        const test::SoakReport r = test::runSoak(o);
        std::printf("seed %u: %s\n", o.seed, qPrintable(r.summary()));
        if (!r.firstProblem.isEmpty())
            std::printf("    %s\n", qPrintable(r.firstProblem));
        std::fflush(stdout);
        clean = clean && r.clean();
        total.files += r.files;
        total.parts += r.parts;
        total.faults += r.faults;
        total.connections += r.connections;
        total.duplicates += r.duplicates;
        total.lost += r.lost;
        total.corrupt += r.corrupt;
        total.notPostedOK += r.notPostedOK;
        total.endedByItself = total.endedByItself && r.endedByItself;
        total.seconds += r.seconds;
        total.fileBytes += r.fileBytes;
    }
    std::printf("total over %d seeds: %s; %.1f MB of files\n", seeds, qPrintable(total.summary()),
                double(total.fileBytes) / 1e6);
    std::printf("%s\n", clean ? "lost 0: every part of every file accepted with the right bytes" : "FAILED");
    return clean ? 0 : 1;
}
