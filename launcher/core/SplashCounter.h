#pragma once

#include <cstdint>

namespace velmoor {

// The splash window's tick count and the pulse of its strip. The counter decides when the
// window closes: 51 ticks after the window is activated, sooner after a failure so that the
// user is not kept waiting for an application that will not come.
class SplashCounter {
  public:
    struct Tick {
        std::uint8_t red;  // the strip's red level after this tick; green and blue stay 0
        bool close;        // this tick closes the splash window
    };

    void restart() { tickCount_ = 0; }
    void shortenAfterLaunchFailure() { tickCount_ = 40; }
    void shortenAfterNoJar() { tickCount_ = 45; }

    Tick tick();

  private:
    std::int16_t tickCount_ = 0;
    std::int16_t redLevel_ = 0;
    std::int16_t redStep_ = 20;
};

}  // namespace velmoor
