// The control's system services on Windows: private-profile INI reading, the registry,
// files, names, the session, windows, processes, atoms, monitors, the tick count and the
// thread's message queue.
#include "control/control_platform_win32.h"

#include <windows.h>

#include <iterator>
#include <vector>

#include "logging/base/strings.h"
#include "systools/cursor.h"
#include "systools/lookup.h"
#include "systools/version.h"
#include "systools/wide_text.h"

namespace deruz::control {

namespace {

class TWinIniReader final : public TIniReader {
  public:
    std::int32_t ReadInteger(const std::wstring& File, const std::wstring& Section,
                             const std::wstring& Key, std::int32_t Default) override {
        // The system reads "-5" as the unsigned value of -5; taken back as signed, a minus
        // sign is honoured.
        return static_cast<std::int32_t>(
            GetPrivateProfileIntW(Section.c_str(), Key.c_str(), Default, File.c_str()));
    }
    std::wstring ReadString(const std::wstring& File, const std::wstring& Section,
                            const std::wstring& Key, const std::wstring& Default,
                            std::size_t MaxChars) override {
        std::vector<wchar_t> buffer(MaxChars + 1, L'\0');
        const DWORD n =
            GetPrivateProfileStringW(Section.c_str(), Key.c_str(), Default.c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer.size()), File.c_str());
        return std::wstring(buffer.data(), n > MaxChars ? MaxChars : n);
    }
};

class TWinRegistryReader final : public TRegistryReader {
  public:
    std::optional<std::wstring> ReadText(TRegistryRoot Root, const std::wstring& Key,
                                         const std::wstring& Value) override {
        HKEY root = Root == TRegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, Key.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        struct TKeyCloser {
            HKEY Key;
            ~TKeyCloser() { RegCloseKey(Key); }
        } closer{key};
        DWORD type = 0;
        DWORD bytes = 0;
        const wchar_t* name = Value.empty() ? nullptr : Value.c_str();
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) {
            return std::wstring();
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            throw EControlError(L"Invalid data type for '" + Value + L"'");
        }
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                             &size) != ERROR_SUCCESS) {
            return std::wstring();
        }
        text.resize(size / sizeof(wchar_t));
        if (const auto nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
        return text;
    }
};

class TWinFileSystem final : public TFileSystem {
  public:
    bool FileExists(const std::wstring& Path) override {
        const DWORD a = GetFileAttributesW(Path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool DirectoryExists(const std::wstring& Path) override {
        const DWORD a = GetFileAttributesW(Path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool CopyNew(const std::wstring& From, const std::wstring& To) override {
        return CopyFileW(From.c_str(), To.c_str(), TRUE) != 0;
    }
    std::wstring FileVersion(const std::wstring& Path) override {
        return systools::GetFileVersionFromFile(Path);
    }
};

class TWinSystemInfo final : public TSystemInfo {
  public:
    std::wstring Environment(const std::wstring& Name, std::size_t MaxChars) override {
        std::vector<wchar_t> buffer(MaxChars + 1, L'\0');
        const DWORD n =
            GetEnvironmentVariableW(Name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0 || n >= buffer.size()) {
            // Missing, or longer than the buffer: then the value is read whole and cut.
            if (n == 0) return {};
            std::vector<wchar_t> whole(n + 1, L'\0');
            const DWORD m = GetEnvironmentVariableW(Name.c_str(), whole.data(), n + 1);
            return std::wstring(whole.data(), m < MaxChars ? m : MaxChars);
        }
        return std::wstring(buffer.data(), n);
    }
    std::wstring ComputerName() override {
        wchar_t name[16] = {};
        DWORD size = static_cast<DWORD>(std::size(name));
        if (!GetComputerNameW(name, &size)) return {};
        return std::wstring(name, size);
    }
    std::wstring UserName() override {
        wchar_t name[257] = {};
        DWORD size = static_cast<DWORD>(std::size(name));
        if (!GetUserNameW(name, &size)) return {};
        return std::wstring(name);
    }
    bool IsRemoteSession() override { return systools::IsRemoteSession(); }
    std::uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }
    std::wstring ErrorText(std::uint32_t Code) override {
        return systools::WideFromUtf8(logging::SiSystemMessage(Code));
    }
};

class TWinStartedProcess final : public TStartedProcess {
  public:
    explicit TWinStartedProcess(const PROCESS_INFORMATION& Info) : FInfo(Info) {}
    ~TWinStartedProcess() override {
        CloseHandle(FInfo.hThread);
        CloseHandle(FInfo.hProcess);
    }
    TWinStartedProcess(const TWinStartedProcess&) = delete;
    TWinStartedProcess& operator=(const TWinStartedProcess&) = delete;
    std::uint32_t ProcessId() override { return FInfo.dwProcessId; }
    void WaitForInputIdle(std::uint32_t Milliseconds) override {
        ::WaitForInputIdle(FInfo.hProcess, Milliseconds);
    }

  private:
    PROCESS_INFORMATION FInfo;
};

class TWinDesktop final : public TDesktop {
  public:
    TWindowHandle FindWindowByClassAndPath(const std::wstring& ClassName, const std::wstring& Path,
                                           std::uint32_t& Pid) override {
        return systools::GetWindowByClassNameAndPath(ClassName, Path, Pid);
    }
    TWindowHandle FindWindowOfProcess(std::uint32_t Pid, const std::wstring& ClassName) override {
        return systools::FindWindowOfProcess(Pid, ClassName.c_str(), nullptr);
    }
    std::vector<TMonitorOrigin> Monitors() override {
        std::vector<TMonitorOrigin> origins;
        EnumDisplayMonitors(
            nullptr, nullptr,
            [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
                MONITORINFO info{};
                info.cbSize = sizeof info;
                if (GetMonitorInfoW(monitor, &info)) {
                    reinterpret_cast<std::vector<TMonitorOrigin>*>(data)->push_back(
                        {info.rcMonitor.left, info.rcMonitor.top});
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&origins));
        return origins;
    }
    std::unique_ptr<TStartedProcess> StartProcess(const std::wstring& CommandLine,
                                                  const std::wstring& Folder, std::int32_t X,
                                                  std::int32_t Y, std::uint32_t& Error) override {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USEPOSITION;
        startup.dwX = static_cast<DWORD>(X);
        startup.dwY = static_cast<DWORD>(Y);
        PROCESS_INFORMATION info{};
        std::wstring commandLine = CommandLine;  // the call may write into it
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_DEFAULT_ERROR_MODE, nullptr,
                            Folder.empty() ? nullptr : Folder.c_str(), &startup, &info)) {
            Error = GetLastError();
            return nullptr;
        }
        Error = 0;
        return std::make_unique<TWinStartedProcess>(info);
    }
    bool GlobalAtomExists(const std::wstring& Name) override {
        return GlobalFindAtomW(Name.c_str()) != 0;
    }
    std::uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(std::uint32_t Milliseconds) override { ::Sleep(Milliseconds); }
    void ProcessOneMessage() override {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    void PushWaitCursor() override { systools::PushWaitCursor(); }
    void PopCursor() override { systools::PopCursor(); }
};

}  // namespace

TServerAccess& WindowsServerAccess();

TControlPlatform WindowsControlPlatform() {
    static TWinIniReader ini;
    static TWinRegistryReader registry;
    static TWinFileSystem files;
    static TWinSystemInfo system;
    static TWinDesktop desktop;
    return TControlPlatform{&ini, &registry, &files, &system, &desktop, &WindowsServerAccess()};
}

}  // namespace deruz::control
