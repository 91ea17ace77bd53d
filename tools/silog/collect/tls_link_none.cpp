// A build without OpenSSL (the Windows build): no TLS.
#include <stdexcept>

#include "tools/silog/collect/forward_link.h"

namespace deruz::silog::collect {

bool TlsAvailable() noexcept {
    return false;
}

std::unique_ptr<TForwardLink> MakeTlsLink(const TLinkSettings&) {
    throw std::runtime_error("TLS is not available in this build of silog");
}

}  // namespace deruz::silog::collect
