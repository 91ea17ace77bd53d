#include "tests/wine/dll_harness_win32.h"

#include <stdexcept>

namespace deruz::testing {

std::wstring BesideTestProgram(const std::wstring& AName) {
    wchar_t LPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    std::wstring LDir(LPath);
    LDir.resize(LDir.find_last_of(L"\\/") + 1);
    return LDir + AName;
}

TLoadedDll::TLoadedDll() : FModule(LoadLibraryW(BesideTestProgram(L"DeRuz64.dll").c_str())) {
    if (FModule == nullptr) throw std::runtime_error("DeRuz64.dll did not load");
}

TLoadedDll::TLoadedDll(const std::wstring& APath) : FModule(LoadLibraryW(APath.c_str())) {
    if (FModule == nullptr) throw std::runtime_error("DeRuz64.dll did not load from its copy");
}

TLoadedDll::~TLoadedDll() {
    FreeLibrary(FModule);
}

}  // namespace deruz::testing
