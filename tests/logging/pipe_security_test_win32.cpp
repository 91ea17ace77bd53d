// The client end of the viewer pipe as a server of the pipe sees it: it may learn who the
// client is, never act as it. A test server takes the client, reads its first byte and asks
// for the impersonation level that its token gives.
#include <gtest/gtest.h>
#include <windows.h>

#include <future>
#include <string>
#include <thread>

#include "logging/base/strings.h"
#include "logging/base/unique_handle_win32.h"
#include "logging/system/pipe_transport.h"

namespace deruz::logging {
namespace {

// The impersonation level that a server of a fresh pipe gets from a client that AOpen connects
// (AOpen opens the pipe at the path, writes one byte and calls its second argument, which holds
// the client connected until the server has read its level); -1 when it could not be read.
template <class F>
int LevelSeenByServer(const std::string& AName, F AOpen) {
    const std::u16string LPath = SiUtf8ToUtf16(SiPipeSocketPath(AName));
    const TSiUniqueHFile LServer(CreateNamedPipeW(reinterpret_cast<const wchar_t*>(LPath.c_str()),
                                                  PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                                  4096, 4096, 0, nullptr));
    if (!LServer) {
        return -1;
    }
    // A server cannot act as a client that has gone: the client stays until the level is read.
    std::promise<void> LLevelRead;
    const std::shared_future<void> LRead = LLevelRead.get_future().share();
    std::thread LOpener(
        [&] { AOpen(reinterpret_cast<const wchar_t*>(LPath.c_str()), [LRead] { LRead.wait(); }); });
    const BOOL LConnected =
        ConnectNamedPipe(LServer.Get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    char LByte = 0;
    DWORD LBytesRead = 0;
    const BOOL LGotByte = LConnected && ReadFile(LServer.Get(), &LByte, 1, &LBytesRead, nullptr);
    const auto LDone = [&](int ALevel) {
        LLevelRead.set_value();
        LOpener.join();
        return ALevel;
    };
    // The server asks to act as the client; the token it gets says how far it may.
    if (!LGotByte || !ImpersonateNamedPipeClient(LServer.Get())) {
        return LDone(-1);
    }
    HANDLE LToken = nullptr;
    SECURITY_IMPERSONATION_LEVEL LLevel = SecurityAnonymous;
    DWORD LSize = 0;
    const BOOL LAsked =
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &LToken) &&
        GetTokenInformation(LToken, TokenImpersonationLevel, &LLevel, sizeof LLevel, &LSize);
    RevertToSelf();
    if (LToken != nullptr) {
        CloseHandle(LToken);
    }
    return LDone(LAsked ? static_cast<int>(LLevel) : -1);
}

TEST(PipeSecurityTest, ServerGetsIdentificationLevelOnly) {
    const std::string LName = "deruz-sqos-" + std::to_string(GetCurrentProcessId());
    // First the system itself: a client that asks for the identification level by hand. Where
    // the system does not honour the level a client asks for (Wine gives every server the
    // impersonation level), there is nothing to learn about our client.
    const int LSystem = LevelSeenByServer(LName + "-raw", [](const wchar_t* APath, auto AHold) {
        const TSiUniqueHFile LClient(
            CreateFileW(APath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        DWORD LWritten = 0;
        WriteFile(LClient.Get(), "x", 1, &LWritten, nullptr);
        AHold();
    });
    ASSERT_NE(LSystem, -1);
    if (LSystem != SecurityIdentification) {
        GTEST_SKIP() << "this system gives a pipe server impersonation level " << LSystem
                     << " whatever level the client asks for";
    }

    const int LOurs = LevelSeenByServer(LName, [&](const wchar_t*, auto AHold) {
        TSiPipeHandle LClient;
        if (LClient.Open(LName) == 0) {
            LClient.Write("x", 1);
        }
        AHold();
    });
    EXPECT_EQ(LOurs, SecurityIdentification);
}

}  // namespace
}  // namespace deruz::logging
