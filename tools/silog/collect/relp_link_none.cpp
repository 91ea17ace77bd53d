// silog collect without RELP: the builds where librelp cannot be had (there is no build of it
// for Windows among Debian's packages).
#include <stdexcept>

#include "tools/silog/collect/forward_link.h"

namespace deruz::silog::collect {

bool RelpAvailable() noexcept {
    return false;
}

std::unique_ptr<TForwardLink> MakeRelpLink(const TLinkSettings&) {
    throw std::runtime_error(
        "RELP is not available in this build of silog (it needs librelp, which this platform's "
        "build lacks); run the collector on Linux for relp, or use syslog(transport=tls)");
}

}  // namespace deruz::silog::collect
