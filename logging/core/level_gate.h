// The part of the logger core that every log call reads before it does anything else: the
// enabled switch and the two level thresholds. The core owns it and its sessions point to it,
// so that a session's level test is inline and reads a few relaxed atomics, without a lock and
// without knowing the core's class.
//
// Thread-safety: every member may be used from any thread. The values are independent
// switches read without ordering: a log call that races with a change may see either value.
#pragma once

#include <atomic>

#include "logging/base/level.h"

namespace deruz::logging {

class TSiLevelGate {
  public:
    bool Enabled() const noexcept { return FEnabled.load(std::memory_order_relaxed); }
    void SetEnabled(bool AValue) noexcept { FEnabled.store(AValue, std::memory_order_relaxed); }
    // The core's threshold: entries below it are not logged by any session.
    TSiLevel Level() const noexcept { return FLevel.load(std::memory_order_relaxed); }
    void SetLevel(TSiLevel AValue) noexcept { FLevel.store(AValue, std::memory_order_relaxed); }
    // The level of the methods called without one.
    TSiLevel DefaultLevel() const noexcept { return FDefaultLevel.load(std::memory_order_relaxed); }
    void SetDefaultLevel(TSiLevel AValue) noexcept {
        FDefaultLevel.store(AValue, std::memory_order_relaxed);
    }

  private:
    std::atomic<bool> FEnabled{false};
    std::atomic<TSiLevel> FLevel{lvDebug};
    std::atomic<TSiLevel> FDefaultLevel{lvMessage};
};

}  // namespace deruz::logging
