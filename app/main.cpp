#include <cstdio>
#include <cstring>
#include <string>

#include "engine/recovery.h"
#include "version.h"

namespace {

class StandardOutput final : public salvora::TextSink {
  public:
    void write(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char **argv) {
    std::string source, output;
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("/output:", 0) == 0)
            output = argument.substr(8);
        else if (argument == "/console")
            console = true;
        else if (source.empty())
            source = argument;
    }
    if (source.empty()) {
        std::printf("Salvora v%s\nusage: salvora SOURCE.dbf [/output:OUTPUT.dbf] [/console]\n",
                    salvora::programVersion);
        return 2;
    }
    if (output.empty())
        output = source;

    salvora::EngineContext context(salvora::platform::nativePlatform());
    StandardOutput standardOutput;
    if (console)
        context.consoleOut = &standardOutput;
    context.ownerlessMessage = [](const std::string &text, const std::string &caption) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    };
    int result = salvora::runRecovery(context, nullptr, source, output, false);
    std::printf("%s: %s\n", source.c_str(), result == 1 ? "OK" : "Unrecoverable");
    if (result != 1 && !context.messageText.empty())
        std::fprintf(stderr, "%s\n", context.messageText.c_str());
    return result == 1 ? 0 : 1;
}
