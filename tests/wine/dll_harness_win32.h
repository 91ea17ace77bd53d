// Loads the built DeRuz64.dll (it lies beside the test program) for the Wine tests.
#pragma once

#include <ole2.h>
#include <windows.h>

#include <string>

namespace deruz::testing {

// Full path of a file beside this test program.
std::wstring BesideTestProgram(const std::wstring& AName);

// The library, loaded for one test and freed at its end (so every test starts from a
// freshly loaded link).
class TLoadedDll {
  public:
    TLoadedDll();
    // The library at Path (a copy elsewhere: its folder then holds the profile files).
    explicit TLoadedDll(const std::wstring& APath);
    ~TLoadedDll();
    HMODULE Handle() const { return FModule; }
    template <typename F>
    F Export(const char* AName) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(FModule, AName)));
    }

  private:
    HMODULE FModule;
};

}  // namespace deruz::testing
