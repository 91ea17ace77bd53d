// Viewer contexts: builders of the data block of a log entry in the form that one viewer of
// the log viewer shows (plain text, list, key/value list, grouped inspector, table, binary
// dump). A session creates a context, fills it and sends its ViewerData with its ViewerId.
//
// Data produced:
// - binary contexts: the appended bytes as they are;
// - text contexts: the UTF-8 byte order mark EF BB BF followed by the UTF-8 text built so far
//   (bytes that are not UTF-8 become U+FFFD, so the viewer always gets valid text).
//
// Text escaping, for the list-like viewers that take one item per line:
// - EscapeLine(ALine, AToEscape): every run of CR/LF characters becomes one space, and every
//   character of AToEscape (ASCII) gets a backslash in front;
// - list lines escape nothing else, value-list items escape "\" and "=", inspector items also
//   "[" and "]";
// - table entries are CSV fields: each CR and LF becomes a space, double quotes are doubled,
//   and the entry is enclosed in double quotes.
//
// Value texts of the typed overloads: integers in decimal, Booleans "True"/"False", floating
// point numbers in the shortest general form and date-times in the default date-time form,
// both with the settings of the calling thread's locale (SiThreadFormatSettings).
//
// Failures raise ESiError with the messages "AAddress argument is not assigned", "ASize
// argument is negative", "AStream argument is not assigned", or the file's open error; the
// content is unchanged after any of them.
//
// Not synchronised: one thread fills and sends a context. A context owns its buffers; the
// stream returned by GetViewerData belongs to the context and stays valid until the context
// is changed again or destroyed. Streams passed in are never kept.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "logging/base/enums.h"
#include "logging/base/si_format.h"
#include "logging/base/stream.h"
#include "logging/base/string_builder.h"

namespace deruz::logging {

class TSiLogEntry;

// The value texts of the typed overloads.
std::string SiContextValueText(std::int64_t AValue);
std::string SiContextValueText(std::uint64_t AValue);
std::string SiContextValueText(double AValue);
std::string SiContextValueText(bool AValue);
std::string SiContextValueText(TSiDateTimeValue AValue);

class TSiViewerContext {
  public:
    explicit TSiViewerContext(TSiViewerId AViewerId) noexcept : FViewerId(AViewerId) {}
    TSiViewerContext(const TSiViewerContext&) = delete;
    TSiViewerContext& operator=(const TSiViewerContext&) = delete;
    virtual ~TSiViewerContext() = default;

    TSiViewerId ViewerId() const noexcept { return FViewerId; }

    // The data block, see above.
    virtual TSiMemoryStream& GetViewerData() = 0;
    TSiMemoryStream& ViewerData() { return GetViewerData(); }

    // Gives a log entry this context's viewer and a copy of its data; the context keeps its
    // own data and can be sent again.
    void CopyToLogEntry(TSiLogEntry& AEntry);

  private:
    TSiViewerId FViewerId;
};

// Raw bytes for a viewer that shows binary data (dump, pictures).
class TSiBinaryContext : public TSiViewerContext {
  public:
    explicit TSiBinaryContext(TSiViewerId AViewerId) noexcept : TSiViewerContext(AViewerId) {}

    // The bytes appended so far.
    TSiMemoryStream& GetViewerData() override { return FData; }

    // Appends ASize bytes from AAddress; size 0 appends nothing.
    void AppendBytes(const void* AAddress, std::int32_t ASize);
    // Replaces the content with the whole of AStream from its first byte, and puts AStream
    // back at its position. Later appends go after the loaded bytes.
    void LoadFromStream(TSiStream* AStream);
    // Replaces the content with the whole of an existing file, which others may only read
    // while it is open.
    void LoadFromFile(const std::string& AFileName);
    void ResetData();

  private:
    TSiMemoryStream FData;
};

class TSiBinaryViewerContext : public TSiBinaryContext {
  public:
    TSiBinaryViewerContext() noexcept : TSiBinaryContext(viBinary) {}
};

// Text for a viewer that shows text (plain data, sources, web content).
class TSiTextContext : public TSiViewerContext {
  public:
    explicit TSiTextContext(TSiViewerId AViewerId) : TSiViewerContext(AViewerId), FBuilder(256) {}

    // The byte order mark and the text, in a stream positioned after its last byte.
    TSiMemoryStream& GetViewerData() override;

    // Appends as is.
    void AppendText(std::string_view AText);
    // Appends EscapeLine(ALine) and CR LF.
    void AppendLine(std::string_view ALine);
    // The line as this context's viewer takes it; here unchanged.
    virtual std::string EscapeLine(std::string_view ALine);
    // Replaces the content with AText, unescaped.
    void LoadFromText(std::string_view AText);
    // Replaces the content with the lines of the whole of AStream (UTF-8, UTF-16 or 8-bit
    // text, told by its byte order mark), each followed by CR LF; puts AStream back at its
    // position.
    void LoadFromStream(TSiStream* AStream);
    // Loads an existing file the same way; others may only read it while it is open.
    void LoadFromFile(const std::string& AFileName);
    void ResetData() { FBuilder.Clear(); }

