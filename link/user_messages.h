// The link's two boxes: an error box and an information box, each with the library's path
// and version above the message, each also written to the link's log. They show what they
// are given; which notices become boxes is decided by the link's notice rule (by Debug).
#pragma once

#include <cstdint>
#include <string>

#include "link/link_platform.h"

namespace deruz::link {

// Caption of every box the link shows.
inline constexpr wchar_t kBoxCaption[] = L"Ondarix V3 Link library";
// MB_SYSTEMMODAL | MB_ICONERROR, MB_SYSTEMMODAL | MB_ICONINFORMATION.
inline constexpr std::uint32_t kErrorBoxStyle = 0x1010;
inline constexpr std::uint32_t kInfoBoxStyle = 0x1040;

// The boxes of the library at DllFn with version DllVersion. A view: the box service and
// both texts must outlive it.
class TUserMessages {
  public:
    TUserMessages(TMessageBoxes& ABoxes, const std::wstring& ADllFn,
                  const std::wstring& ADllVersion)
        : FBoxes(ABoxes), FDllFn(ADllFn), FDllVersion(ADllVersion) {}

    // Neither raises: a box reports nothing to the code that shows it, which goes on
    // whatever happened to the box (an export still closes its connection, a failed step
    // still cleans up).
    void ErrMsg(const std::wstring& AMsg) const;
    void Msg(const std::wstring& AMsg) const;
    // The text of either box: library path and version, a blank line, then the message.
    std::wstring BoxText(const std::wstring& AMsg) const;

  private:
    void Show(const char* ALogPrefix, const std::wstring& AMsg, std::uint32_t AStyle) const;

    TMessageBoxes& FBoxes;
    const std::wstring& FDllFn;
    const std::wstring& FDllVersion;
};

}  // namespace deruz::link
