#include "app/strings.h"

#include "app/outcometext.h"
#include "engine/recovery.h"
#include "resources/resource.h"

namespace salvora {

std::string builtInString(int id) {
    // Built once: a batch asks for three of these for each table.
    static const RunTexts runTexts;
    switch (id) {
    case IDS_UNRECOVERABLE:
        return runTexts.unrecoverableFile;
    case IDS_RECOVERABLE_RECORDS:
        return runTexts.recoverableRecords;
    case IDS_ANALYSING:
        return runTexts.analysing;
    case IDS_TABLE_FOUND:
        return runTexts.tableFound;
    case IDS_UNKNOWN_TYPE:
        return runTexts.unknownType;
    case IDS_TABLE_OK:
        return OutcomeWords().ok;
    case IDS_TABLE_UNRECOVERABLE:
        return OutcomeWords().unrecoverable;
    case IDS_TOOLBAR_BUTTONS:
        return "Start!#Help#About#Support#Quit##";
    case IDS_TIP_START:
        return "Start recovery";
    case IDS_TIP_MAIL:
        return "E-Mail support";
    case IDS_TIP_HELP:
        return "Help";
    case IDS_TIP_ABOUT:
        return "About Salvora";
    case IDS_TIP_QUIT:
        return "Quit";
    case IDS_TIP_BROWSE_SOURCE:
        return "Select corrupted DBF file";
    case IDS_TIP_BROWSE_OUTPUT:
        return "Select output file";
    case IDS_TIP_SOURCE_FOLDER:
        return "Select folder for batch processing";
    case IDS_TIP_OUTPUT_FOLDER:
        return "Select output folder";
    case IDS_LANGUAGE_NAMES:
        return "English";
    case IDS_LANGUAGE_NAMES + 1:
        return "German";
    case IDS_LANGUAGE_NAMES + 2:
        return "Italian";
    case IDS_LANGUAGE_NAMES + 3:
        return "Spanish";
    case IDS_LANGUAGE_NAMES + 4:
        return "French";
    case IDS_CANCEL_RUN:
        return "Cancel";
    case IDS_RUN_CANCELLED:
        return "Cancelled: the table and the output were left as they were.\r\n";
    default:
        return builtInResultsString(id);
    }
}

} // namespace salvora