  private:
    TSiStringBuilder FBuilder;
    std::unique_ptr<TSiMemoryStream> FData;
};

// One item per line.
class TSiListViewerContext : public TSiTextContext {
  public:
    TSiListViewerContext() : TSiTextContext(viList) {}

    // Collapses line breaks to one space each run.
    std::string EscapeLine(std::string_view ALine) override;
    // The escape rule: runs of CR/LF become one space, the ASCII characters of AToEscape get
    // a backslash in front.
    static std::string EscapeLine(std::string_view ALine, std::string_view AToEscape);

  protected:
    explicit TSiListViewerContext(TSiViewerId AViewerId) : TSiTextContext(AViewerId) {}
};

// One "key=value" pair per line.
class TSiValueListViewerContext : public TSiListViewerContext {
  public:
    TSiValueListViewerContext() : TSiListViewerContext(viValueList) {}

    // Appends EscapeItem(AKey), "=", EscapeItem(value text) and CR LF.
    void AppendKeyValue(std::string_view AKey, std::string_view AValue);
    void AppendKeyValue(std::string_view AKey, const char* AValue) {
        AppendKeyValue(AKey, std::string_view(AValue != nullptr ? AValue : ""));
    }
    void AppendKeyValue(std::string_view AKey, const std::string& AValue) {
        AppendKeyValue(AKey, std::string_view(AValue));
    }
    template <TSiContextInteger T>
    void AppendKeyValue(std::string_view AKey, T AValue) {
        if constexpr (std::is_signed_v<T>) {
            AppendKeyValue(AKey, SiContextValueText(static_cast<std::int64_t>(AValue)));
        } else {
            AppendKeyValue(AKey, SiContextValueText(static_cast<std::uint64_t>(AValue)));
        }
    }
    void AppendKeyValue(std::string_view AKey, double AValue) {
        AppendKeyValue(AKey, SiContextValueText(AValue));
    }
    void AppendKeyValue(std::string_view AKey, bool AValue) {
        AppendKeyValue(AKey, SiContextValueText(AValue));
    }
    void AppendKeyValue(std::string_view AKey, TSiDateTimeValue AValue) {
        AppendKeyValue(AKey, SiContextValueText(AValue));
    }

    // Escapes "\" and "=".
    virtual std::string EscapeItem(std::string_view AItem);

  protected:
    explicit TSiValueListViewerContext(TSiViewerId AViewerId) : TSiListViewerContext(AViewerId) {}
};

// Key/value pairs in named groups.
class TSiInspectorViewerContext : public TSiValueListViewerContext {
  public:
    TSiInspectorViewerContext() : TSiValueListViewerContext(viInspector) {}

    // Appends "[", EscapeItem(AGroup), "]" and CR LF; the pairs that follow belong to it.
    void StartGroup(std::string_view AGroup);
    // Escapes "\", "=", "[" and "]".
    std::string EscapeItem(std::string_view AItem) override;
};

// A header line, an empty line, then one line of comma-separated entries per row.
class TSiTableViewerContext : public TSiListViewerContext {
  public:
    TSiTableViewerContext() : TSiListViewerContext(viTable) {}

    // The header line as the caller wrote it (line breaks collapsed), then an empty line.
    void AppendHeader(std::string_view AHeader);
    // Makes the next entry the first of its line.
    void BeginRow() noexcept { FLineStart = true; }
    // Appends the entry as a CSV field, after ", " unless it is the first of its line.
    void AddRowEntry(std::string_view AEntry);
    void AddRowEntry(const char* AEntry) {
        AddRowEntry(std::string_view(AEntry != nullptr ? AEntry : ""));
    }
    void AddRowEntry(const std::string& AEntry) { AddRowEntry(std::string_view(AEntry)); }
    template <TSiContextInteger T>
    void AddRowEntry(T AEntry) {
        if constexpr (std::is_signed_v<T>) {
            AddRowEntry(SiContextValueText(static_cast<std::int64_t>(AEntry)));
        } else {
            AddRowEntry(SiContextValueText(static_cast<std::uint64_t>(AEntry)));
        }
    }
    void AddRowEntry(double AEntry) { AddRowEntry(SiContextValueText(AEntry)); }
    void AddRowEntry(bool AEntry) { AddRowEntry(SiContextValueText(AEntry)); }
    void AddRowEntry(TSiDateTimeValue AEntry) { AddRowEntry(SiContextValueText(AEntry)); }
    // Ends the line with CR LF. The next row starts with ", " unless BeginRow is called.
    void EndRow() { AppendLine(std::string_view()); }

    // The entry as a CSV field: CR and LF become a space each, double quotes are doubled, and
    // the whole is enclosed in double quotes.
    static std::string EscapeCSVEntry(std::string_view AEntry);

  private:
    bool FLineStart = true;
};

}  // namespace deruz::logging
