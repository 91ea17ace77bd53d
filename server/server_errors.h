// Errors raised by the imaging server proxy. Every error carries the system's exact message
// text in UTF-8 (what()); callers catch EServerError to report any of them. Portable (no
// Windows headers), so code that only reports errors can catch them without including COM.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace deruz::server {

// Base of every error the proxy raises.
class EServerError : public std::runtime_error {
  public:
    explicit EServerError(const std::string& AMessage) : std::runtime_error(AMessage) {}
};

// A call into the server failed: the status code and the error information the server set.
class EOleException : public EServerError {
  public:
    EOleException(const std::string& AMessage, std::int32_t AErrorCode, const std::string& ASource,
                  const std::string& AHelpFile, std::int32_t AHelpContext)
        : EServerError(AMessage),
          FErrorCode(AErrorCode),
          FSource(ASource),
          FHelpFile(AHelpFile),
          FHelpContext(AHelpContext) {}
    std::int32_t ErrorCode() const { return FErrorCode; }
    const std::string& Source() const { return FSource; }
    const std::string& HelpFile() const { return FHelpFile; }
    std::int32_t HelpContext() const { return FHelpContext; }

  private:
    std::int32_t FErrorCode;
    std::string FSource;
    std::string FHelpFile;
    std::int32_t FHelpContext;
};

// A system call failed (creating the server object): its status code.
class EOleSysError : public EServerError {
  public:
    EOleSysError(const std::string& AMessage, std::int32_t AErrorCode)
        : EServerError(AMessage), FErrorCode(AErrorCode) {}
    std::int32_t ErrorCode() const { return FErrorCode; }

  private:
    std::int32_t FErrorCode;
};

// The server object does not offer the automation interface.
class EIntfCastError : public EServerError {
  public:
    EIntfCastError() : EServerError("Interface not supported") {}
};

// The proxy was used while it could not be connected.
class EAssertionFailed : public EServerError {
  public:
    using EServerError::EServerError;
};

// An event argument that does not convert to the type of its parameter.
class EVariantError : public EServerError {
  public:
    using EServerError::EServerError;
};

// An event that carries fewer arguments than its parameters (or names a position it does not
// have): "Range check error".
class ERangeError : public EServerError {
  public:
    ERangeError() : EServerError("Range check error") {}
};

}  // namespace deruz::server
