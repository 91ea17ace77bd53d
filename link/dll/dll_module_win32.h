// Shared between DllMain and the exported functions: the one link instance of this
// library and its load and unload.
#pragma once

#include "link/link.h"

namespace deruz::link {

// Records the library's module handle (from DllMain, before any export runs).
void SetLinkModule(void* AModule);
// The link instance, with its load steps run once on the first calling thread.
TLink& LoadedLink();
// Runs the unload steps if the load steps ran. `processExit`: the process is ending.
void UnloadLink(bool AProcessExit);
// Whether the calling thread is the one that ran the load steps (call after LoadedLink).
bool OnLinkThread();

}  // namespace deruz::link
