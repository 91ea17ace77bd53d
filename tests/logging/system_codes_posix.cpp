// The POSIX error codes that the viewer protocol tests expect texts for.
#include <errno.h>

#include "tests/logging/viewer_peer.h"

namespace deruz::logging::testing {

int TestFileNotFoundCode() {
    return ENOENT;
}
int TestConnectionRefusedCode() {
    return ECONNREFUSED;
}
int TestTimedOutCode() {
    return ETIMEDOUT;
}

}  // namespace deruz::logging::testing
