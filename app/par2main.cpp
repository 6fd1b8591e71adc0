// tessaly-par2: makes PAR2 recovery files, for the program's Rar & Par jobs
// (and anyone else): the create command lines of the common recovery tool.
#include "par2/Creator.h"
#include "par2/Md5.h"
#include "par2/RsKernels.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly::par2;

namespace {

void usage(std::FILE *to)
{
    std::fputs("Usage: tessaly-par2 create -s<block bytes> -r<percent> [-u] [-B <folder>] NAME.par2 FILE...\n"
               "\n"
               "Makes NAME.par2 and the recovery files NAME.volX+Y.par2 for the files: blocks of the\n"
               "given size (a multiple of 4), recovery blocks for the given percentage of them, in\n"
               "files of 1, 2, 4, ... blocks (-u: of equal size). Names are stored relative to the\n"
               "folder (-B, else the folder of NAME.par2).\n",
               to);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (args.isEmpty() || args.first() == u"--help"_s || args.first() == u"-h"_s) {
        usage(args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 1 : 0;
    }
    if (args.first() == u"--version"_s) {
        std::printf("tessaly-par2 %d.%d.%d\n", TESSALY_VERSION_MAJOR, TESSALY_VERSION_MINOR, TESSALY_VERSION_PATCH);
        return 0;
    }
    QString why;
    const std::optional<CreateCommand> command = parseCreate(args, &why);
    if (!command) {
        std::fprintf(stderr, "tessaly-par2: %s\n\n", qPrintable(why));
        usage(stderr);
        return 1;
    }
    Creator creator(*command);
    if (!creator.plan()) {
        std::fprintf(stderr, "tessaly-par2: %s\n", qPrintable(creator.error()));
        return 2;
    }
    const CreatorReport &r = creator.report();
    for (const QString &skipped : r.skipped)
        std::printf("Skipping 0 byte file: %s\n", qPrintable(skipped));
    std::printf("Block size: %lld\nSource file count: %d\nSource block count: %d\nRecovery block count: %d\n"
                "Recovery file count: %d\nKernels: %s, MD5 %s\n",
                command->sliceSize, r.files, r.sourceSlices, r.recoverySlices, r.recoveryFiles,
                qPrintable(rs::kernelName(rs::activeKernel())), qPrintable(md5::kernelName(md5::activeKernel())));
    std::fflush(stdout);
    int shown = -1;
    const bool ok = creator.run([&shown](double done) {
        const int tenths = int(std::floor(done * 1000));
        if (tenths == shown)
            return;
        shown = tenths;
        std::printf("Processing: %.1f%%\r", tenths / 10.0);
        std::fflush(stdout);
    });
    if (!ok) {
        std::fprintf(stderr, "\ntessaly-par2: %s\n", qPrintable(creator.error()));
        return 2;
    }
    std::printf("\nDone\n");
    return 0;
}
