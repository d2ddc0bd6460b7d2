// A stand-in for the system services of the front end: collects what is written and shown,
// and lets a test choose terminals, the user's language and what the shell can open.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/appsystem.h"

namespace salvora::testing {

class FakeAppSystem final : public platform::AppSystem {
  public:
    std::optional<std::string> rawText;
    bool errorIsTerminal = false;
    bool shellWorks = false;
    std::uint16_t languageId = 0x0409;
    platform::ConsoleAttach attachResult = platform::ConsoleAttach::Attached;
    std::map<std::string, std::string> env;
    // Libraries that "load", by name; each gets its own handle.
    std::vector<std::string> libraries;
    std::map<std::pair<platform::ModuleHandle, int>, std::string> strings;

    std::string out;
    std::string err;
    std::vector<std::string> messageBoxes;
    std::vector<std::string> opened;
    std::vector<std::string> started;
    int consolesCreated = 0;

    std::optional<std::string> rawArgumentText() override { return rawText; }
    bool isTerminal(platform::StandardStream stream) override {
        return stream == platform::StandardStream::Error && errorIsTerminal;
    }
    void writeStandard(platform::StandardStream stream, std::string_view text) override {
        (stream == platform::StandardStream::Output ? out : err) += text;
    }
    platform::ConsoleAttach attachParentConsole() override { return attachResult; }
    void createConsole() override { ++consolesCreated; }
    void initCommonControls() override {}
    bool shellOpen(const std::string &target) override {
        opened.push_back(target);
        return shellWorks;
    }
    bool startProgram(const std::string &commandLine) override {
        started.push_back(commandLine);
        return true;
    }
    void messageBox(const std::string &text, const std::string &caption) override {
        messageBoxes.push_back(caption + ": " + text);
    }
    std::optional<std::string> environmentVariable(const std::string &name) override {
        auto found = env.find(name);
        if (found == env.end())
            return std::nullopt;
        return found->second;
    }
    std::uint16_t userDefaultLanguageId() override { return languageId; }
    platform::ErrorCode createFolders(const std::string &path) override {
        return platform::nativeAppSystem().createFolders(path);
    }
    platform::ModuleHandle ownModule() override { return 1; }
    platform::ModuleHandle loadLibrary(const std::string &name) override {
        for (std::size_t i = 0; i < libraries.size(); ++i)
            if (libraries[i] == name)
                return 100 + i;
        return 0;
    }
    std::optional<std::string> loadString(platform::ModuleHandle module, int id) override {
        auto found = strings.find({module, id});
        if (found == strings.end())
            return std::nullopt;
        return found->second;
    }
};

} // namespace salvora::testing
