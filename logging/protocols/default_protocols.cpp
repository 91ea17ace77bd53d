// The protocols every process has: registered, in name order, before the registry's first
// use. Explicit registration (rather than self-registering objects in each protocol's file)
// keeps them from being dropped by the linker from a static library.
#include <memory>

#include "logging/protocols/file_protocol.h"
#include "logging/protocols/memory_protocol.h"
#include "logging/protocols/pipe_protocol.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/syslog_protocol.h"
#include "logging/protocols/tcp_protocol.h"
#include "logging/protocols/text_protocol.h"

namespace deruz::logging {

void SiRegisterDefaultProtocols() {
    TSiProtocolFactory::RegisterProtocol("file", [] { return SiMakeProtocol<TSiFileProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("mem", [] { return SiMakeProtocol<TSiMemoryProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("pipe", [] { return SiMakeProtocol<TSiPipeProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("syslog",
                                         [] { return SiMakeProtocol<TSiSyslogProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("tcp", [] { return SiMakeProtocol<TSiTcpProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("text", [] { return SiMakeProtocol<TSiTextProtocol>(); });
}

}  // namespace deruz::logging
