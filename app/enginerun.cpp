#include "app/enginerun.h"

#include "app/language.h"
#include "resources/resource.h"

namespace salvora {

RecoveryRequest recoveryRequest(AppContext &app, const std::string &source,
                                const std::string &output) {
    RecoveryRequest request;
    request.source = source;
    request.output = output;
    request.options = app.options;
    request.tableTemplate = app.tableTemplate;
    request.texts.unrecoverableFile = loadString(app, IDS_UNRECOVERABLE);
    request.texts.recoverableRecords = loadString(app, IDS_RECOVERABLE_RECORDS);
    request.texts.keptOriginal = loadString(app, IDS_KEPT_ORIGINAL);
    return request;
}

RecoveryRequest windowRecoveryRequest(AppContext &app, const std::string &source,
                                      const std::string &output) {
    RecoveryRequest request = recoveryRequest(app, source, output);
    request.texts.analysing = loadString(app, IDS_ANALYSING);
    request.texts.tableFound = loadString(app, IDS_TABLE_FOUND);
    request.texts.unknownType = loadString(app, IDS_UNKNOWN_TYPE);
    return request;
}

ConsoleRunObserver::ConsoleRunObserver(TextSink *console, ProgressObserver *progress,
                                       MessageBox ownerless, TextSink *notes)
    : console_(console), progress_(progress), ownerless_(std::move(ownerless)), notes_(notes) {}

ConsoleRunObserver::ConsoleRunObserver(AppContext &app)
    : ConsoleRunObserver(
          app.consoleOut, app.progressLine.get(),
          [&app](const std::string &text, const std::string &caption) {
              app.system.messageBox(text, caption);
          },
          &app.standardError) {}

void ConsoleRunObserver::account(std::string_view text) {
    if (console_)
        console_->write(text);
}

void ConsoleRunObserver::message(RunMessage kind, const std::string &text) {
    bool echoed = kind == RunMessage::CannotWrite || kind == RunMessage::Refused ||
                  kind == RunMessage::LogRefused || kind == RunMessage::JournalSettled;
    if (echoed && console_)
        console_->write(text + "\r\n");
    else if (kind == RunMessage::JournalSettled && notes_)
        notes_->write(text + "\r\n");
    if (kind == RunMessage::CannotInstall && ownerless_)
        ownerless_(text, messageCaption);
}

void ConsoleRunObserver::recordReached(std::uint32_t index, std::uint32_t records) {
    if (progress_ && (index & 0xFFF) == 0)
        progress_->recordsDone(index, records);
}

void ConsoleRunObserver::walkEnded(std::uint32_t records) {
    if (progress_)
        progress_->recordsDone(records, records);
}

RecoveryOutcome recoverTable(AppContext &app, EngineContext &engine, const std::string &source,
                             const std::string &output) {
    ConsoleRunObserver console(app);
    return runRecovery(engine, recoveryRequest(app, source, output), console);
}

} // namespace salvora
