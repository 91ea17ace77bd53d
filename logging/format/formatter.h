// The formatter interface: turns one packet into the bytes that a protocol writes.
//
// A formatter serves one protocol and is used by one thread at a time. The caller holds the
// packet's lock (TSiPacketLock) around Compile, since compiling reads the packet's data
// stream. Formatters keep no reference to the packet.
#pragma once

#include <cstdint>

#include "logging/base/errors.h"
#include "logging/base/stream.h"
#include "logging/packets/packet.h"

namespace deruz::logging {

// A packet that a formatter cannot represent, such as a body beyond the format's size limit.
class ESiFormatError : public ESiError {
  public:
    using ESiError::ESiError;
};

class TSiFormatter {
  public:
    TSiFormatter() = default;
    TSiFormatter(const TSiFormatter&) = delete;
    TSiFormatter& operator=(const TSiFormatter&) = delete;
    virtual ~TSiFormatter() = default;

    // Prepares the output for APacket and returns the number of bytes that Write will
    // produce for it.
    virtual std::int32_t Compile(TSiPacket& APacket) = 0;

    // Writes the output of the packet compiled last to AStream.
    virtual void Write(TSiStream& AStream) = 0;

    void Format(TSiPacket& APacket, TSiStream& AStream) {
        Compile(APacket);
        Write(AStream);
    }
};

}  // namespace deruz::logging
