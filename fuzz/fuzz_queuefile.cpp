// Queue.dat: loading arbitrary documents, and saving what was loaded.
#include "fuzz/FuzzSupport.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tessaly::fuzz::writeInput(u"Queue.dat"_s, data, size);
    tessaly::uploadQueue().clear();
    if (tessaly::LoadStartXML() > 0) {
        // What loads must save and load back the same.
        const int count = tessaly::uploadQueue().count();
        tessaly::SaveQueue();
        tessaly::uploadQueue().clear();
        if (tessaly::LoadStartXML() != count)
            __builtin_trap();
    }
    tessaly::logModel().clear();
    return 0;
}
