// The portable part of the process and window lookup.
#include "systools/lookup.h"

namespace deruz::systools {

void StrResetLength(std::wstring& S) {
    const std::wstring::size_type nul = S.find(L'\0');
    if (nul != std::wstring::npos) S.resize(nul);
}

}  // namespace deruz::systools
