// TSiTextProtocol ("text"): the file protocol writing each log entry as one line of UTF-8
// text shaped by a pattern, for reading without a log viewer. Other packet kinds write
// nothing. Everything about files (names, rotation, buffering, size limits, sharing) is the
// file protocol's; encryption is not available here.
//
// Thread-safety and ownership as for every protocol (protocol.h).
#pragma once

#include <memory>
#include <string>

#include "logging/format/text_formatter.h"
#include "logging/protocols/file_protocol.h"

namespace deruz::logging {

class TSiTextProtocol final : public TSiFileProtocol {
  public:
    TSiTextProtocol();

    std::string GetName() const override { return "text"; }
    bool WritesBinary() const noexcept override { return false; }

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    TSiFormatter& GetFormatter() override { return FFormatter; }
    std::string GetDefaultFileName() const override { return "log.txt"; }
    // A new file starts with the UTF-8 byte-order mark; an appended one gets nothing.
    std::int64_t WriteHeader(TSiStream& AStream, std::int64_t ASize) override;
    void WriteFooter(TSiStream&) override {}

  private:
    bool FIndent = false;
    std::string FPattern{CSiDefaultPattern};
    TSiTextFormatter FFormatter;
};

}  // namespace deruz::logging
