#include "platform/appsystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace salvora::platform {

namespace {

struct LocaleId {
    const char *locale; // language, or language and territory
    std::uint16_t id;
};

// Windows language ids for the locales the language choice cares about, and a default per
// language; everything else counts as US English.
constexpr LocaleId localeIds[] = {
    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"de_LU", 0x1007}, {"de_LI", 0x1407},
    {"it_IT", 0x0410}, {"it_CH", 0x0810}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C},
    {"fr_CH", 0x100C}, {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es_AR", 0x2C0A}, {"en_GB", 0x0809},
    {"de", 0x0407},    {"it", 0x0410},    {"fr", 0x040C},    {"es", 0x0C0A},
};

std::uint16_t languageIdOfLocale(const std::string &locale) {
    // "de_AT.UTF-8@euro" -> "de_AT"
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    for (const auto &entry : localeIds)
        if (name == entry.locale)
            return entry.id;
    std::string language = name.substr(0, name.find('_'));
    for (const auto &entry : localeIds)
        if (language == entry.locale)
            return entry.id;
    return 0x0409;
}

class PosixAppSystem final : public AppSystem {
  public:
    std::optional<std::string> rawArgumentText() override { return std::nullopt; }

    bool isTerminal(StandardStream stream) override {
        return ::isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
    }

    // The program writes CR LF everywhere; a terminal here wants LF alone.
    void writeStandard(StandardStream stream, std::string_view text) override {
        std::FILE *file = stream == StandardStream::Output ? stdout : stderr;
        std::string converted;
        converted.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
                converted += text[i];
        std::fwrite(converted.data(), 1, converted.size(), file);
        std::fflush(file);
    }

    // Standard output already is the user's console.
    ConsoleAttach attachParentConsole() override { return ConsoleAttach::Attached; }
    void createConsole() override {}
    void initCommonControls() override {}

    bool shellOpen(const std::string &) override { return false; }
    bool startProgram(const std::string &) override { return false; }

    void messageBox(const std::string &text, const std::string &caption) override {
        std::string line = caption + ": " + text + "\n";
        writeStandard(StandardStream::Error, line);
    }

    std::optional<std::string> environmentVariable(const std::string &name) override {
        const char *value = std::getenv(name.c_str());
        if (value == nullptr)
            return std::nullopt;
        return std::string(value);
    }

    std::uint16_t userDefaultLanguageId() override {
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char *value = std::getenv(name);
            if (value != nullptr && *value != '\0')
                return languageIdOfLocale(value);
        }
        return 0x0409;
    }

    ErrorCode createFolders(const std::string &path) override {
        if (path.empty())
            return 0;
        for (std::size_t i = 1; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != '/')
                continue;
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                return errno;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return errno;
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    }

    ModuleHandle ownModule() override { return 1; }
    // Resource libraries are a Windows affair; the built-in English strings serve here.
    ModuleHandle loadLibrary(const std::string &) override { return 0; }
    std::optional<std::string> loadString(ModuleHandle, int) override { return std::nullopt; }
};

} // namespace

AppSystem &nativeAppSystem() {
    static PosixAppSystem system;
    return system;
}

} // namespace salvora::platform
