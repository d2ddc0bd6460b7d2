// Standard output and standard error as the command line uses them. Texts are written with
// CR LF line ends; the platform layer turns them into what its terminals expect.
#pragma once

#include <string_view>

#include "engine/enginecontext.h"
#include "platform/appsystem.h"

namespace salvora {

class StandardStreamSink final : public TextSink {
  public:
    StandardStreamSink(platform::AppSystem &system, platform::StandardStream stream)
        : system_(system), stream_(stream) {}
    void write(std::string_view text) override { system_.writeStandard(stream_, text); }

  private:
    platform::AppSystem &system_;
    platform::StandardStream stream_;
};

// "Salvora v" and the project version, with its line end.
std::string bannerLine();

} // namespace salvora
