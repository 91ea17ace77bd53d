// ondahost: loads DeRuz64.dll (or any library with its exports) by path and calls the
// exports from its arguments or a script, printing every result. See README.md.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "logging/system/system_handles_win32.h"
#include "tools/ondahost/box_recorder_win32.h"
#include "tools/ondahost/script.h"

namespace {

using namespace deruz::ondahost;

using TInit = std::int32_t(WINAPI*)(void*);
using TInitI = std::int32_t(WINAPI*)(const char*, void*, HWND);
using TCommand = std::int32_t(WINAPI*)(const char*);
using TNoArgs = std::int32_t(WINAPI*)();
using TGetStr = const char*(WINAPI*)();
using TGetStrBuf = std::int32_t(WINAPI*)(char*, std::int32_t);

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::string Ansi(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

// The host's message procedure handed to ONDA_INIT2W.
void WINAPI HostProcMsgs() {}

// --- Calls ------------------------------------------------------------------------------

class THost {
  public:
    explicit THost(std::wstring path) : FPath(std::move(path)) {}

    // Runs one call; returns false when the library or the export could not be loaded.
    bool Run(const TCall& call) {
        const std::string verb = Utf8(call.Verb);
        if (call.Verb == L"unload") {
            FLib.Reset();
            std::printf("unload\n");
            return true;
        }
        if (call.Verb == L"window") {
            // The host's own main window, passed as "window" to initi/init2w and brought to
            // the front by the link on the imaging application's wake-up event.
            if (FWindow == nullptr) FWindow = CreateHostWindow();
            std::printf("window -> 0x%llX\n",
                        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(FWindow)));
            return FWindow != nullptr;
        }
        if (call.Verb == L"pump") {
            // Dispatches this thread's messages (the imaging application's posted events
            // arrive here) for the given number of milliseconds.
            const DWORD until = GetTickCount() + std::wcstoul(call.Args[0].c_str(), nullptr, 0);
            while (static_cast<std::int32_t>(until - GetTickCount()) > 0) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                Sleep(10);
            }
            std::printf("pump\n");
            return true;
        }
        if (call.Verb == L"box") {
            const int r =
                MessageBoxW(nullptr, call.Args[1].c_str(), L"ondahost",
                            static_cast<UINT>(std::wcstoul(call.Args[0].c_str(), nullptr, 0)));
            std::printf("box -> %d\n", r);
            return true;
        }
        if (!Load()) return false;
        if (call.Verb == L"getver") return Print(verb, Call<TNoArgs>("ONDA_GETVER"));
        if (call.Verb == L"exit") return Print(verb, Call<TNoArgs>("ONDA_EXIT"));
        if (call.Verb == L"init") return Print(verb, Call<TInit>("ONDA_INIT", nullptr));
        if (call.Verb == L"initi" || call.Verb == L"init2w") {
            const std::string dir = call.Args[0] == L"-" ? std::string() : Ansi(call.Args[0]);
            HWND wnd = nullptr;
            if (call.Args.size() > 1 && call.Args[1] == L"window") {
                wnd = FWindow;
            } else if (call.Args.size() > 1) {
                wnd = reinterpret_cast<HWND>(
                    static_cast<std::uintptr_t>(std::wcstoull(call.Args[1].c_str(), nullptr, 0)));
            }
            // ONDA_INIT2W gets a procedure, as a host that wants the event texts passes one
            // (the link never calls it; its presence switches the texts on).
            const bool init2w = call.Verb == L"init2w";
            return Print(
                verb, Call<TInitI>(init2w ? "ONDA_INIT2W" : "ONDA_INITI",
                                   call.Args[0] == L"-" ? nullptr : dir.c_str(),
                                   init2w ? reinterpret_cast<void*>(&HostProcMsgs) : nullptr, wnd));
        }
        if (call.Verb == L"command") {
            const std::string text = Ansi(call.Args.empty() ? L"" : call.Args[0]);
            return Print(verb, Call<TCommand>("ONDA_COMMAND", text.c_str()));
        }
        if (call.Verb == L"geterrorstr") {
            auto fn = Export<TGetStr>("ONDA_GETERRORSTR");
            if (fn == nullptr) return false;
            const char* text = fn();
            if (text == nullptr) {
                std::printf("geterrorstr -> null\n");
            } else {
                std::printf("geterrorstr -> \"%s\"\n", Escape(text).c_str());
            }
            return true;
        }
        if (call.Verb == L"geterrorstrbuf") {
            auto fn = Export<TGetStrBuf>("ONDA_GETERRORSTRBUF");
            if (fn == nullptr) return false;
            const long n = std::wcstol(call.Args[0].c_str(), nullptr, 0);
            std::vector<char> buf(static_cast<std::size_t>(n > 0 ? n + 1 : 1), '\x7F');
            const std::int32_t r = fn(buf.data(), static_cast<std::int32_t>(n));
            std::printf("geterrorstrbuf -> %d \"%s\"\n", r, Escape(buf.data()).c_str());
            return true;
        }
        return false;
    }

