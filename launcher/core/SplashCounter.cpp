#include "SplashCounter.h"

namespace velmoor {

SplashCounter::Tick SplashCounter::tick() {
    // The pulse is capped at 150 rather than reaching 160, and bottoms out at 0, so the strip
    // stays a dark red and never goes fully black once it has started.
    redLevel_ = static_cast<std::int16_t>(redLevel_ + redStep_);
    if (redLevel_ > 150) {
        redStep_ = static_cast<std::int16_t>(-redStep_);
        redLevel_ = 150;
    }
    if (redLevel_ < 0) {
        redLevel_ = 0;
        redStep_ = static_cast<std::int16_t>(-redStep_);
    }
    tickCount_ = static_cast<std::int16_t>(tickCount_ + 1);
    return {static_cast<std::uint8_t>(redLevel_), tickCount_ > 50};
}

}  // namespace velmoor
