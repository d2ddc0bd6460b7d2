#include "app/strings.h"

#include "engine/enginecontext.h"

namespace salvora {

std::string builtInString(int id) {
    switch (id) {
    case stringUnrecoverableFile:
    case stringRecoverableRecords:
        return defaultEngineString(id);
    case stringToolbarButtons:
        return "Start!#Help#About#Support#Quit##";
    case 170:
        return "Start recovery";
    case 190:
        return "E-Mail support";
    case 200:
        return "Help";
    case 210:
        return "About Salvora";
    case 220:
        return "Quit";
    case 230:
        return "Select corrupted DBF file";
    case 240:
        return "Select output file";
    case 250:
        return "Select folder for batch processing";
    case 260:
        return "Select output folder";
    case stringLanguageNames:
        return "English";
    case stringLanguageNames + 1:
        return "German";
    case stringLanguageNames + 2:
        return "Italian";
    case stringLanguageNames + 3:
        return "Spanish";
    case stringLanguageNames + 4:
        return "French";
    default:
        return {};
    }
}

} // namespace salvora
