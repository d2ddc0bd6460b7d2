#include "platform/appsystem.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

namespace salvora::platform {

namespace {

HANDLE standardHandle(StandardStream stream) {
    return ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// The tail the C runtime hands WinMain: skip the program name (quoted or not) and the blanks.
std::string commandTail(const char *line) {
    if (line == nullptr)
        return {};
    const char *p = line;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return std::string(p);
}

class Win32AppSystem final : public AppSystem {
  public:
    std::optional<std::string> rawArgumentText() override {
        return commandTail(::GetCommandLineA());
    }

    bool isTerminal(StandardStream stream) override {
        DWORD mode = 0;
        return ::GetConsoleMode(standardHandle(stream), &mode) != 0;
    }

    void writeStandard(StandardStream stream, std::string_view text) override {
        HANDLE handle = standardHandle(stream);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    ConsoleAttach attachParentConsole() override {
        HMODULE kernel = ::GetModuleHandleA("Kernel32");
        if (kernel == nullptr)
            return ConsoleAttach::NoKernel32;
        FARPROC procedure = ::GetProcAddress(kernel, "AttachConsole");
        if (procedure == nullptr)
            return ConsoleAttach::NoAttachConsole;
        using AttachConsoleFunction = BOOL(WINAPI *)(DWORD);
        // Through void (*)(void), the one cast GCC accepts between unrelated function types.
        auto attach =
            reinterpret_cast<AttachConsoleFunction>(reinterpret_cast<void (*)(void)>(procedure));
        attach(static_cast<DWORD>(-1)); // ATTACH_PARENT_PROCESS; fails when we have one already
        return ConsoleAttach::Attached;
    }

    // A start from the desktop has no standard output: it gets a console of its own. Output
    // that was handed to us (a pipe, a file, a console we inherited) is kept.
    void createConsole() override {
        HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (output == nullptr || output == INVALID_HANDLE_VALUE)
            ::AllocConsole();
    }

    void initCommonControls() override {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = 0x41FF;
        ::InitCommonControlsEx(&controls);
    }

    bool shellOpen(const std::string &target) override {
        HINSTANCE result = ::ShellExecuteA(::GetActiveWindow(), "open", target.c_str(), nullptr,
                                           nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }

    bool startProgram(const std::string &commandLine) override {
        std::string line = commandLine; // the system may write into it
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process))
            return false;
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return true;
    }

    void messageBox(const std::string &text, const std::string &caption) override {
        ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
    }

    std::optional<std::string> environmentVariable(const std::string &name) override {
        DWORD size = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
        if (size == 0)
            return std::nullopt;
        std::string value(size, '\0');
        DWORD got = ::GetEnvironmentVariableA(name.c_str(), value.data(), size);
        value.resize(got < size ? got : 0);
        return value;
    }

    std::uint16_t userDefaultLanguageId() override { return ::GetUserDefaultLangID(); }

    ErrorCode createFolders(const std::string &path) override {
        for (std::size_t i = 1; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != '\\' && path[i] != '/')
                continue;
            if (i >= 1 && path[i - 1] == ':')
                continue; // a drive, not a folder
            std::string part = path.substr(0, i);
            if (!::CreateDirectoryA(part.c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS)
                return static_cast<ErrorCode>(::GetLastError());
        }
        DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return static_cast<ErrorCode>(::GetLastError());
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
    }

    ModuleHandle ownModule() override {
        return reinterpret_cast<ModuleHandle>(::GetModuleHandleA(nullptr));
    }

    ModuleHandle loadLibrary(const std::string &name) override {
        return reinterpret_cast<ModuleHandle>(::LoadLibraryA(name.c_str()));
    }

    std::optional<std::string> loadString(ModuleHandle module, int id) override {
        char buffer[4096];
        int length = ::LoadStringA(reinterpret_cast<HINSTANCE>(module), static_cast<UINT>(id),
                                   buffer, sizeof buffer);
        if (length <= 0)
            return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(length));
    }
};

} // namespace

AppSystem &nativeAppSystem() {
    static Win32AppSystem system;
    return system;
}

} // namespace salvora::platform
