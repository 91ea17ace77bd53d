// Connection strings: the one text that says where the log goes, such as
// "pipe(reconnect=true, reconnect.interval=1s), file(filename=\"c:\\logs\\app.sil\")".
//
// - TSiProtocolVariables expands "$name$" references before anything is parsed.
// - TSiConnectionsParser splits the string into protocol entries: a name, "(", an options text,
//   ")", optionally followed by one "," (blanks may stand before it). Names are trimmed and
//   lower-cased.
// - TSiOptionsParser splits one entry's options text into key=value pairs separated by ",".
//   Double quotes group characters (so values may hold "," and ")"), two double quotes stand
//   for one, and keys are trimmed and lower-cased; values are trimmed after the quotes have
//   been removed.
// - TSiConnectionsBuilder writes protocol options back as such a text.
//
// Syntax errors raise ESiError with a message naming the position (counted in UTF-16 code units
// of the trimmed string, from 1) or the protocol. The parsers accept arbitrary bytes and never
// read outside their input.
//
// The parsers and the builder keep no shared state; TSiProtocolVariables is thread-safe.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/hash.h"
#include "logging/base/level.h"
#include "logging/base/string_builder.h"

namespace deruz::logging {

// Name/value pairs that are substituted into a connections string: every "$name$" (the name as
// first stored, matched case-sensitively) becomes the value. Names are unique without regard to
// ASCII letter case. Every operation, including the whole of Expand, holds the lock, so
// variables may be changed from any thread.
class TSiProtocolVariables {
  public:
    // Adds only when the name is not yet present.
    void Add(std::string_view AName, std::string_view AValue);
    // Adds or overwrites.
    void Put(std::string_view AName, std::string_view AValue);
    // The value, or the empty string.
    std::string Get(std::string_view AName) const;
    void Remove(std::string_view AName);
    bool Contains(std::string_view AName) const;
    void Clear();
    std::size_t Count() const;
    // Replaces the references of each variable in turn, in the table's iteration order, left to
    // right without rescanning inserted text. A reference to an unknown name stays as it is.
    std::string Expand(std::string_view AConnections) const;

  private:
    mutable std::mutex FLock;
    TSiStringHash FItems;
};

// Receives one protocol entry: the lower-cased, trimmed name and the trimmed options text.
using TSiConnectionsParserEvent =
    std::function<void(const std::string& AProtocol, const std::string& AOptions)>;
// Receives one option: the protocol name as given, the lower-cased trimmed key and the trimmed
// value.
using TSiOptionsParserEvent = std::function<void(
    const std::string& AProtocol, const std::string& AKey, const std::string& AValue)>;

class TSiConnectionsParser {
  public:
    // Reports every entry in order; on a syntax error raises ESiError after the entries before
    // it have been reported. An empty or blank string reports nothing. Errors:
    //   Missing "(" at position <n>
    //   Missing ")" at position <n>
    //   Quoted values not closed at protocol "<name>"
    static void Parse(std::string_view AConnections, const TSiConnectionsParserEvent& ACallback);
};

class TSiOptionsParser {
  public:
    // Reports every option in order; on a syntax error raises ESiError (naming the protocol in
    // lower case) after the options before it have been reported. Errors:
    //   Missing "=" at "<protocol>" protocol
    //   Quoted value not closed at protocol "<protocol>"
    static void Parse(std::string_view AProtocol, std::string_view AOptions,
                      const TSiOptionsParserEvent& ACallback);
};

// One entry of a connections string.
struct TSiConnectionEntry {
    std::string Protocol;  // lower-cased, trimmed
    std::string Options;   // trimmed options text, still to be parsed by TSiOptionsParser
};

// All entries of a connections string; raises ESiError as TSiConnectionsParser does.
std::vector<TSiConnectionEntry> SiParseConnections(std::string_view AConnections);

// Builds a connections text: BeginProtocol, AddOption for each option, EndProtocol, for each
// protocol. Entries are separated by ", ", options by ", "; every value is written in double
// quotes with each double quote doubled, so the parsers read it back unchanged (apart from
// leading and trailing blanks). A value that is empty or holds only double quotes is written
// without the enclosing quotes (key= when empty, key="" for one double quote), as quotes would
// change how it reads back. Not synchronised.
class TSiConnectionsBuilder {
  public:
    void BeginProtocol(std::string_view AProtocol);
    void AddOption(std::string_view AKey, std::string_view AValue);
    void AddOption(std::string_view AKey, const char* AValue) {
        AddOption(AKey, std::string_view(AValue));
    }
    void AddOption(std::string_view AKey, const std::string& AValue) {
        AddOption(AKey, std::string_view(AValue));
    }
    // "true" or "false".
    void AddOption(std::string_view AKey, bool AValue);
    // Decimal.
    template <std::integral T>
    requires(!std::same_as<T, bool>) void AddOption(std::string_view AKey, T AValue) {
        AddOption(AKey, std::string_view(std::to_string(AValue)));
    }
    // The lower-cased display name: "debug" .. "fatal", "unknown" for lvControl.
    void AddOption(std::string_view AKey, TSiLevel AValue);
    // "none", "hourly", "daily", "weekly", "monthly".
    void AddOption(std::string_view AKey, TSiFileRotate AValue);
    void EndProtocol();
    void Clear();
    const std::string& Connections() const noexcept { return FBuilder.ToString(); }

  private:
    TSiStringBuilder FBuilder{256};
    bool FHasOptions = false;
};

}  // namespace deruz::logging
