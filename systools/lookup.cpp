// The portable part of the process and window lookup.
#include "systools/lookup.h"

namespace deruz::systools {

void StrResetLength(std::wstring& AS) {
    const std::wstring::size_type LNul = AS.find(L'\0');
    if (LNul != std::wstring::npos) AS.resize(LNul);
}

}  // namespace deruz::systools
