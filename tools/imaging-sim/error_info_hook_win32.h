// A COM channel hook that carries a call's error information (IErrorInfo) from the server's
// thread to the caller's thread, as Windows does by itself. Wine does not carry it across
// processes, so imaging-sim and the programs that test against it install this hook at start;
// on Windows it only repeats what the system already did.
#pragma once

#include <objbase.h>

namespace deruz::imagingsim {

// Registers the hook for this process (once; later calls do nothing).
HRESULT RegisterErrorInfoHook();

}  // namespace deruz::imagingsim
