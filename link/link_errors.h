// The link's error: an exception carrying the exact text shown to the user and handed to
// the host. Raised inside the link and caught at every exported function.
#pragma once

#include "control/control_types.h"

namespace deruz::link {

using ELinkError = control::EControlError;
using control::ExceptionMessage;

}  // namespace deruz::link
