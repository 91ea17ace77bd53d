// Types shared by the link and the imaging-application control: window handles as the host
// passes them, the link modes, and the errors that carry the system's exact texts.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace deruz::control {

// A window handle (pointer-sized), as the host passes it and the system hands it out.
using TWindowHandle = std::uintptr_t;

// How commands reach the imaging application.
enum TLinkMode : std::uint8_t {
    lmNormal = 0,            // the server's automation interface
    lmClipboard = 1,         // the clipboard
    lmMsVirtualChannel = 2,  // configurable, but there is no transport for it
};

// An error of the link or of the control of the imaging application: the exact text that
// the user sees in the error box and the host reads as the result text.
class EControlError : public std::exception {
  public:
    explicit EControlError(std::wstring AMessage) : FMessage(std::move(AMessage)) {}
    const std::wstring& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return "link error"; }

  private:
    std::wstring FMessage;
};

// A setting or system value out of its range (a negative Debug, dentist id or monitor
// number, a window handle or answer that does not fit 32 bits).
inline EControlError RangeCheckError() {
    return EControlError(L"Range check error");
}

// The message of any caught exception as wide text (narrow texts are taken as UTF-8).
std::wstring ExceptionMessage(std::exception_ptr AError);

}  // namespace deruz::control
