// silog dump over a file of any bytes: plain log files ("SILF" and packets), text logs, and
// whatever else. Byte 0 picks the options (resynchronisation, JSON, a full pattern); the rest
// is the file. Damage is reported by dump, never a crash.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/dump_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    deruz::fuzz::RunDumpOver(std::vector<std::uint8_t>(AData + 1, AData + ASize),
                             deruz::fuzz::DumpOptions(AData[0]));
    return 0;
}
