// Text, file-name, time and file-system functions shared by the whole logging library.
//
// Text is UTF-8 throughout. Positions returned here are byte positions in that text; the
// delimiters they look for are ASCII characters, which never occur inside a multi-byte
// sequence. Where the library counts characters the way its peers do (in UTF-16 code units),
// SiUtf16Length gives that count.
//
// All functions are thread-safe (they keep no state). TSiFileHandle is not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/unique_handle.h"

namespace deruz::logging {

// --- Text -----------------------------------------------------------------------------------

// Decodes the code point that starts at AIndex and advances AIndex past it. A byte that does
// not start a valid sequence (truncated, overlong, surrogate, above U+10FFFF) gives U+FFFD and
// advances by one byte. AIndex must be below AText.size().
char32_t SiDecodeUtf8(std::string_view AText, std::size_t& AIndex) noexcept;
// Appends the UTF-8 form of ACode (a Unicode scalar value) to AOut.
void SiAppendUtf8(std::string& AOut, char32_t ACode);
// Converts UTF-8 to UTF-16; every byte that does not belong to a valid sequence becomes
// U+FFFD, so arbitrary bytes convert without failing.
std::u16string SiUtf8ToUtf16(std::string_view AText);
// Converts UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string SiUtf16ToUtf8(std::u16string_view AText);
// The number of UTF-16 code units that AText converts to.
std::size_t SiUtf16Length(std::string_view AText);
// The longest start of AText that converts to at most AUnits UTF-16 code units. A character
// that needs two units (a surrogate pair) is left out whole rather than cut in half, so the
// result always ends on a character boundary.
std::string_view SiTruncateUtf16(std::string_view AText, std::size_t AUnits) noexcept;
// Converts text in the system's 8-bit code page to UTF-8. Where the system has no such code
// page (POSIX), Windows-1252 stands in for it.
std::string SiAnsiToUtf8(std::string_view AText);

// Removes the characters with codes up to 32 (control characters and the space) at both ends.
std::string_view SiTrim(std::string_view AText) noexcept;
// Lower-cases or upper-cases the ASCII letters only.
std::string SiLowerCase(std::string_view AText);
std::string SiUpperCase(std::string_view AText);
// Equality without regard to ASCII letter case.
bool SiSameText(std::string_view A_, std::string_view AB) noexcept;
// Ordinal comparison by UTF-16 code units (negative, 0, positive), so that sorting agrees with
// peers that hold text as UTF-16.
int SiCompareOrdinal(std::string_view A_, std::string_view AB) noexcept;

// Replaces every occurrence of ASearch by AReplacement, scanning left to right without
// rescanning inserted text. An empty ASearch changes nothing.
std::string SiStringReplace(std::string_view AText, std::string_view ASearch,
                            std::string_view AReplacement);
// 1-based position of the last AChar in AText, 0 if there is none.
std::size_t SiLastPos(char AChar, std::string_view AText) noexcept;
// Appends to AList the pieces of AText between any of the characters of ADelimiters, the last
// piece always (also when empty). An empty AText appends nothing.
void SiSplit(std::string_view AText, std::string_view ADelimiters, std::vector<std::string>& AList);

// Appends AValue in decimal with at least AMinDigits digits, zero-filled on the left (after
// the minus sign of a negative value), as the date, time and exponent texts need.
void SiAppendDecimal(std::string& AOut, std::int64_t AValue, int AMinDigits = 1);

// --- File names -----------------------------------------------------------------------------
// "." marks the extension; the backslash, the slash and ":" delimit the path on every platform,
// so that Windows and POSIX paths take apart the same way.

// The extension including its dot, or empty.
std::string SiExtractFileExt(std::string_view AFileName);
// AFileName with its extension replaced by AExtension (which includes its dot), or with
// AExtension appended when it has none.
std::string SiChangeFileExt(std::string_view AFileName, std::string_view AExtension);
// The name without its directory.
std::string SiExtractFileName(std::string_view AFileName);
// The directory part including its final delimiter, or empty.
std::string SiExtractFilePath(std::string_view AFileName);
// Whether AName matches APattern, where "*" stands for any run of characters and "?" for one
// byte; case-sensitive. Used where the system offers no wildcard search of its own.
bool SiMatchesWildcard(std::string_view APattern, std::string_view AName);

// Appends to AList, for each file (not directory) that matches the wildcard pattern in the last
// component of APattern, the pattern's directory part followed by the file's name; a pattern
// without a directory gives bare names. The order is the system's listing order.
void SiGetFiles(const std::string& APattern, std::vector<std::string>& AList);

// --- Time -----------------------------------------------------------------------------------

// --- Files and names ------------------------------------------------------------------------

enum TSiFileAccess : std::uint8_t { faRead, faWrite, faReadWrite };
// Flags: what other openers of the same file may do while this handle is open.
enum TSiFileShare : std::uint8_t { fsNone = 0, fsRead = 1, fsWrite = 2, fsReadWrite = 3 };
enum TSiFileCreation : std::uint8_t {
    fcCreateAlways,  // create, or truncate an existing file
    fcOpenAlways,    // open, or create a missing file
    fcOpenExisting,  // open; fail when missing
};

// Owns one open file of the operating system and closes it on destruction. Move-only.
// Where the system has no sharing modes (POSIX), a writer that does not share writing takes an
// exclusive advisory lock, so that a second such writer fails to open the file.
class TSiFileHandle {
  public:
    TSiFileHandle() = default;
    explicit TSiFileHandle(std::intptr_t ANative) : FNative(ANative) {}

