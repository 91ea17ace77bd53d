// The protocols every process has: registered, in name order, before the registry's first
// use. Explicit registration (rather than self-registering objects in each protocol's file)
// keeps them from being dropped by the linker from a static library.
#include <memory>

#include "logging/file_protocol.h"
#include "logging/memory_protocol.h"
#include "logging/pipe_protocol.h"
#include "logging/protocol.h"
#include "logging/tcp_protocol.h"
#include "logging/text_protocol.h"

namespace deruz::logging {

void SiRegisterDefaultProtocols() {
    TSiProtocolFactory::RegisterProtocol("file",
                                         [] { return std::make_unique<TSiFileProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("mem",
                                         [] { return std::make_unique<TSiMemoryProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("pipe",
                                         [] { return std::make_unique<TSiPipeProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("tcp", [] { return std::make_unique<TSiTcpProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("text",
                                         [] { return std::make_unique<TSiTextProtocol>(); });
}

}  // namespace deruz::logging
