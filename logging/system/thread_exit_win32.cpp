// The per-thread state on Windows: a slot of the system's thread-local storage, handed back by
// the module's thread-detach callback. The system calls that callback (an entry of the module's
// TLS directory) only while the module is loaded, so a thread that ends after the module was
// unloaded runs none of its code; the slot itself is returned when the module is unloaded.
#include <windows.h>

#include <atomic>

#include "logging/system/thread_exit.h"

namespace deruz::logging {

namespace {

std::atomic<DWORD> GSlot{TLS_OUT_OF_INDEXES};
std::atomic<TSiThreadExitHook> GHook{nullptr};

// The slot, allocated at its first use (which may come before the module's static objects
// are made, from another one's constructor).
DWORD Slot() noexcept {
    const DWORD LSlot = GSlot.load(std::memory_order_acquire);
    if (LSlot != TLS_OUT_OF_INDEXES) return LSlot;
    const DWORD LNew = TlsAlloc();
    if (LNew == TLS_OUT_OF_INDEXES) return LNew;
    DWORD LExpected = TLS_OUT_OF_INDEXES;
    if (!GSlot.compare_exchange_strong(LExpected, LNew, std::memory_order_acq_rel)) {
        TlsFree(LNew);
        return LExpected;
    }
    return LNew;
}

// Hands the calling thread's state back.
void HandBack(DWORD ASlot) noexcept {
    void* LState = TlsGetValue(ASlot);
    if (LState == nullptr) return;
    TlsSetValue(ASlot, nullptr);
    if (TSiThreadExitHook LHook = GHook.load(std::memory_order_acquire)) LHook(LState);
}

void NTAPI OnThreadEvent(PVOID /*AModule*/, DWORD AReason, PVOID AReserved) {
    const DWORD LSlot = GSlot.load(std::memory_order_acquire);
    if (LSlot == TLS_OUT_OF_INDEXES) return;
    if (AReason == DLL_THREAD_DETACH) {
        HandBack(LSlot);
    } else if (AReason == DLL_PROCESS_DETACH && AReserved == nullptr) {
        // The module is unloaded while the process goes on: the unloading thread's state is
        // handed back, other threads' states stay with them unused, and the slot goes back to
        // the system (which clears it in every thread).
        HandBack(LSlot);
        GSlot.store(TLS_OUT_OF_INDEXES, std::memory_order_release);
        TlsFree(LSlot);
    }
}

}  // namespace

void* SiThreadState() noexcept {
    const DWORD LSlot = GSlot.load(std::memory_order_acquire);
    return LSlot == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(LSlot);
}

bool SiSetThreadState(void* AState, TSiThreadExitHook AHook) noexcept {
    const DWORD LSlot = Slot();
    if (LSlot == TLS_OUT_OF_INDEXES) return false;
    GHook.store(AHook, std::memory_order_release);
    return TlsSetValue(LSlot, AState) != FALSE;
}

}  // namespace deruz::logging

// The callback's entry in the module's TLS directory: the sections .CRT$XLA to .CRT$XLZ are
// gathered, in the order of their names, into the list of callbacks the system calls; this one
// comes after the C runtime's and the threads library's, so state made by their thread-exit
// work is handed back too.
extern "C" {
__attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK GSiThreadExitCallback =
    &deruz::logging::OnThreadEvent;
}
