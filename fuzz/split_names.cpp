// Name splitting (SysExtractStrings) and the case-insensitive list it fills. Byte 0 picks the
// separators, the white space and whether quotes are ignored; the rest is the text, read as
// UTF-16 (so characters above 255 occur). Properties: the count returned is the number of
// items appended, and each item is found in the list at or before its own place.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "systools/strings.h"

using namespace deruz::systools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    static const std::array<TSysCharSet, 4> LSeparators = {SysCharSet(L",;"), SysCharSet(L" \t"),
                                                           SysCharSet(L"\"'"), SysCharSet(L"")};
    static const std::array<TSysCharSet, 4> LWhiteSpace = {
        SysCharSet(L" \t"), SysCharSet(L""), SysCharSet(std::wstring(1, L'\0') + L" "),
        SysCharSet(L",")};
    const std::uint8_t LFlags = AData[0];
    const std::wstring LText = deruz::fuzz::WideFromBytes(AData + 1, ASize - 1);

    TStringList LList;
    LList.Add(L"already there");
    const int LBefore = LList.Count();
    const std::int32_t LCount =
        SysExtractStrings(LSeparators[LFlags % 4], LWhiteSpace[(LFlags >> 2) % 4], LText.c_str(),
                          &LList, (LFlags & 0x10) != 0);
    if (LCount != LList.Count() - LBefore) {
        deruz::fuzz::Fail("the count differs from the items appended");
    }
    for (int I = LBefore; I < LList.Count(); ++I) {
        const int LFound = LList.IndexOf(LList[I]);
        if (LFound < 0 || LFound > I || !SameTextIgnoreCase(LList[LFound], LList[I])) {
            deruz::fuzz::Fail("an item is not found in its own list");
        }
    }
    return 0;
}
