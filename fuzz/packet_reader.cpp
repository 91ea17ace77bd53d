// The binary packet reader over a byte stream of packets. A malformed packet raises
// ESiPacketFormatError; nothing else may go wrong. Properties: every packet the reader accepts
// encodes again (SiFormatBinary) to exactly the bytes it was read from, and the complete size
// that the reader announces for the next packet is the size it then reads.
#include "logging/viewer/packet_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "logging/format/binary_formatter.h"

using namespace deruz::logging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    // A copy of exactly the input's size, so that a read beyond it is seen by the sanitizer.
    const std::vector<std::uint8_t> LBytes(AData, AData + ASize);
    const std::span<const std::uint8_t> LAll(LBytes);
    TSiBinaryPacketReader LReader(LAll);
    while (!LReader.AtEnd()) {
        const std::size_t LStart = LReader.GetPosition();
        std::size_t LAnnounced = 0;
        try {
            LAnnounced = TSiBinaryPacketReader::CompletePacketSize(LAll.subspan(LStart), LStart);
        } catch (const ESiPacketFormatError&) {
        }
        TSiPacketPtr LPacket;
        try {
            LPacket = LReader.ReadPacket();
        } catch (const ESiPacketFormatError&) {
            break;
        }
        const std::size_t LEnd = LReader.GetPosition();
        if (LAnnounced != 0 && LAnnounced != LEnd - LStart) {
            deruz::fuzz::Fail("the announced size differs from the size read",
                              std::to_string(LAnnounced) + " != " + std::to_string(LEnd - LStart));
        }
        const std::vector<std::uint8_t> LEncoded = SiFormatBinary(*LPacket);
        if (LEncoded.size() != LEnd - LStart ||
            std::memcmp(LEncoded.data(), LBytes.data() + LStart, LEncoded.size()) != 0) {
            deruz::fuzz::Fail("an accepted packet does not re-encode to its bytes",
                              "at offset " + std::to_string(LStart) + ", " +
                                  std::to_string(LEnd - LStart) + " bytes read, " +
                                  std::to_string(LEncoded.size()) + " encoded");
        }
    }
    return 0;
}
