#include "app/windowrun.h"

#include "app/enginerun.h"
#include "resources/resource.h"

namespace salvora {

void WindowRunObserver::showMessage(const std::string &text, bool repaint) {
    window_.setControlText(IDC_LOG, text);
    if (repaint)
        window_.repaintControl(IDC_LOG);
}

void WindowRunObserver::message(RunMessage kind, const std::string &text) {
    console_.message(kind, text);
    switch (kind) {
    case RunMessage::Analysing:
        if (single_)
            showMessage(text, true);
        return;
    case RunMessage::UnknownType:
    case RunMessage::TableFound:
        showMessage(text, true);
        return;
    case RunMessage::NoTableFound:
    case RunMessage::Finished:
        if (single_) {
            showMessage(text, false);
            window_.setControlText(IDC_STATUS, "");
        }
        return;
    case RunMessage::CannotOpen:
    case RunMessage::CannotWrite:
    case RunMessage::Refused:
        if (single_)
            window_.messageBox(text, messageCaption, MessageIcon::None);
        return;
    case RunMessage::CannotInstall:
    case RunMessage::LogRefused:
    case RunMessage::JournalSettled:
        return;
    }
}

void WindowRunObserver::walkStarted(std::uint32_t records) {
    console_.walkStarted(records);
    window_.progressSetRange(IDC_PROGRESS, 0, records <= 100 ? records : records / 100);
    window_.progressSetStep(IDC_PROGRESS, records >= 100 ? 1 : records / 2);
}

void WindowRunObserver::recordReached(std::uint32_t index, std::uint32_t records) {
    if (index % 100 == 0)
        window_.progressStepIt(IDC_PROGRESS);
    console_.recordReached(index, records);
}

void WindowRunObserver::progressAt(std::uint32_t index, std::uint32_t records) {
    const std::uint32_t step = records >= 100 ? 1 : records / 2;
    window_.progressSetPos(IDC_PROGRESS, (index / 100 + 1) * step);
    console_.recordReached(index, records);
}

void WindowRunObserver::walkEnded(std::uint32_t records) {
    console_.walkEnded(records);
    window_.progressSetPos(IDC_PROGRESS, records);
}

RecoveryOutcome runWindowTable(EngineContext &engine, RunWindow &window, RecoveryRequest request,
                               RunObserver &console) {
    request.keepDeleted = window.isChecked(IDC_KEEP_DELETED);
    WindowRunObserver observer(window, WindowRunKind::Single, console);
    return runRecovery(engine, request, observer);
}

WindowNames boxNames(RunWindow &window) {
    return {window.controlText(IDC_SOURCE, nameBoxLimit),
            window.controlText(IDC_OUTPUT, nameBoxLimit)};
}

WindowTableRun runWindowTable(AppContext &app, RunWindow &window) {
    WindowTableRun run;
    WindowNames names = boxNames(window);
    run.source = names.source;
    run.output = names.output;
    ConsoleRunObserver console(app);
    run.outcome =
        runWindowTable(app.engine, window, recoveryRequest(app, run.source, run.output), console);
    return run;
}

} // namespace salvora
