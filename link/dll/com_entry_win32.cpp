// The standard in-process COM entry points of a server that has no classes: the type
// library resource is carried as data only, so nothing can be created, registered or
// unregistered through them.
#include "link/win32_api.h"

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, LPVOID* APpv) {
    if (APpv != nullptr) *APpv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// No COM object or class factory of this library can be alive.
HRESULT WINAPI DllCanUnloadNow() {
    return S_OK;
}

HRESULT WINAPI DllRegisterServer() {
    return S_OK;
}

HRESULT WINAPI DllUnregisterServer() {
    return S_OK;
}

}  // extern "C"
