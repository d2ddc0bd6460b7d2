// What the program's front end needs from the system beyond files and the clock: the raw
// command line, the standard streams and console, the shell, message boxes, the environment,
// the user's language and resource libraries. Virtual so that tests can stand in for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace salvora::platform {

enum class StandardStream { Output, Error };

// A loaded module (the program itself or a resource library); 0 means none.
using ModuleHandle = std::uintptr_t;

enum class ConsoleAttach { Attached, NoKernel32, NoAttachConsole };

class AppSystem {
  public:
    virtual ~AppSystem() = default;

    // The command line after the program's own name, unparsed, as a windowed program gets it.
    // Only Windows has such a text; elsewhere it is nullopt and the argument vector is used.
    virtual std::optional<std::string> rawArgumentText() = 0;

    virtual bool isTerminal(StandardStream stream) = 0;
    virtual void writeStandard(StandardStream stream, std::string_view text) = 0;

    // Joins the console of the process that started us, when the system can do so.
    virtual ConsoleAttach attachParentConsole() = 0;
    // A console of the program's own, for command-line runs without "/console".
    virtual void createConsole() = 0;
    virtual void initCommonControls() = 0;

    // Opens a web page or a "mailto:" link with the shell; false when that failed.
    virtual bool shellOpen(const std::string &target) = 0;
    // Starts a program with this command line (the program's name first) and does not wait;
    // false when it could not be started.
    virtual bool startProgram(const std::string &commandLine) = 0;
    // A message box without an owner window (information icon, OK button).
    virtual void messageBox(const std::string &text, const std::string &caption) = 0;

    virtual std::optional<std::string> environmentVariable(const std::string &name) = 0;
    // Windows language id of the user's default language (0x0409 for US English).
    virtual std::uint16_t userDefaultLanguageId() = 0;
    // Creates `path` and any missing parent folders; 0 when they all exist afterwards.
    virtual ErrorCode createFolders(const std::string &path) = 0;

    virtual ModuleHandle ownModule() = 0;
    // 0 when the library cannot be loaded. Loaded libraries stay loaded for the process.
    virtual ModuleHandle loadLibrary(const std::string &name) = 0;
    // Nullopt when the module has no such string.
    virtual std::optional<std::string> loadString(ModuleHandle module, int id) = 0;
};

// The real system, one instance for the process.
AppSystem &nativeAppSystem();

} // namespace salvora::platform