  private:
    bool Load() {
        if (FLib) return true;
        const HMODULE lib = LoadLibraryW(FPath.c_str());
        if (lib == nullptr) {
            std::fprintf(stderr, "ondahost: cannot load %s (error %lu)\n", Utf8(FPath).c_str(),
                         GetLastError());
            return false;
        }
        FLib.Reset(lib);
        return true;
    }

    template <typename F>
    F Export(const char* name) {
        auto fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(FLib.Get(), name)));
        if (fn == nullptr) std::fprintf(stderr, "ondahost: no export %s\n", name);
        return fn;
    }

    template <typename F, typename... A>
    std::optional<std::int32_t> Call(const char* name, A... args) {
        auto fn = Export<F>(name);
        if (fn == nullptr) return std::nullopt;
        return fn(args...);
    }

    static bool Print(const std::string& verb, std::optional<std::int32_t> result) {
        if (!result) return false;
        std::printf("%s -> %d\n", verb.c_str(), *result);
        std::fflush(stdout);
        return true;
    }

    static HWND CreateHostWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OndaHostWindow";
        RegisterClassW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, L"ondahost", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                               300, nullptr, nullptr, wc.hInstance, nullptr);
    }

    std::wstring FPath;
    // Unloaded by the "unload" call or when the host ends.
    deruz::logging::TSiUniqueHModule FLib;
    HWND FWindow = nullptr;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: ondahost [--boxes] [--script FILE] DLLPATH [CALL ...]\n"
                 "calls: getver | init | initi DIR [HWND] | init2w DIR [HWND] | command TEXT |\n"
                 "       geterrorstr | geterrorstrbuf N | exit | unload | box STYLE TEXT |\n"
                 "       window | pump MS\n"
                 "HWND \"window\" passes the window made by the call \"window\".\n"
                 "DIR \"-\" passes no folder. --boxes prints and dismisses message boxes.\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool boxes = false;
    std::wstring script;
    std::wstring dll;
    std::vector<std::wstring> lines;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--help" || a == L"-h") {
            Usage();
            return 0;
        }
        if (a == L"--boxes") {
            boxes = true;
        } else if (a == L"--script" && i + 1 < argc) {
            script = argv[++i];
        } else if (dll.empty()) {
            dll = a;
        } else {
            lines.push_back(a);
        }
    }
    if (dll.empty()) return Usage();
    if (!script.empty()) {
        std::wifstream in(Utf8(script));
        if (!in) {
            std::fprintf(stderr, "ondahost: cannot read %s\n", Utf8(script).c_str());
            return 2;
        }
        std::wstring line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            lines.push_back(line);
        }
    }
    std::optional<TBoxRecorder> recorder;
    if (boxes) {
        recorder.emplace([](const TRecordedBox& box) {
            std::printf("box: style=0x%04X caption=\"%s\" text=\"%s\"\n", box.Style,
                        Escape(Utf8(box.Caption)).c_str(), Escape(Utf8(box.Text)).c_str());
            std::fflush(stdout);
        });
    }

    int status = 0;
    {
        THost host(dll);
        for (const auto& line : lines) {
            try {
                const auto call = ParseCall(line);
                if (call && !host.Run(*call)) {
                    status = 2;
                    break;
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "ondahost: %s\n", e.what());
                status = 2;
                break;
            }
        }
    }
    return status;
}
