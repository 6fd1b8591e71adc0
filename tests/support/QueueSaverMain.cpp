// Saves a queue of 200 items to Queue.dat over and over until it is killed.
// The kill-during-save test runs it in the program folder named by TESSALY_HOME.
#include "common/AppState.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i <= 200; ++i) {
        QStringList ids;
        for (int k = 1; k <= 50; ++k)
            ids << u"Part%1of50.0123456789ABCDEF0123456789ABCDEF@1765000000.local"_s.arg(k);
        uploadQueue().append(UploadQueue::newItem(u"item %1 & <more>"_s.arg(i), u"alt.binaries.test"_s,
                                                  u"/data/file%1.bin"_s.arg(i), 50, u"tag00001"_s, ids));
    }
    std::printf("saving\n");
    std::fflush(stdout);
    for (;;)
        SaveQueue();
}
