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

std::string Utf8(const std::wstring& text);

// A temporary folder, removed with its files at the end.
class TTempFolder {
  public:
    TTempFolder();
    ~TTempFolder();
    const std::wstring& Path() const { return FPath; }  // with a trailing backslash
    std::wstring File(const std::wstring& name) const { return FPath + name; }

  private:
    std::wstring FPath;
};

// Writes a whole text file (UTF-8 without BOM; the INI files here are ASCII).
void WriteTextFile(const std::wstring& path, const std::string& text);
// The lines of a text file; none when it does not exist.
std::vector<std::string> ReadLines(const std::wstring& path);

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
    explicit TLinkHost(const std::wstring& DllPath = L"");
    ~TLinkHost();

    std::int32_t InitI(const std::wstring& folder, HWND wnd);
    std::int32_t Init2W(const std::wstring& folder, HWND wnd);
    std::int32_t Command(const std::string& text);
    std::int32_t Exit();
    std::string ErrorStr();
    template <typename F>
    F Export(const char* name) const {
        return FDll->Export<F>(name);
    }
    void Unload();
    // Dispatches this thread's messages for the given time.
    void Pump(DWORD milliseconds);

    std::vector<ondahost::TRecordedBox> Boxes;
    // Runs while each box is still up (inside the link call that shows it), after the box
    // was recorded: the host's code running in the middle of a link call.
    std::function<void()> DuringBox;
    // The text a box of the link shows for a message: library path and version first.
    std::wstring BoxText(const std::wstring& message) const;
    // The messages of the recorded boxes (the prefix removed), in order.
    std::vector<std::wstring> BoxMessages() const;

  private:
    std::optional<TLoadedDll> FDll;
    std::optional<ondahost::TBoxRecorder> FRecorder;
    std::wstring FBoxPrefix;
};

inline std::string Narrow(const std::wstring& text) {
    return Utf8(text);
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
        host.reset();
        CloseImagingSims();
        SetEnvironmentVariableW(L"IMAGING_SIM_LOG", nullptr);
        SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", nullptr);
    }

    std::wstring SimLogPath() const { return folder.File(L"sim.log"); }
    std::vector<std::string> SimLog() const { return ReadLines(SimLogPath()); }
    // The lines of the sim's log that begin with Prefix.
    std::vector<std::string> SimLines(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const auto& line : SimLog()) {
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        }
        return lines;
    }
    static std::wstring Sim(bool old = false) {
        return BesideTestProgram(old ? L"imaging-sim-old.exe" : L"imaging-sim.exe");
    }
    // The main configuration file in the test's folder: section OndarixDDE with the given
    // lines (each "key=value"), and optionally a Profiles section.
    void WriteIni(const std::string& keys, const std::string& profiles = "") {
        WriteTextFile(folder.File(L"deruz64.ini"),
                      "[OndarixDDE]\r\n" + keys + "\r\n[Profiles]\r\n" + profiles + "\r\n");
    }
    // The configuration for starting imaging-sim from the test's folder.
    std::string SimKeys(bool old = false) const {
        return "oxprogram=" + Narrow(Sim(old)) + "\r\noxworkingdir=" + Narrow(folder.Path()) +
               "\r\n";
    }
    TLinkHost& Host() {
        if (!host) host.emplace();
        return *host;
    }

    TTempFolder folder;
    std::optional<TLinkHost> host;
};

}  // namespace deruz::testing
