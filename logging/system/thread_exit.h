// One word of per-thread state that the library keeps for itself, handed back to a function of
// the library on the thread as the thread ends, so that what a thread made (its queue of log
// entries) is given back without a thread_local object that has a destructor.
//
// Why not such an object: in a Windows DLL built by MinGW, a thread_local with a destructor
// registers that destructor with the C++ runtime linked into the DLL, which pins the DLL and
// releases it from inside its own code when the thread ends; a program that unloads the DLL
// while one of its threads lives on then depends on that release being safe. Here the end of a
// thread is seen by the module's own thread-detach callback, which the system calls only while
// the module is loaded: a thread that outlives the module keeps its state (leaked, never
// touched again) and runs no code of the unloaded module. On POSIX systems a thread_local
// object does the work: the C library keeps a shared library loaded until its thread-exit
// destructors have run.
//
// Thread safety: each thread reads and sets only its own word. The slot has one user in the
// library (the asynchronous log path).
#pragma once

namespace deruz::logging {

using TSiThreadExitHook = void (*)(void* AState) noexcept;

// The calling thread's state: null until set, and again after it was handed back.
void* SiThreadState() noexcept;
// Sets the calling thread's state to AState (not null); AHook(AState) runs on this thread when it
// ends (not when the process exits). False when the system has no slot to give (the caller then
// keeps its state elsewhere or goes without).
bool SiSetThreadState(void* AState, TSiThreadExitHook AHook) noexcept;

}  // namespace deruz::logging
