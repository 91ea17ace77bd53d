// Where the pipe's stand-in socket lives on POSIX systems, and what a viewer does with a socket
// file that an earlier viewer left behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "logging/system/pipe_transport.h"
#include "logging/viewer/viewer_server.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

// Sets an environment variable for the lifetime of the object.
class TEnvironment {
  public:
    TEnvironment(const char* AName, const char* AValue) : FName(AName) {
        if (const char* LOld = ::getenv(AName)) {
            FOld = LOld;
            FHadOld = true;
        }
        if (AValue != nullptr) {
            ::setenv(AName, AValue, 1);
        } else {
            ::unsetenv(AName);
        }
    }
    ~TEnvironment() {
        if (FHadOld) {
            ::setenv(FName.c_str(), FOld.c_str(), 1);
        } else {
            ::unsetenv(FName.c_str());
        }
    }

  private:
    std::string FName;
    std::string FOld;
    bool FHadOld = false;
};

TEST(PipeSocketPathTest, FolderAndNameMapping) {
    const std::string LFallback = "/tmp/silog-" + std::to_string(::geteuid()) + "/";
    struct Case {
        const char* Runtime;
        const char* Name;
        std::string Expected;
    };
    const Case LCases[] = {
        {"/run/user/7", "silog", "/run/user/7/silog/silog"},
        {nullptr, "silog", LFallback + "silog"},
        {"relative/dir", "silog", LFallback + "silog"},
        // Case is ignored, as by Windows pipe names; anything that could leave the folder or
        // clash with another name is escaped.
        {"/r", "SiLog.Main_2-x", "/r/silog/silog.main_2-x"},
        {"/r", "../x", "/r/silog/%2E.%2Fx"},
        {"/r", "a b%", "/r/silog/a%20b%25"},
        {"/r", "\xC3\xA9", "/r/silog/%C3%A9"},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        TEnvironment LRuntime("XDG_RUNTIME_DIR", LCase.Runtime);
        EXPECT_EQ(SiPipeSocketPath(LCase.Name), LCase.Expected);
    }
}

TEST(PipeSocketPathTest, ViewerReplacesAStaleSocketFile) {
    const std::string LName = testing::UniquePipeName();
    {
        TSiViewerServer LPrepare(testing::PipeViewer(LName));
        LPrepare.Start();
    }
    // A socket bound and closed without removing its file, as by a viewer that was killed.
    const std::string LPath = SiPipeSocketPath(LName);
    const int LSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    LPath.copy(LAddress.sun_path, LPath.size());
    ASSERT_EQ(::bind(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof LAddress), 0);
    ::close(LSocket);
    ASSERT_EQ(::access(LPath.c_str(), F_OK), 0);

    testing::TViewerRecord LViewer(testing::PipeViewer(LName));
    LViewer.Server().Start();
    auto LProtocol = testing::MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    LProtocol->Connect();
    EXPECT_TRUE(LViewer.WaitEvent("header:app@host"));
    LProtocol->Disconnect();
    LViewer.Server().Stop();
    EXPECT_NE(::access(LPath.c_str(), F_OK), 0) << "the viewer left its socket file";
}

}  // namespace
}  // namespace deruz::logging
