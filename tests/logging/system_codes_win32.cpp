// The Windows error codes that the viewer protocol tests expect texts for.
#include <windows.h>
#include <winsock2.h>

#include "tests/logging/viewer_peer.h"

namespace deruz::logging::testing {

int TestFileNotFoundCode() {
    return ERROR_FILE_NOT_FOUND;
}
int TestConnectionRefusedCode() {
    return WSAECONNREFUSED;
}
int TestTimedOutCode() {
    return WSAETIMEDOUT;
}

}  // namespace deruz::logging::testing
