// The end-to-end set-up under Wine: the built DeRuz64.dll loaded into the test process, a
// configuration folder of the test's own, imaging-sim as the imaging application (its call
// log read back), and every message box recorded and dismissed.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/wine/dll_harness_win32.h"
#include "tools/ondahost/box_recorder_win32.h"

namespace deruz::testing {

using TInitI = std::int32_t(WINAPI*)(const char*, void*, HWND);
using TCommand = std::int32_t(WINAPI*)(const char*);
using TNoArgs = std::int32_t(WINAPI*)();
using TGetStr = const char*(WINAPI*)();
using TGetStrBuf = std::int32_t(WINAPI*)(char*, std::int32_t);

std::string Utf8(const std::wstring& AText);

// A temporary folder, removed with its files at the end.
class TTempFolder {
  public:
    TTempFolder();
    ~TTempFolder();
    const std::wstring& Path() const { return FPath; }  // with a trailing backslash
    std::wstring File(const std::wstring& AName) const { return FPath + AName; }

  private:
    std::wstring FPath;
};

// Writes a whole text file (UTF-8 without BOM; the INI files here are ASCII).
void WriteTextFile(const std::wstring& APath, const std::string& AText);
// The lines of a text file; none when it does not exist.
std::vector<std::string> ReadLines(const std::wstring& APath);

// Ends every imaging-sim process (found by its window class) and waits until each is gone:
// Kill as a crash does, Close by closing its window (killing what does not end in 5 s).
void KillImagingSims();
void CloseImagingSims();
// Process ids of the running imaging-sim instances.
std::vector<DWORD> RunningImagingSims();

// The link as a host drives it: loaded for one test, with boxes recorded.
class TLinkHost {
  public:
    // Loads the library beside the test program, or the one at DllPath.
    explicit TLinkHost(const std::wstring& ADllPath = L"");
    ~TLinkHost();

    std::int32_t InitI(const std::wstring& AFolder, HWND AWnd);
    std::int32_t Init2W(const std::wstring& AFolder, HWND AWnd);
    std::int32_t Command(const std::string& AText);
    std::int32_t Exit();
    std::string ErrorStr();
    template <typename F>
    F Export(const char* AName) const {
        return FDll->Export<F>(AName);
    }
    void Unload();
    // Dispatches this thread's messages for the given time.
    void Pump(DWORD AMilliseconds);

    std::vector<ondahost::TRecordedBox> Boxes;
    // Runs while each box is still up (inside the link call that shows it), after the box
    // was recorded: the host's code running in the middle of a link call.
    std::function<void()> DuringBox;
    // The text a box of the link shows for a message: library path and version first.
    std::wstring BoxText(const std::wstring& AMessage) const;
    // The messages of the recorded boxes (the prefix removed), in order.
    std::vector<std::wstring> BoxMessages() const;

  private:
    std::optional<TLoadedDll> FDll;
    std::optional<ondahost::TBoxRecorder> FRecorder;
    std::wstring FBoxPrefix;
};

inline std::string Narrow(const std::wstring& AText) {
    return Utf8(AText);
}

// One end-to-end test: a configuration folder, imaging-sim logging into it, a host.
class LinkE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        CloseImagingSims();
        SetEnvironmentVariableW(L"IMAGING_SIM_LOG", SimLogPath().c_str());
        SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", nullptr);
    }
    void TearDown() override {
        FHost.reset();
        CloseImagingSims();
        SetEnvironmentVariableW(L"IMAGING_SIM_LOG", nullptr);
        SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", nullptr);
    }

    std::wstring SimLogPath() const { return FFolder.File(L"sim.log"); }
    std::vector<std::string> SimLog() const { return ReadLines(SimLogPath()); }
    // The lines of the sim's log that begin with Prefix.
    std::vector<std::string> SimLines(const std::string& APrefix) const {
        std::vector<std::string> LLines;
        for (const auto& LLine : SimLog()) {
            if (LLine.rfind(APrefix, 0) == 0) LLines.push_back(LLine);
        }
        return LLines;
    }
    static std::wstring Sim(bool AOld = false) {
        return BesideTestProgram(AOld ? L"imaging-sim-old.exe" : L"imaging-sim.exe");
    }
    // The main configuration file in the test's folder: section OndarixDDE with the given
    // lines (each "key=value"), and optionally a Profiles section.
    void WriteIni(const std::string& AKeys, const std::string& AProfiles = "") {
        WriteTextFile(FFolder.File(L"deruz64.ini"),
                      "[OndarixDDE]\r\n" + AKeys + "\r\n[Profiles]\r\n" + AProfiles + "\r\n");
    }
    // The configuration for starting imaging-sim from the test's folder.
    std::string SimKeys(bool AOld = false) const {
        return "oxprogram=" + Narrow(Sim(AOld)) + "\r\noxworkingdir=" + Narrow(FFolder.Path()) +
               "\r\n";
    }
    TLinkHost& Host() {
        if (!FHost) FHost.emplace();
        return *FHost;
    }

    TTempFolder FFolder;
    std::optional<TLinkHost> FHost;
};

}  // namespace deruz::testing
