// Configuration files, read from their bytes (encoding detection, lines, keys and values), and
// every typed reader over each key found. Reading may not fail at all.
#include "logging/config/configuration.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "logging/base/errors.h"

using namespace deruz::logging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    TSiConfiguration LConfiguration;
    try {
        LConfiguration.LoadFromBytes(deruz::fuzz::TextOf(AData, ASize));
    } catch (const ESiError&) {
        return 0;
    }
    for (std::size_t I = 0; I < LConfiguration.Count(); ++I) {
        const std::string LKey = LConfiguration.ReadKey(I);
        if (!LConfiguration.Contains(LKey)) {
            deruz::fuzz::Fail("a key listed by the configuration is not found", LKey);
        }
        (void)LConfiguration.ReadString(LKey, "default");
        (void)LConfiguration.ReadInteger(LKey, -1);
        (void)LConfiguration.ReadBoolean(LKey, true);
        (void)LConfiguration.ReadLevel(LKey, lvMessage);
        (void)LConfiguration.ReadColor(LKey, TSiColor{});
    }
    return 0;
}
