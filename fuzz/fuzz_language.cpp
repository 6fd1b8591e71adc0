// Language files with arbitrary content.
#include "config/Language.h"
#include "common/MessageTable.h"
#include "platform/ProgramFolder.h"
#include "storage/AppSettings.h"
#define TESSALY_FUZZ_CUSTOM_INIT
#include "fuzz/FuzzSupport.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    tessaly::fuzz::setUp(argc, argv);
    QDir().mkpath(tessaly::inProgramFolder(u"Languages"_s));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tessaly::fuzz::writeInput(u"Languages/Fuzz.lng"_s, data, size, tessaly::FileLimit::Settings);
    (void)tessaly::SetLanguage(tessaly::languageFilePath(u"Fuzz"_s));
    (void)tessaly::messageTable().message(245);
    (void)tessaly::messageTable().addingFilesText(3);
    tessaly::messageTable().SetEnglishLang();
    tessaly::logModel().clear();
    return 0;
}
