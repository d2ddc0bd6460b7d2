// The system's file and folder dialogs as the main window uses them. Each returns the chosen
// path, or nullopt when the user cancelled.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace salvora::gui {

// Browse for a damaged table: the table filters, the file must exist.
std::optional<std::string> chooseTableToOpen(HWND owner, const std::string &initialFolder);
// Browse for the output table; a new name may be typed.
std::optional<std::string> chooseTableToSave(HWND owner, const std::string &initialFolder);
// Where to save the command line: batch files, asking before one is replaced.
std::optional<std::string> chooseBatchFile(HWND owner);
// Where to write a run's report: CSV, text or JSON by the name's ending (`filterName` names
// them in the interface language), asking before a file is replaced.
std::optional<std::string> chooseReportFile(HWND owner, const std::string &filterName);
// "Choose a folder", file-system folders only.
std::optional<std::string> chooseFolder(HWND owner);

// The current folder, which an open or save dialog leaves in the chosen file's folder.
std::string currentFolder();

} // namespace salvora::gui
