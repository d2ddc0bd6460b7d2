// The few controls of the main window that its runs talk to, by the identifiers of
// resources/resource.h. The Win32 window implements it; tests record the calls.
#pragma once

#include <cstdint>
#include <string>

namespace salvora {

enum class MessageIcon { None, Information };

class RunWindow {
  public:
    virtual ~RunWindow() = default;

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
