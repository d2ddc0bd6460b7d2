// Small helpers the window tests share.
#pragma once

#include <windows.h>

#include <string>

namespace salvora::testing {

// Delivers everything posted so far, as a message loop would.
inline void pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

inline std::string windowsPath(const std::string &path) {
    std::string result = path;
    for (char &c : result)
        if (c == '/')
            c = '\\';
    return result;
}

// The folder of the running test program, with its trailing backslash.
inline std::string programFolder() {
    char path[MAX_PATH] = {};
    std::string name(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    return name.substr(0, name.find_last_of('\\') + 1);
}

inline std::string itemText(HWND dialog, int id) {
    char buffer[4096] = {};
    ::GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

} // namespace salvora::testing