    bool IsOpen() const noexcept { return static_cast<bool>(FNative); }
    // The system's handle (a file descriptor on POSIX), still owned by this object.
    std::intptr_t Native() const noexcept { return FNative.Get(); }
    // Reads up to ACount bytes; ARead is 0 at the end of the file. False on a read error.
    bool Read(void* ABuffer, std::size_t ACount, std::size_t& ARead) noexcept;
    // Writes all ACount bytes; false on a write error.
    bool Write(const void* AData, std::size_t ACount) noexcept;
    // Reads up to ACount bytes at AOffset (where the next Read or Write happens is then
    // undefined); ARead is 0 at the end of the file. False on a read error.
    bool ReadAt(std::int64_t AOffset, void* ABuffer, std::size_t ACount,
                std::size_t& ARead) noexcept;
    // Makes what was written reach the storage device (fdatasync, FlushFileBuffers), so that it
    // survives a power loss; false on failure.
    bool Sync() noexcept;
    // The file's size in bytes, -1 on failure.
    std::int64_t Size() const noexcept;
    // Whether the handle refers to a regular file (not a directory, device, pipe or socket).
    bool IsRegular() const noexcept;
    // Positions the file at its end; false on failure.
    bool SeekToEnd() noexcept;
    void Close() noexcept { FNative.Reset(); }

  private:
    TSiUniqueNative FNative;
};

// Opens or creates a file. On failure the handle is closed and AError holds the system's
// error code (0 on success).
TSiFileHandle SiCreateFile(const std::string& AFileName, TSiFileAccess AAccess, TSiFileShare AShare,
                           TSiFileCreation ACreation, std::uint32_t& AError);
// Reads a whole file that others may be reading or writing at the same time. Raises ESiError
// "Cannot open file \"<name>\". <system text>" when it cannot be opened, and
// "Stream read error" when reading fails.
std::string SiReadFile(const std::string& AFileName);
// As SiReadFile, for a regular file of at most AMaxSize bytes. Anything else is refused before
// a byte of it is read: a directory, device, pipe or socket (a pipe is not even opened, as
// opening one may wait for a writer) with "Cannot open file \"<name>\". Not a regular file",
// and a file that is or grows larger with
// "Cannot open file \"<name>\". File larger than <AMaxSize> bytes".
std::string SiReadRegularFile(const std::string& AFileName, std::size_t AMaxSize);
// Whether AFileName exists and is not a regular file; false when it does not exist. Looks at
// the name only, without opening it.
bool SiIsSpecialFile(const std::string& AFileName);
bool SiDeleteFile(const std::string& AFileName);
bool SiFileOrDirExists(const std::string& AFileName);
// The name of the user running the process, or empty.
std::string SiGetUserName();
// The process's current directory, or empty.
std::string SiGetCurrentDirectory();
// The code of the system's last error on this thread (errno, GetLastError), read right after
// a failed call.
std::uint32_t SiLastSystemError() noexcept;
// The system's text for an error code, without trailing blanks, line breaks or dot; "" when
// the system has none (callers with a fallback text of their own, such as "OLE error ...").
std::string SiSystemMessage(std::uint32_t AError);
// SiSystemMessage, or where the system has no text for the code (Wine has none for some socket
// errors) the SiUnknownSystemErrorText of the code, so that a message never ends in nothing.
std::string SiSystemErrorText(std::uint32_t AError);
// "System error <code in decimal>", for example "System error 10060".
std::string SiUnknownSystemErrorText(std::uint32_t AError);

}  // namespace deruz::logging
