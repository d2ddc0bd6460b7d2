// The main window's run of one table: the names as its boxes hold them, the run's messages in
// its log box and status bar, its progress bar, and message boxes for failures.
#pragma once

#include <string>

#include "app/appcontext.h"
#include "app/runwindow.h"
#include "app/windowtask.h"
#include "engine/recovery.h"

namespace salvora {

// Characters a name box gives, with the terminator.
inline constexpr std::size_t nameBoxLimit = 256;

enum class WindowRunKind {
    // One table: the window shows every message and the failures in message boxes.
    Single,
    // One table of a folder run: only the table's analysis and the progress are shown.
    Folder,
};

// The window's side of a run; what the console is told goes on to `console` as well.
class WindowRunObserver final : public RunObserver {
  public:
    WindowRunObserver(RunWindow &window, WindowRunKind kind, RunObserver &console)
        : window_(window), single_(kind == WindowRunKind::Single), console_(console) {}

    void account(std::string_view text) override { console_.account(text); }
    void message(RunMessage kind, const std::string &text) override;
    void walkStarted(std::uint32_t records) override;
    void recordReached(std::uint32_t index, std::uint32_t records) override;
    void walkEnded(std::uint32_t records) override;
    bool cancelled() override { return console_.cancelled(); }
    // The bar where `recordReached` would have stepped it to by `index`, in one move.
    void progressAt(std::uint32_t index, std::uint32_t records);

  private:
    void showMessage(const std::string &text, bool repaint);

    RunWindow &window_;
    bool single_;
    RunObserver &console_;
};

// Runs `request` for the window: records marked deleted are kept as its box says.
RecoveryOutcome runWindowTable(EngineContext &engine, RunWindow &window, RecoveryRequest request,
                               RunObserver &console);

// The names as the window's source and output boxes hold them.
WindowNames boxNames(RunWindow &window);

struct WindowTableRun {
    std::string source;
    std::string output;
    RecoveryOutcome outcome;
};

// The table named in the window's boxes, with the front end's options and language.
WindowTableRun runWindowTable(AppContext &app, RunWindow &window);

} // namespace salvora
