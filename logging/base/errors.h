// The exceptions of the logging library. Every one carries its exact message text.
//
// ESiInvalidConnectionsError deliberately does not derive from ESiError: callers that catch
// the library's own errors must not swallow the one error that reports an invalid
// connections string to the code that set it.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace deruz::logging {

// Base of the library's own errors.
class ESiError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A connections file could not be read; FileName() names it.
class ESiLoadConnectionsError : public ESiError {
  public:
    ESiLoadConnectionsError(const std::string& AMessage, std::string AFileName)
        : ESiError(AMessage), FFileName(std::move(AFileName)) {}
    const std::string& FileName() const noexcept { return FFileName; }

  private:
    std::string FFileName;
};

// A configuration file could not be read; FileName() names it.
class ESiLoadConfigurationError : public ESiError {
  public:
    ESiLoadConfigurationError(const std::string& AMessage, std::string AFileName)
        : ESiError(AMessage), FFileName(std::move(AFileName)) {}
    const std::string& FileName() const noexcept { return FFileName; }

  private:
    std::string FFileName;
};

// A connections string did not parse, named an unknown protocol or had an invalid option.
class ESiInvalidConnectionsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An error of a protocol, with the protocol's name and its options text.
class ESiProtocolError : public ESiError {
  public:
    ESiProtocolError(const std::string& AMessage, std::string AProtocolName,
                     std::string AProtocolOptions)
        : ESiError(AMessage),
          FProtocolName(std::move(AProtocolName)),
          FProtocolOptions(std::move(AProtocolOptions)) {}
    const std::string& ProtocolName() const noexcept { return FProtocolName; }
    const std::string& ProtocolOptions() const noexcept { return FProtocolOptions; }

  private:
    std::string FProtocolName;
    std::string FProtocolOptions;
};

}  // namespace deruz::logging
