// SiFormat: the format text from the input, over an argument list that the first bytes pick
// from values of every kind (including the extremes of the numbers, NaN and infinity), with the
// default settings or with settings of other separators and currency patterns. A format that
// does not fit its arguments raises ESiConvertError; nothing else may go wrong.
#include "logging/base/si_format.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

using namespace deruz::logging;

namespace {

const std::array<TSiFormatArg, 16> kValues = {
    TSiFormatArg(42),
    TSiFormatArg(std::numeric_limits<std::int32_t>::min()),
    TSiFormatArg(std::numeric_limits<std::int64_t>::min()),
    TSiFormatArg(std::numeric_limits<std::uint64_t>::max()),
    TSiFormatArg(0u),
    TSiFormatArg(-0.0),
    TSiFormatArg(1234567.891),
    TSiFormatArg(1e308),
    TSiFormatArg(std::numeric_limits<double>::quiet_NaN()),
    TSiFormatArg(-std::numeric_limits<double>::infinity()),
    TSiFormatArg(std::numeric_limits<double>::denorm_min()),
    TSiFormatArg("text \xC3\xA4"),
    TSiFormatArg(""),
    TSiFormatArg('x'),
    TSiFormatArg(true),
    TSiFormatArg(static_cast<const void*>(&kValues)),
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize < 2) return 0;
    // Byte 0: settings (bit 7) and the number of arguments; then one byte per argument.
    const std::size_t LCount = std::min<std::size_t>(AData[0] % 8, ASize - 1);
    std::vector<TSiFormatArg> LArgs;
    for (std::size_t I = 0; I < LCount; ++I) {
        LArgs.push_back(kValues[AData[1 + I] % kValues.size()]);
    }
    const std::string_view LFormat = deruz::fuzz::TextOf(AData + 1 + LCount, ASize - 1 - LCount);

    TSiFormatSettings LSettings;
    if ((AData[0] & 0x80) != 0) {
        LSettings.DecimalSeparator = "";
        LSettings.ThousandSeparator = "\xC2\xA0";
        LSettings.CurrencyString = "EUR";
        LSettings.CurrencyFormat = AData[0] % 5;         // 4 is out of range
        LSettings.NegCurrFormat = (AData[0] >> 3) % 17;  // 16 is out of range
        LSettings.CurrencyDecimals = (AData[0] & 0x40) != 0 ? 0 : 19;
    }
    try {
        (void)SiFormat(LSettings, LFormat, std::span<const TSiFormatArg>(LArgs));
    } catch (const ESiConvertError&) {
    }
    return 0;
}
