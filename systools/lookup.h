// Finding processes and windows: the imaging application's running instance by its main
// window class and executable path, a window of a known process, a process's executable path,
// long path names for comparing paths, and the remote-session test.
// All functions are stateless apart from the PSAPI library, which is loaded once on first
// use (thread-safe) and kept for the life of the process. They may be called from any thread
// and never throw: a failing step gives 0, false or an empty text. Window handles are passed
// as std::uintptr_t so that this header needs no Windows headers.
// Everything except StrResetLength is Windows-only.
#pragma once

#include <cstdint>
#include <string>

namespace deruz::systools {

// Search state of GetWindowByClassNameAndPath, handed to the window enumeration.
struct TSearchFindWindowOfClass {
    std::uintptr_t Wnd = 0;                // result; 0 until a window matched
    std::uint32_t WndPid = 0;              // process id of the matched window
    const wchar_t* lpClassName = nullptr;  // class-name prefix to look for
    const wchar_t* lpFullPath = nullptr;   // executable path the window's process must have
};

// Search state of FindWindowOfProcess, handed to the window enumeration.
struct TSearchFindWindowOfProcess {
    std::uint32_t Pid = 0;                  // process whose window is wanted
    std::uintptr_t Wnd = 0;                 // result; 0 until a window matched
    const wchar_t* lpClassName = nullptr;   // exact class name wanted, or null for any
    const wchar_t* lpWindowName = nullptr;  // title wanted, or null or empty for any
};

// The first top-level window (in the system's enumeration order) whose class name begins with
// WndClassNm and whose process runs the executable FullPath, both compared ignoring case
// (locale-aware); paths are compared in their long form, so a short (8.3) FullPath matches.
// Pid receives the window's process id. Returns 0 and sets Pid to 0 when nothing matches or
// either text is empty. A window whose process cannot be opened never matches.
std::uintptr_t GetWindowByClassNameAndPath(const std::wstring& AWndClassNm,
                                           const std::wstring& AFullPath, std::uint32_t& APid);

// The first top-level window of process Pid. With lpClassName, only a window whose class name
// equals it ignoring case; with lpClassName and a non-empty lpWindowName, also only a window
// whose title equals lpWindowName ignoring case (the title is not tested without a class).
// Returns 0 when Pid is 0 or nothing matches.
std::uintptr_t FindWindowOfProcess(std::uint32_t APid, const wchar_t* ALpClassName,
                                   const wchar_t* ALpWindowName);

// The executable path of process Pid, or empty when the process cannot be opened or its path
// cannot be read. GetExeNameFromProcessID is the same call under its older name.
std::wstring GetExeNameFromProcessID(std::uint32_t APid);
std::wstring ProcessFileName(std::uint32_t APid);

// The long form of Path: a path containing "::" is parsed by the shell (ShellGetLongPathName),
// any other by the file system (RtdlGetLongPathName). Path itself when that gives nothing, so
// a path that does not exist comes back unchanged.
std::wstring PathGetLongName(const std::wstring& APath);

// The file-system path the shell makes of Path (shell namespace paths such as
// "::{CLSID}\C:\dir" included), or Path unchanged when the shell cannot parse it or it names
// no file-system object. Parsing shell paths may need COM to be initialised on the calling
// thread, as it is on the link's thread.
std::wstring ShellGetLongPathName(const std::wstring& APath);

// The long form of an existing path from the file system; empty when the path does not exist
// or its long form exceeds 259 characters.
std::wstring RtdlGetLongPathName(const std::wstring& APath);

// Cuts S at its first NUL character, if any (for texts that came back from fixed-size buffers).
void StrResetLength(std::wstring& AS);

// True when the process runs in a remote-desktop session.
bool IsRemoteSession();

}  // namespace deruz::systools
