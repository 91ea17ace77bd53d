// Windows implementations of the link's platform services.
#pragma once

#include "link/link_platform.h"

namespace deruz::link {

// The services of the real system; `module` is the handle of the link library itself.
TLinkPlatform WindowsLinkPlatform(void* AModule);

}  // namespace deruz::link
