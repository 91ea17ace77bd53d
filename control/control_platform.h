// The system services that the link's configuration and the imaging-application control
// use, each behind a small interface named for what it does. The Windows build implements
// them with the real calls (control_platform_win32.cpp); the native tests use fakes that
// record calls and produce cases Wine cannot (a remote session, two monitors, a tick
// counter about to wrap).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/control_types.h"
#include "control/server_connection.h"

namespace deruz::control {

// Reading INI files through the system's private-profile functions. A missing file,
// section or key gives the default.
class TIniReader {
  public:
    virtual ~TIniReader() = default;
    // The integer of the key (a minus sign is honoured), or Default.
    virtual std::int32_t ReadInteger(const std::wstring& AFile, const std::wstring& ASection,
                                     const std::wstring& AKey, std::int32_t ADefault) = 0;
    // The text of the key, cut to MaxChars characters, or Default.
    virtual std::wstring ReadString(const std::wstring& AFile, const std::wstring& ASection,
                                    const std::wstring& AKey, const std::wstring& ADefault,
                                    std::size_t AMaxChars) = 0;
};

enum class TRegistryRoot { ClassesRoot, CurrentUser };

// Reading the registry without writing it.
class TRegistryReader {
  public:
    virtual ~TRegistryReader() = default;
    // Opens Key with all-access rights (without creating it) and reads the text value
    // Value ("" for the key's default value). Nothing when the key does not open; an empty
    // text when the value is missing. A value of a non-text type raises an error.
    virtual std::optional<std::wstring> ReadText(TRegistryRoot ARoot, const std::wstring& AKey,
                                                 const std::wstring& AValue) = 0;
};

// Files and folders.
class TFileSystem {
  public:
    virtual ~TFileSystem() = default;
    virtual bool FileExists(const std::wstring& APath) = 0;
    virtual bool DirectoryExists(const std::wstring& APath) = 0;
    // Copies From to To unless To exists; false when nothing was copied.
    virtual bool CopyNew(const std::wstring& AFrom, const std::wstring& ATo) = 0;
    // The file version text of a file ("" when it has none).
    virtual std::wstring FileVersion(const std::wstring& APath) = 0;
};

// Facts about this process, its session and its user.
class TSystemInfo {
  public:
    virtual ~TSystemInfo() = default;
    // The variable's value cut to MaxChars characters; empty when it is not set.
    virtual std::wstring Environment(const std::wstring& AName, std::size_t AMaxChars) = 0;
    // The computer name read into a 16-character buffer; empty when it does not fit.
    virtual std::wstring ComputerName() = 0;
    // The calling thread's user name read into a 257-character buffer; empty on failure.
    virtual std::wstring UserName() = 0;
    virtual bool IsRemoteSession() = 0;
    virtual std::uint32_t CurrentProcessId() = 0;
    // The system's message text for an error code ("" when it has none).
    virtual std::wstring ErrorText(std::uint32_t ACode) = 0;
};

// A process the link started; its handles are closed when the object goes away.
class TStartedProcess {
  public:
    virtual ~TStartedProcess() = default;
    virtual std::uint32_t ProcessId() = 0;
    // Waits at most Milliseconds until the process waits for input; the outcome is not used.
    virtual void WaitForInputIdle(std::uint32_t AMilliseconds) = 0;
};

struct TMonitorOrigin {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
};

// The desktop: windows, processes, atoms, monitors, the clock and the thread's messages.
class TDesktop {
  public:
    virtual ~TDesktop() = default;
    // The first top-level window whose class begins with ClassName and whose process runs
    // the executable Path (0 when none); Pid receives its process id.
    virtual TWindowHandle FindWindowByClassAndPath(const std::wstring& AClassName,
                                                   const std::wstring& APath,
                                                   std::uint32_t& APid) = 0;
    // The first top-level window of the process whose class equals ClassName (0: none).
    virtual TWindowHandle FindWindowOfProcess(std::uint32_t APid,
                                              const std::wstring& AClassName) = 0;
    // The left and top corners of the monitors, in the system's enumeration order.
    virtual std::vector<TMonitorOrigin> Monitors() = 0;
    // Starts CommandLine in Folder with the window placed at X, Y. Null when the process
    // could not be created; Error then holds the system's error code.
    virtual std::unique_ptr<TStartedProcess> StartProcess(const std::wstring& ACommandLine,
                                                          const std::wstring& AFolder,
                                                          std::int32_t AX, std::int32_t AY,
                                                          std::uint32_t& AError) = 0;
    virtual bool GlobalAtomExists(const std::wstring& AName) = 0;
    // Milliseconds since the system started, wrapping at 32 bits.
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t AMilliseconds) = 0;
    // Takes at most one pending message of the calling thread off its queue and
    // dispatches it (the link's LocalProcMsgs).
    virtual void ProcessOneMessage() = 0;
    // Shows the wait cursor / brings back the cursor shown before.
    virtual void PushWaitCursor() = 0;
    virtual void PopCursor() = 0;
};

// Reaching the imaging application's automation server.
class TServerAccess {
  public:
    virtual ~TServerAccess() = default;
    // Asks the application's window for its server interface through the shared-memory
    // block named for Pid; raises an error with the exact text of the step that failed.
    virtual std::unique_ptr<TServerInterface> FetchMarshalled(TWindowHandle AOxWnd,
                                                              std::uint32_t APid) = 0;
    // A new, unconnected proxy.
    virtual std::unique_ptr<TServerConnection> NewProxy() = 0;
};

// The set of services one link instance uses. Not owned.
struct TControlPlatform {
    TIniReader* Ini = nullptr;
    TRegistryReader* Registry = nullptr;
    TFileSystem* Files = nullptr;
    TSystemInfo* System = nullptr;
    TDesktop* Desktop = nullptr;
    TServerAccess* Server = nullptr;
};

}  // namespace deruz::control
