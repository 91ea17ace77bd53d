// Starting, watching and stopping imaging-sim for the proxy tests, and pumping this thread's
// messages while waiting. The tests run on the main thread, which joins a single-threaded
// apartment for the whole program.
#pragma once

#include <ole2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/ox3server_proxy_win32.h"

namespace deruz::testing {

// Full path of a file beside this test program.
std::wstring BesideTestProgram(const std::wstring& AName);

std::string Utf8(const std::wstring& AText);

// Runs this thread's messages until Done() is true or TimeoutMs passed; returns Done().
bool PumpUntil(const std::function<bool()>& ADone, DWORD ATimeoutMs = 10000);

// The log of one imaging-sim process: a fresh temporary file, deleted at the end.
class TSimLog {
  public:
    TSimLog();
    ~TSimLog();
    TSimLog(const TSimLog&) = delete;
    TSimLog& operator=(const TSimLog&) = delete;

    const std::wstring& Path() const { return FPath; }
    std::vector<std::string> Lines() const;
    // Index of the first line at or after From that begins with Prefix, or -1.
    int Find(const std::string& APrefix, int AFrom = 0) const;
    int Count(const std::string& APrefix) const;
    bool Has(const std::string& APrefix) const { return Find(APrefix) >= 0; }
    // Waits (pumping messages) until a line begins with Prefix.
    bool WaitFor(const std::string& APrefix, DWORD ATimeoutMs = 10000) const;
    // The process ids of the "start" lines.
    std::vector<DWORD> Pids() const;
    std::string Text() const;

  private:
    std::wstring FPath;
};

// One imaging-sim process with its own log. Started with IMAGING_SIM_LOG and
// IMAGING_SIM_OPTIONS in its environment; stopped (WM_CLOSE, then killed if it lingers) when
// the object goes.
class TSim {
  public:
    struct TStart {
        std::wstring Options;
        std::wstring Exe = L"imaging-sim.exe";
        std::wstring Arguments = L"-dde -pid:" + std::to_wstring(GetCurrentProcessId());
        DWORD Flags = 0;  // STARTUPINFO flags (position below)
        DWORD X = 0, Y = 0;
        bool WaitRunning = true;  // until the log says "running"
    };

    TSim();
    explicit TSim(const TStart& AStart);
    ~TSim();
    TSim(const TSim&) = delete;
    TSim& operator=(const TSim&) = delete;

    TSimLog& Log() { return FLog; }
    DWORD Pid() const { return FPid; }
    HANDLE Process() const { return FProcess; }
    // The top-level window of the process (any class), or null.
    HWND Window() const;
    bool WaitExit(DWORD ATimeoutMs = 10000) const;
    // Posts WM_CLOSE and waits; kills the process when it does not end.
    void Stop();
    // Takes over a process that COM started with this log in its environment.
    void Adopt(DWORD APid);

  private:
    TSimLog FLog;
    HANDLE FProcess = nullptr;
    DWORD FPid = 0;
};

// Points IMAGING_SIM_LOG (and IMAGING_SIM_OPTIONS) of this process at a log for as long as it
// lives, so that a sim started by COM on this process's behalf writes there.
class TSimEnvironment {
  public:
    TSimEnvironment(const std::wstring& ALogPath, const std::wstring& AOptions);
    ~TSimEnvironment();
};

// The system's message text for a status code, trimmed of trailing blanks, line breaks and
// dots; empty when there is none.
std::string SystemText(HRESULT ACode);

// What the sim's window answered to the hand-over message: its return value and the block
// "Ox3Server" + this process id (5000 bytes, count preset to 0xFFFF to see an untouched block).
struct THandover {
    LRESULT Result = 0;
    unsigned Count = 0;
    std::vector<BYTE> Data;  // the bytes after the count, at most 4998
};
THandover RequestHandover(HWND AWindow);

// Unmarshals an Iox3server reference from hand-over bytes.
HRESULT UnmarshalServer(const std::vector<BYTE>& AData, server::ComPtr<Iox3server>& AServer);

}  // namespace deruz::testing
