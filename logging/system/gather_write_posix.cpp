// The gathering send on POSIX stream sockets.
#include "logging/system/gather_write_posix.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace deruz::logging::posix {

std::ptrdiff_t SiGatherSend(int ADescriptor, const void* AFirst, std::size_t AFirstCount,
                            const void* ASecond, std::size_t ASecondCount) noexcept {
    iovec LPieces[2] = {{const_cast<void*>(AFirst), AFirstCount},
                        {const_cast<void*>(ASecond), ASecondCount}};
    msghdr LMessage{};
    LMessage.msg_iov = LPieces;
    LMessage.msg_iovlen = 2;
    for (;;) {
        const ssize_t LSent = ::sendmsg(ADescriptor, &LMessage, MSG_NOSIGNAL);
        if (LSent >= 0 || errno != EINTR) {
            return LSent;
        }
    }
}

}  // namespace deruz::logging::posix
