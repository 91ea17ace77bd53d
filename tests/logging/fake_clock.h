// Clocks that tests set, put in place for the lifetime of the object and the system's clock
// back afterwards.
#pragma once

#include <atomic>
#include <cstdint>

#include "logging/system/clock.h"

namespace deruz::logging::testing {

class TScopedTimeSource : public TSiTimeSource {
  public:
    TScopedTimeSource() : FPrevious(SiSetTimeSource(this)) {}
    ~TScopedTimeSource() override { SiSetTimeSource(FPrevious); }
    TScopedTimeSource(const TScopedTimeSource&) = delete;
    TScopedTimeSource& operator=(const TScopedTimeSource&) = delete;

  private:
    TSiTimeSource* FPrevious;
};

// The tick count reads what the test sets.
class TFakeTicks final : public TScopedTimeSource {
  public:
    explicit TFakeTicks(std::uint32_t AStart) : FNow(AStart) {}
    void Set(std::uint32_t AValue) { FNow = AValue; }
    std::uint32_t TickCount() noexcept override { return FNow; }

  private:
    std::atomic<std::uint32_t> FNow;
};

// The wall clock reads what the test sets; local time runs two hours ahead of UTC unless set
// apart.
class TFakeClock final : public TScopedTimeSource {
  public:
    void Set(TDateTime AUtc) {
        FUtc = AUtc;
        FLocal = AUtc + 2.0 / 24;
    }
    void SetLocal(TDateTime ALocal) { FLocal = ALocal; }
    TDateTime UtcNow() noexcept override { return FUtc; }
    TDateTime LocalNow() noexcept override { return FLocal; }

  private:
    std::atomic<TDateTime> FUtc{0};
    std::atomic<TDateTime> FLocal{0};
};

}  // namespace deruz::logging::testing
