#include "tests/wine/dll_harness_win32.h"

#include <stdexcept>

namespace deruz::testing {

std::wstring BesideTestProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

TLoadedDll::TLoadedDll() : FModule(LoadLibraryW(BesideTestProgram(L"DeRuz64.dll").c_str())) {
    if (FModule == nullptr) throw std::runtime_error("DeRuz64.dll did not load");
}

TLoadedDll::TLoadedDll(const std::wstring& Path) : FModule(LoadLibraryW(Path.c_str())) {
    if (FModule == nullptr) throw std::runtime_error("DeRuz64.dll did not load from its copy");
}

TLoadedDll::~TLoadedDll() {
    FreeLibrary(FModule);
}

}  // namespace deruz::testing
