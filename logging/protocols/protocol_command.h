// A custom action that the logger core hands to one protocol by caption, and that an
// asynchronous protocol queues for its worker.
#pragma once

#include <cstdint>

#include "logging/base/intrusive_ptr.h"

namespace deruz::logging {

// A custom action for one protocol (the memory protocol's dumps). The state is not owned: it
// must stay valid until the command has run, also when the protocol runs it later on its worker.
class TSiProtocolCommand : public TSiRefCounted {
  public:
    TSiProtocolCommand(std::int32_t AAction, void* AState) : FState(AState), FAction(AAction) {}

    std::int32_t Action() const noexcept { return FAction; }
    void* State() const noexcept { return FState; }

  private:
    ~TSiProtocolCommand() override = default;

    void* FState;
    std::int32_t FAction;
};

using TSiProtocolCommandPtr = TSiRef<TSiProtocolCommand>;

}  // namespace deruz::logging
