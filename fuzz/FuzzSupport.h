// Shared set-up of the fuzz targets: a Qt core application, a private program
// folder, and a helper that writes the input to a file there.
#pragma once

#include "application/ProcessState.h"
#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/SafeFiles.h"
#include "storage/AppSettings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace tessaly::fuzz {

inline QString home()
{
    static QTemporaryDir dir;
    return dir.path();
}

inline void setUp(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qputenv("TESSALY_HOME", home().toUtf8());
    resetProcessState();
    setSyncWrites(false); // nothing here needs to reach the disk
    setTunnelStarter({});
}

// Writes the input as the named file. An input that starts with 0xFF 0xFE is
// repeated until the file is larger than limit, so that the readers' size
// limits are taken too (libFuzzer's inputs are far smaller).
inline void writeInput(const QString &name, const std::uint8_t *data, std::size_t size, qint64 limit = 0)
{
    QFile f(home() + u'/' + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    f.write(input);
    if (limit > 0 && input.startsWith("\xff\xfe"))
        for (qint64 written = input.size(); written <= limit; written += input.size())
            f.write(input);
}

} // namespace tessaly::fuzz

// Each fuzz target is one source file that includes this header once; the
// set-up is the same for all of them.
#ifndef TESSALY_FUZZ_CUSTOM_INIT
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    tessaly::fuzz::setUp(argc, argv);
    return 0;
}
#endif
