// The gathering send shared by the POSIX pipe client and the POSIX TCP socket: both are
// stream sockets, and both send a packet's header and body with one system call.
//
// Thread safety: keeps no state; one socket is used by one thread at a time.
#pragma once

#include <cstddef>

namespace deruz::logging::posix {

// Sends AFirst and then ASecond on the connected stream socket ADescriptor with one sendmsg,
// again when a signal interrupted it before anything was sent. A peer that has gone raises no
// SIGPIPE (the send fails with EPIPE instead). Returns the bytes of both pieces sent, which may
// be fewer than asked (the caller sends the rest), or -1 with errno set.
std::ptrdiff_t SiGatherSend(int ADescriptor, const void* AFirst, std::size_t AFirstCount,
                            const void* ASecond, std::size_t ASecondCount) noexcept;

}  // namespace deruz::logging::posix
