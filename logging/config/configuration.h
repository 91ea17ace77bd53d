// TSiConfiguration: a logging configuration file of key=value lines, read into a lookup table
// that remembers the order in which the keys first appeared.
//
// Format: UTF-8 (with byte-order mark), UTF-16 either byte order (with byte-order mark) or
// 8-bit system code page; lines end with CR LF, LF or CR. Each line is trimmed; empty lines and
// lines starting with ";" are comments; a line without "=" is ignored; otherwise the trimmed
// text before the first "=" is the key and the trimmed rest the value. A repeated key (ignoring
// ASCII letter case) replaces the value but keeps its first place and spelling.
//
// Not synchronised: a configuration lives inside the operation that loads and reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/base/enums.h"
#include "logging/base/string_list.h"
#include "logging/config/lookup_table.h"

namespace deruz::logging {

class TSiConfiguration {
  public:
    // Reads the file; raises ESiError when it cannot be read, leaving the content unchanged.
    // Only regular files of at most 16 MB are read; others raise
    // "Cannot open file \"<name>\". Not a regular file" or
    // "Cannot open file \"<name>\". File larger than 16777216 bytes".
    void LoadFromFile(const std::string& AFileName);
    // Replaces the content by the lines of a file's bytes (encoding detected as for a file).
    void LoadFromBytes(std::string_view ABytes);
    // Replaces the content by the lines of a UTF-8 text.
    void LoadFromText(std::string_view AText);
    void Clear();

    bool Contains(std::string_view AKey) const { return FItems.Contains(AKey); }
    std::size_t Count() const noexcept { return FItems.Count(); }
    // The key at AIndex in order of first occurrence, as spelled there; raises ESiError
    // "Index out of bounds" outside 0..Count-1.
    const std::string& ReadKey(std::size_t AIndex) const { return FKeys.Get(AIndex); }

    std::string ReadString(std::string_view AKey, std::string_view ADefaultValue) const {
        return FItems.GetStringValue(AKey, ADefaultValue);
    }
    std::int32_t ReadInteger(std::string_view AKey, std::int32_t ADefaultValue) const {
        return FItems.GetIntegerValue(AKey, ADefaultValue);
    }
    bool ReadBoolean(std::string_view AKey, bool ADefaultValue) const {
        return FItems.GetBooleanValue(AKey, ADefaultValue);
    }
    TSiLevel ReadLevel(std::string_view AKey, TSiLevel ADefaultValue) const {
        return FItems.GetLevelValue(AKey, ADefaultValue);
    }
    TSiColor ReadColor(std::string_view AKey, TSiColor ADefaultValue) const {
        return FItems.GetColorValue(AKey, ADefaultValue);
    }

  private:
    void Parse(const TSiStringList& ALines);

    TSiLookupTable FItems;
    TSiStringList FKeys;
};

}  // namespace deruz::logging
