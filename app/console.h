// Standard output and standard error as the command line uses them. Texts are written with
// CR LF line ends; the platform layer turns them into what its terminals expect.
#pragma once

#include <string>
#include <string_view>

#include "engine/enginecontext.h"
#include "platform/appsystem.h"

namespace salvora {

class StandardStreamSink final : public TextSink {
  public:
    StandardStreamSink(platform::AppSystem &system, platform::StandardStream stream)
        : system_(system), stream_(stream) {}
    void write(std::string_view text) override {
        if (held_)
            pending_ += text;
        else
            system_.writeStandard(stream_, text);
    }
    // What is written from `hold` on goes out in one piece at `release`.
    void hold() { held_ = true; }
    void release();

  private:
    platform::AppSystem &system_;
    platform::StandardStream stream_;
    bool held_ = false;
    std::string pending_;
};

// "Salvora v" and the project version, with its line end.
std::string bannerLine();

} // namespace salvora
