// TSiConfiguration against the special files of a POSIX system: devices and named pipes are
// refused by their type. A named pipe in particular must not even be opened, since opening one
// waits until a writer comes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "logging/base/errors.h"
#include "logging/config/configuration.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

// The message of the error that loading AName raises, or "loaded".
std::string LoadError(const std::string& AName) {
    try {
        TSiConfiguration LConfig;
        LConfig.LoadFromFile(AName);
    } catch (const ESiError& LAError) {
        return LAError.what();
    }
    return "loaded";
}

TEST(SiConfigurationPosixTest, RefusesDevicesAndNamedPipes) {
    EXPECT_EQ(LoadError("/dev/null"), "Cannot open file \"/dev/null\". Not a regular file");

    const testing::TTempDir LDir;
    const std::string LFifo = LDir.File("fifo.sic");
    ASSERT_EQ(::mkfifo(LFifo.c_str(), 0600), 0);
    auto LResult = std::async(std::launch::async, [&] { return LoadError(LFifo); });
    if (LResult.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "loading a named pipe waits for a writer";
        // Release the waiting open with a writer that goes at once.
        const int LWriter = ::open(LFifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (LWriter >= 0) {
            ::close(LWriter);
        }
    }
    EXPECT_EQ(LResult.get(), "Cannot open file \"" + LFifo + "\". Not a regular file");
}

}  // namespace
}  // namespace deruz::logging
