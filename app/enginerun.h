// How the front end runs the engine: the request made from its options and interface
// language, and the console's side of a run.
#pragma once

#include <functional>
#include <string>

#include "app/appcontext.h"
#include "engine/recovery.h"

namespace salvora {

inline constexpr const char *messageCaption = "Salvora";

// A request for `source` into `output` with the options of the command line or the menu and
// the run's texts in the interface language.
RecoveryRequest recoveryRequest(AppContext &app, const std::string &source,
                                const std::string &output);

// As above, with the texts only the window shows also in the interface language; the
// command line keeps them in English.
RecoveryRequest windowRecoveryRequest(AppContext &app, const std::string &source,
                                      const std::string &output);

// The run's account echoed on the console when there is one, the progress line when someone
// watches, and the failure that every mode shows in a message box with no owner. A note that
// the run goes on after (a settled journal) goes to `notes` when there is no console, since
// the result line alone would not tell it.
class ConsoleRunObserver : public RunObserver {
  public:
    using MessageBox = std::function<void(const std::string &text, const std::string &caption)>;

    ConsoleRunObserver(TextSink *console, ProgressObserver *progress, MessageBox ownerless,
                       TextSink *notes = nullptr);
    explicit ConsoleRunObserver(AppContext &app);

    void account(std::string_view text) override;
    void message(RunMessage kind, const std::string &text) override;
    void recordReached(std::uint32_t index, std::uint32_t records) override;
    void walkEnded(std::uint32_t records) override;

  private:
    TextSink *console_;
    ProgressObserver *progress_;
    MessageBox ownerless_;
    TextSink *notes_;
};

// One table of a batch, through `engine` (the batch's view of the system): the request from
// `app`, the console observer.
RecoveryOutcome recoverTable(AppContext &app, EngineContext &engine, const std::string &source,
                             const std::string &output);

} // namespace salvora
