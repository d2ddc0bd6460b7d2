// A stand-in for the main window that remembers what a run did to its controls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/runwindow.h"
#include "resources/resource.h"

namespace salvora::testing {

class RecordingWindow : public RunWindow {
  public:
    std::map<int, std::string> texts;
    bool keepDeletedChecked = true;
    std::vector<std::string> calls; // "range 0 100", "step 1", "stepit", "pos 5", "box ..."
    std::vector<std::string> messageBoxes;
    int repaints = 0;

    std::string controlText(int id, std::size_t limit) override {
        std::string text = texts[id];
        if (limit > 0 && text.size() > limit - 1)
            text.resize(limit - 1);
        return text;
    }
    void setControlText(int id, const std::string &text) override { texts[id] = text; }
    void repaintControl(int) override { ++repaints; }
    bool isChecked(int id) override { return id == IDC_KEEP_DELETED && keepDeletedChecked; }
    void progressSetRange(int, std::uint32_t minimum, std::uint32_t maximum) override {
        calls.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void progressSetStep(int, std::uint32_t step) override {
        calls.push_back("step " + std::to_string(step));
    }
    void progressStepIt(int) override { calls.push_back("stepit"); }
    void progressSetPos(int, std::uint32_t position) override {
        calls.push_back("pos " + std::to_string(position));
    }
    void messageBox(const std::string &text, const std::string &caption, MessageIcon) override {
        messageBoxes.push_back(caption + ": " + text);
    }
    int count(const std::string &call) const {
        int n = 0;
        for (const auto &c : calls)
            n += c == call;
        return n;
    }
};

} // namespace salvora::testing
