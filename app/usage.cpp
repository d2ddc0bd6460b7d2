#include "app/usage.h"

#include <algorithm>

#include "app/commandline.h"
#include "engine/textformat.h"
#include "version.h"

namespace salvora {

std::string usageText() {
    std::string text =
        formatText("Salvora v%s: repairs damaged dBASE and FoxPro tables.\r\n\r\n", programVersion);
    text += "usage: salvora TABLE.dbf [/output:FILE] [switches]\r\n"
            "       salvora FOLDER/*.dbf [/recurse] [/logappend] [switches]\r\n"
            "       salvora TABLE.dbf /check [/report:FILE] [switches]\r\n"
            "       salvora /historyto:FILE | /clearhistory | --help | --version\r\n\r\n"
            "Without /output: the table is repaired in place. Each switch may also be written\r\n"
            "as --name (--pack, --output=FILE); switch letters may be in any case except\r\n"
            "/gui and /uninstall.\r\n\r\n";
    for (const auto &entry : switchTable()) {
        std::string name = entry.text;
        if (entry.takesName)
            name += entry.value;
        name.resize(std::max<std::size_t>(name.size(), 20), ' ');
        text += "  " + name + " " + entry.usage + "\r\n";
    }
    text += "  --help, -h, /?       show this text\r\n"
            "  --version            show the version\r\n\r\n"
            "Exit codes: 0 every table came out OK, 1 some did not, 2 nothing to do.\r\n"
            "With /check: 0 no repair needed, 1 the table needs one, 2 it cannot be read.\r\n";
    return text;
}

} // namespace salvora
