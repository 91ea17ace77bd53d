#include "link/user_messages.h"

#include "link/link_log.h"
#include "systools/wide_text.h"

namespace deruz::link {

void TUserMessages::ErrMsg(const std::wstring& AMsg) const {
    Show("ErrMsg: ", AMsg, kErrorBoxStyle);
}

void TUserMessages::Msg(const std::wstring& AMsg) const {
    Show("Msg: ", AMsg, kInfoBoxStyle);
}

std::wstring TUserMessages::BoxText(const std::wstring& AMsg) const {
    return L"Link-DLL: " + systools::LowerCase(FDllFn) + L" [" + FDllVersion + L"]\r\n\r\n" + AMsg;
}

void TUserMessages::Show(const char* ALogPrefix, const std::wstring& AMsg,
                         std::uint32_t AStyle) const {
    try {
        linklog::Message(ALogPrefix + systools::Utf8FromWide(AMsg));
        FBoxes.Show(kBoxCaption, BoxText(AMsg), AStyle);
    } catch (...) {
    }
}

}  // namespace deruz::link
