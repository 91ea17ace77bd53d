// DllMain does only what is safe under the loader lock at load: it records the module
// handle. The load steps (COM initialisation, the log pipe connect) run later, on the
// first export call. The unload steps run here, at detach:
// - FreeLibrary: all of them, so an open connection is terminated as by ONDA_EXIT. COM is
//   only touched when the detaching thread is the one that loaded the link.
// - Process exit: other threads are gone and the server may be unreachable, so nothing
//   that calls COM runs; the rest (log line, lists, texts) does.
#include <mutex>

#include "link/dll/dll_module_win32.h"
#include "link/link_platform_win32.h"
#include "link/win32_api.h"

namespace deruz::link {

namespace {

HMODULE gModule = nullptr;
std::once_flag gLoadOnce;
DWORD gLoadThread = 0;
bool gLoaded = false;

TLink& Instance() {
    static TLink LLink(WindowsLinkPlatform(gModule));
    return LLink;
}

}  // namespace

void SetLinkModule(void* AModule) {
    gModule = static_cast<HMODULE>(AModule);
}

TLink& LoadedLink() {
    std::call_once(gLoadOnce, [] {
        gLoadThread = GetCurrentThreadId();
        Instance().Load();
        gLoaded = true;
    });
    return Instance();
}

bool OnLinkThread() {
    return GetCurrentThreadId() == gLoadThread;
}

void UnloadLink(bool AProcessExit) {
    if (!gLoaded) return;
    gLoaded = false;
    const bool LComAllowed = !AProcessExit && GetCurrentThreadId() == gLoadThread;
    try {
        Instance().Unload(LComAllowed);
    } catch (...) {
    }
}

}  // namespace deruz::link

extern "C" BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID AReserved) {
    switch (AReason) {
        case DLL_PROCESS_ATTACH:
            deruz::link::SetLinkModule(AInstance);
            DisableThreadLibraryCalls(AInstance);
            break;
        case DLL_PROCESS_DETACH:
            deruz::link::UnloadLink(AReserved != nullptr);
            break;
        default:
            break;
    }
    return TRUE;
}
