// The version-resource walk over any bytes. Every read must stay inside the buffer (the
// input is copied to a buffer of exactly its size for the sanitizer). Properties: a failed
// read keeps no tables, and the file version is empty when the walk fails.
#include "systools/version_resource.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

using namespace deruz::systools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::vector<std::uint8_t> LBytes(AData, AData + ASize);
    TFileVersionInfoReader LReader;
    const bool LOk = LReader.Read(LBytes);
    if (!LOk && !LReader.StringTables().empty()) {
        deruz::fuzz::Fail("a failed walk keeps string tables");
    }
    const std::wstring LVersion = FileVersionFromResource(LBytes);
    if (!LOk && !LVersion.empty()) {
        deruz::fuzz::Fail("a malformed resource gives a file version");
    }
    for (const TVersionStringTable& LTable : LReader.StringTables()) {
        for (const auto& [LKey, LValue] : LTable.Strings) {
            (void)LReader.FirstTableValue(LKey);
        }
    }
    return 0;
}
