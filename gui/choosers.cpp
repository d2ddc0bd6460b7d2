#include "gui/choosers.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

namespace salvora::gui {

namespace {

constexpr DWORD nameBufferSize = 255;

// Filters are lists of name and pattern pairs, each ended by a zero, the list by another.
constexpr char openFilter[] = "Dbf files(*.dbf)\0*.dbf;*.frx;*.lbx;*.vcx;*.mnx;*.pjx\0"
                              "Dbc files(*.dbc)\0*.dbc\0";
constexpr char saveFilter[] = "Dbf files (*.dbf)\0*.dbf\0";
constexpr char batchFilter[] = "Command files (*.bat)\0*.bat\0";

std::optional<std::string> chooseTable(HWND owner, const std::string &initialFolder,
                                       const char *filter, DWORD flags, bool save) {
    char name[nameBufferSize] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = nameBufferSize;
    dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    dialog.Flags = flags;
    BOOL chosen = save ? ::GetSaveFileNameA(&dialog) : ::GetOpenFileNameA(&dialog);
    if (!chosen)
        return std::nullopt;
    return std::string(name);
}

struct ItemListRelease {
    void operator()(LPITEMIDLIST list) const { ::CoTaskMemFree(list); }
};

} // namespace

std::optional<std::string> chooseTableToOpen(HWND owner, const std::string &initialFolder) {
    return chooseTable(owner, initialFolder, openFilter, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                       false);
}

std::optional<std::string> chooseTableToSave(HWND owner, const std::string &initialFolder) {
    // No OFN_FILEMUSTEXIST: the output is usually a new file, as the output box allows too.
    return chooseTable(owner, initialFolder, saveFilter, OFN_HIDEREADONLY, true);
}

std::optional<std::string> chooseBatchFile(HWND owner) {
    return chooseTable(owner, std::string(), batchFilter, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY,
                       true);
}

std::optional<std::string> chooseReportFile(HWND owner, const std::string &filterName) {
    std::string filter = filterName + '\0' + "*.csv;*.txt;*.json" + '\0' + '\0';
    char name[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = "txt";
    // The current folder stays where the table dialogs left it.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameA(&dialog))
        return std::nullopt;
    return std::string(name);
}

std::optional<std::string> chooseFolder(HWND owner) {
    char display[MAX_PATH] = {};
    BROWSEINFOA browse{};
    browse.hwndOwner = owner;
    browse.pszDisplayName = display;
    browse.lpszTitle = "Choose a folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST chosen = ::SHBrowseForFolderA(&browse);
    if (chosen == nullptr)
        return std::nullopt;
    char path[MAX_PATH] = {};
    BOOL converted = ::SHGetPathFromIDListA(chosen, path);
    ItemListRelease{}(chosen);
    if (!converted)
        return std::nullopt;
    return std::string(path);
}

std::string currentFolder() {
    char folder[MAX_PATH] = {};
    DWORD length = ::GetCurrentDirectoryA(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

} // namespace salvora::gui
