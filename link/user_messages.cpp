#include "link/user_messages.h"

#include "link/link_log.h"
#include "systools/wide_text.h"

namespace deruz::link {

void TUserMessages::ErrMsg(const std::wstring& Msg) const {
    Show("ErrMsg: ", Msg, kErrorBoxStyle);
}

void TUserMessages::Msg(const std::wstring& Msg) const {
    Show("Msg: ", Msg, kInfoBoxStyle);
}

std::wstring TUserMessages::BoxText(const std::wstring& Msg) const {
    return L"Link-DLL: " + systools::LowerCase(FDllFn) + L" [" + FDllVersion + L"]\r\n\r\n" + Msg;
}

void TUserMessages::Show(const char* LogPrefix, const std::wstring& Msg,
                         std::uint32_t Style) const {
    try {
        linklog::Message(LogPrefix + systools::Utf8FromWide(Msg));
        FBoxes.Show(kBoxCaption, BoxText(Msg), Style);
    } catch (...) {
    }
}

}  // namespace deruz::link
