// Windows implementations of the control's system services.
#pragma once

#include "control/control_platform.h"

namespace deruz::control {

// The services of the real system; they live as long as the process.
TControlPlatform WindowsControlPlatform();

}  // namespace deruz::control
