// The option readers of every protocol: the first byte picks the protocol, the rest is its
// options text. Initialize may reject the text (ESiError) and nothing else may go wrong.
// Property: the options a protocol prints (GetOptions) initialise a new protocol of the same
// class that prints the same text, so a printed configuration always reads back as it was.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "logging/base/errors.h"
#include "logging/protocols/protocol.h"

using namespace deruz::logging;

namespace {

constexpr std::array<const char*, 6> kProtocols = {"pipe", "tcp", "file", "text", "mem", "syslog"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SiRegisterDefaultProtocols();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    const std::string LName = kProtocols[AData[0] % kProtocols.size()];
    const std::string LOptions(deruz::fuzz::TextOf(AData + 1, ASize - 1));

    std::string LPrinted;
    try {
        TSiProtocolPtr LProtocol = TSiProtocolFactory::GetProtocol(LName, LOptions);
        LPrinted = LProtocol->GetOptions();
    } catch (const ESiError&) {
        return 0;
    }

    std::string LReprinted;
    try {
        TSiProtocolPtr LAgain = TSiProtocolFactory::GetProtocol(LName, LPrinted);
        LReprinted = LAgain->GetOptions();
    } catch (const ESiError& AError) {
        deruz::fuzz::Fail("printed options are rejected",
                          LName + "(" + LPrinted + ")\n" + AError.what());
    }
    if (LReprinted != LPrinted) {
        deruz::fuzz::Fail("printed options read back differently",
                          LName + "(" + LPrinted + ")\n" + LName + "(" + LReprinted + ")");
    }
    return 0;
}
