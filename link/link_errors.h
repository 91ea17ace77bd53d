// The link's error: an exception carrying the exact text shown to the user and handed to
// the host. Raised inside the link and caught at every exported function.
#pragma once

#include <exception>
#include <string>

namespace deruz::link {

class ELinkError : public std::exception {
  public:
    explicit ELinkError(std::wstring message) : FMessage(std::move(message)) {}
    const std::wstring& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return "link error"; }

  private:
    std::wstring FMessage;
};

// The message of any caught exception as wide text (narrow texts are taken as UTF-8).
std::wstring ExceptionMessage(std::exception_ptr error);

}  // namespace deruz::link
