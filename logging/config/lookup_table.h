// TSiLookupTable: the option values of a protocol and the settings of a configuration file,
// held as text under case-insensitive keys and converted on reading by typed getters.
//
// The typed getters never fail: a value that is absent, empty or does not convert gives the
// caller's default. Every getter first trims the text (codes up to 32 at both ends); words and
// suffixes compare without regard to ASCII letter case; numbers are plain decimal digits (no
// sign, no blanks) that fit a signed 32-bit integer.
//
// Not synchronised: a protocol uses its table under its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/enums.h"
#include "logging/base/hash.h"

namespace deruz::logging {

class TSiLookupTable {
  public:
    // Inserts, or replaces the value of an existing key; a key keeps its first spelling.
    void Put(std::string_view AKey, std::string_view AValue);
    // Inserts only when the key is absent.
    void Add(std::string_view AKey, std::string_view AValue);
    void Remove(std::string_view AKey) { FItems.Remove(AKey); }
    bool Contains(std::string_view AKey) const { return FItems.Contains(AKey); }
    void Clear() { FItems.Clear(); }
    std::size_t Count() const noexcept { return FItems.Count(); }

    // The stored value, also when empty; ADefaultValue only when the key is absent.
    std::string GetStringValue(std::string_view AKey, std::string_view ADefaultValue) const;
    // True for "true", "1" and "yes"; false for any other non-empty text (also blanks only).
    bool GetBooleanValue(std::string_view AKey, bool ADefaultValue) const;
    std::int32_t GetIntegerValue(std::string_view AKey, std::int32_t ADefaultValue) const;
    // "debug" .. "fatal"; there is no text for lvControl.
    TSiLevel GetLevelValue(std::string_view AKey, TSiLevel ADefaultValue) const;
    // "none", "hourly", "daily", "weekly", "monthly".
    TSiFileRotate GetRotateValue(std::string_view AKey, TSiFileRotate ADefaultValue) const;
    // Bytes: a number with an optional suffix "kb", "mb" or "gb" (a bare number counts
    // kilobytes). ADefaultValue is in kilobytes.
    std::int64_t GetSizeValue(std::string_view AKey, std::int64_t ADefaultValue) const;
    // Milliseconds: a number with an optional suffix "s", "m", "h" or "d" (a bare number counts
    // seconds). ADefaultValue is in seconds. The result is 32-bit: larger products wrap around
    // modulo 2^32, as the millisecond tick counts they are compared with do.
    std::uint32_t GetTimespanValue(std::string_view AKey, std::int64_t ADefaultValue) const;
    // A colour 0x00BBGGRR from a hexadecimal RRGGBB or AARRGGBB text after the prefix "0x",
    // "&H" or "$" (prefixes are case-sensitive).
    TSiColor GetColorValue(std::string_view AKey, TSiColor ADefaultValue) const;
    // The text's UTF-8 bytes cut or zero-padded to ASize bytes; ADefaultValue for an empty
    // (after trimming) or absent value.
    std::vector<std::uint8_t> GetBytesValue(std::string_view AKey, std::size_t ASize,
                                            const std::vector<std::uint8_t>& ADefaultValue) const;

    // Every key and value, in the table's iteration order.
    template <class F>
    void ForEach(F&& AFunc) const {
        FItems.ForEach(AFunc);
    }

  private:
    // The value trimmed, or nothing when the key is absent or its value empty: the getters'
    // common rule for falling back to the default.
    std::optional<std::string_view> TrimmedValue(std::string_view AKey) const;

    TSiStringHash FItems;
};

}  // namespace deruz::logging
