// The command-line parser and its checks: the input is split into arguments at NUL bytes.
#include "application/CommandLine.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QStringList args;
    for (const QByteArray &a : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0'))
        args << QString::fromUtf8(a);
    const tessaly::CommandLine line = tessaly::parseCommandLine(args);
    tessaly::BatchRequest request;
    (void)tessaly::CheckCMDData(line, &request); // does not queue anything
    tessaly::logModel().clear();
    return 0;
}
