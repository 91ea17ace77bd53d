// The part of the logger core that every log call reads before it does anything else: the
// enabled switch with the core's level threshold, and the default level. The core owns it and
// its sessions point to it, so that a session's level test is inline and reads two relaxed
// atomic words (the core's and its own switched threshold), without a lock and without knowing
// the core's class.
//
// Thread-safety: every member may be used from any thread. The values are independent
// switches read without ordering: a log call that races with a change may see either value.
#pragma once

#include <atomic>
#include <cstdint>

#include "logging/base/level.h"

namespace deruz::logging {

// A level threshold and an on/off switch in one atomic word, so that the level test of every
// log call is one load and one compare: the word holds the level while the switch is on, and
// the level plus kOff while it is off, which no level reaches.
class TSiSwitchedThreshold {
  public:
    TSiSwitchedThreshold(bool AOn, TSiLevel ALevel) noexcept
        : FWord(static_cast<std::uint16_t>((AOn ? 0 : kOff) | ALevel)) {}

    // The switch is on and ALevel reaches the threshold.
    bool Passes(TSiLevel ALevel) const noexcept {
        return ALevel >= FWord.load(std::memory_order_relaxed);
    }
    bool On() const noexcept { return (FWord.load(std::memory_order_relaxed) & kOff) == 0; }
    void SetOn(bool AValue) noexcept {
        if (AValue) {
            FWord.fetch_and(static_cast<std::uint16_t>(~kOff), std::memory_order_relaxed);
        } else {
            FWord.fetch_or(kOff, std::memory_order_relaxed);
        }
    }
    TSiLevel Level() const noexcept {
        return static_cast<TSiLevel>(FWord.load(std::memory_order_relaxed) & 0xFF);
    }
    // Keeps the switch as it is, whatever another thread sets at the same time.
    void SetLevel(TSiLevel AValue) noexcept {
        std::uint16_t LWord = FWord.load(std::memory_order_relaxed);
        while (!FWord.compare_exchange_weak(LWord,
                                            static_cast<std::uint16_t>((LWord & kOff) | AValue),
                                            std::memory_order_relaxed)) {
        }
    }

  private:
    static constexpr std::uint16_t kOff = 0x100;
    std::atomic<std::uint16_t> FWord;
};

class TSiLevelGate {
  public:
    bool Enabled() const noexcept { return FThreshold.On(); }
    void SetEnabled(bool AValue) noexcept { FThreshold.SetOn(AValue); }
    // The core's threshold: entries below it are not logged by any session.
    TSiLevel Level() const noexcept { return FThreshold.Level(); }
    void SetLevel(TSiLevel AValue) noexcept { FThreshold.SetLevel(AValue); }
    // The core is enabled and ALevel reaches its threshold.
    bool Passes(TSiLevel ALevel) const noexcept { return FThreshold.Passes(ALevel); }
    // The level of the methods called without one.
    TSiLevel DefaultLevel() const noexcept { return FDefaultLevel.load(std::memory_order_relaxed); }
    void SetDefaultLevel(TSiLevel AValue) noexcept {
        FDefaultLevel.store(AValue, std::memory_order_relaxed);
    }

  private:
    TSiSwitchedThreshold FThreshold{false, lvDebug};
    std::atomic<TSiLevel> FDefaultLevel{lvMessage};
};

}  // namespace deruz::logging
