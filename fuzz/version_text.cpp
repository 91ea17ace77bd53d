// The version-text parser and the comparisons built on it; the text is the input read as
// UTF-16. Properties: a parsed version written back in decimal parses to the same numbers,
// every text equals itself, and comparing two texts gives the opposite of comparing them the
// other way round.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "systools/version.h"

using namespace deruz::systools;

namespace {

std::string Narrow(const std::wstring& AText) {
    std::string LResult;
    for (const wchar_t C : AText) LResult += C < 0x80 ? static_cast<char>(C) : '?';
    return LResult;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::wstring LText = deruz::fuzz::WideFromBytes(AData, ASize);
    TFileVersionRec LVersion;
    if (ParseVersionStr(LText, LVersion)) {
        const std::wstring LDecimal = std::to_wstring(LVersion.MajorVersion) + L"." +
                                      std::to_wstring(LVersion.MinorVersion) + L"." +
                                      std::to_wstring(LVersion.ReleaseNumber) + L"." +
                                      std::to_wstring(LVersion.BuildNumber);
        TFileVersionRec LAgain;
        if (!ParseVersionStr(LDecimal, LAgain) || CompareFileVersions(LVersion, LAgain) != 0) {
            deruz::fuzz::Fail("a parsed version does not read back", Narrow(LText));
        }
        if (CompareFileVersionStrs(LText, LDecimal) != 0) {
            deruz::fuzz::Fail("a version text differs from its decimal form", Narrow(LText));
        }
    }
    if (CompareFileVersionStrs(LText, LText) != 0) {
        deruz::fuzz::Fail("a version text differs from itself", Narrow(LText));
    }
    for (const wchar_t* LOther : {L"1.2.3.4", L"0.0.0.0", L"2147483647.0.0.1", L"x"}) {
        if (CompareFileVersionStrs(LText, LOther) != -CompareFileVersionStrs(LOther, LText)) {
            deruz::fuzz::Fail("comparison is not antisymmetric", Narrow(LText));
        }
    }
    return 0;
}
