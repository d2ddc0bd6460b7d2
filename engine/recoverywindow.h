// The few controls of the main window that a recovery run talks to. The Win32 window
// implements it; tests record the calls.
#pragma once

#include <cstdint>
#include <string>

namespace salvora {

namespace control {
inline constexpr int sourceBox = 101;
inline constexpr int outputBox = 103;
inline constexpr int logBox = 106;
inline constexpr int statusBar = 107;
inline constexpr int keepDeletedCheck = 111;
inline constexpr int progressBar = 116;
} // namespace control

enum class MessageIcon { None, Information };

class RecoveryWindow {
  public:
    virtual ~RecoveryWindow() = default;

    // At most `limit` - 1 characters, as a dialog text query with that buffer size returns.
    virtual std::string controlText(int id, std::size_t limit) = 0;
    virtual void setControlText(int id, const std::string &text) = 0;
    virtual void repaintControl(int id) = 0;
    virtual bool isChecked(int id) = 0;

    virtual void progressSetRange(int id, std::uint32_t minimum, std::uint32_t maximum) = 0;
    virtual void progressSetStep(int id, std::uint32_t step) = 0;
    virtual void progressStepIt(int id) = 0;
    virtual void progressSetPos(int id, std::uint32_t position) = 0;

    virtual void messageBox(const std::string &text, const std::string &caption,
                            MessageIcon icon) = 0;
};

} // namespace salvora
