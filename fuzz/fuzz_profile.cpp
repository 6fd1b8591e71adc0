// The INI reader and the settings conversions and repairs on arbitrary files.
#include "fuzz/FuzzSupport.h"
#include "storage/AppSettings.h"
#include "storage/ProfileFile.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tessaly::fuzz::writeInput(u"Settings.ini"_s, data, size, tessaly::FileLimit::Settings);
    const tessaly::ProfileFile f = tessaly::settingsFile();
    (void)f.read(u"Settings"_s, u"Server"_s);
    (void)f.read(u"settings"_s, u"port"_s);
    tessaly::ReadINIFile(); // may fail and rewrite the file: both are fine
    tessaly::logModel().clear();
    return 0;
}
