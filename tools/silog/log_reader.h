// Reads one log file for `silog dump`, a packet at a time: binary log files ("SILF"),
// encrypted log files ("SILE", decrypted block by block as they are read) and binary memory
// dumps, or text log files and text dumps (UTF-8 with a byte-order mark), which are passed on
// as escaped text.
//
// Memory stays bounded by the largest packet, whatever the size of the file: bytes are read in
// blocks into a window that drops what has been decoded. A packet header is checked, with the
// lengths in its fixed part, before its body is read, so a damaged size field cannot make the
// reader take in more than the file holds.
//
// After damage the reader stops, or with resynchronisation on it looks for the next offset at
// which a well-formed packet starts and reports how many bytes it skipped. When following a
// growing file, the end of the file means "wait" instead of "done", and a packet that is cut
// off at the end is waited for instead of reported.
//
// Thread safety: one thread at a time. Ownership: the reader owns its open file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/crypto/cipher.h"
#include "logging/packets/packet.h"
#include "tools/silog/file_source.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog {

struct TLogReaderOptions {
    // The 16-byte key of encrypted files; empty when none was given.
    std::vector<std::uint8_t> Key;
    bool Resync = false;
    bool Follow = false;
};

struct TLogStep {
    enum TWhat {
        lsPacket,   // Packet holds the next packet
        lsText,     // Text holds the next piece of a text log, escaped
        lsWait,     // following: nothing more for now
        lsEnd,      // the file is done
        lsDamage,   // Message names the damage and its offset; the file goes on only when
                    // resynchronising
        lsSkipped,  // Message says how many bytes resynchronisation skipped
        lsFailure,  // Message names a failure that ends the file (read error, not a log, key)
    };
    TWhat What = lsEnd;
    logging::TSiPacketPtr Packet;
    std::string Text;
    std::string Message;
};

class TLogReader {
  public:
    explicit TLogReader(TLogReaderOptions AOptions);
    ~TLogReader();

    // Opens the file; on failure returns false with the system's reason in AError.
    bool Open(const std::string& APath, std::string& AError);
    TLogStep Next();

    TFileSource& Source() noexcept { return FSource; }
    // Bytes read from the file so far.
    std::uint64_t BytesRead() const noexcept { return FRawRead; }

  private:
    enum class TKind { Unknown, Binary, Encrypted, Text };

    TLogStep Detect();
    TLogStep NextText();
    TLogStep NextPacket();
    TLogStep Resync();
    TLogStep Damage(const std::string& AMessage);
    TLogStep Failure(const std::string& AMessage);
    // Reads from the file: appends to FRawPending (raw bytes not yet used). Returns the count,
    // 0 at the end, -1 after a read error (FError set).
    std::ptrdiff_t ReadRaw();
    // Appends plain log bytes to the window. Returns whether any came; false at the end or on
    // an error (FError set).
    bool Pull();
    // Makes at least ACount bytes available in the window if the file has them.
    bool Fill(std::size_t ACount);
    // Appends decrypted bytes to the window, dropping the "SILF" that starts the plain log.
    void EmitPlain(const std::uint8_t* ABytes, std::size_t ACount);
    std::size_t Available() const noexcept { return FBuffer.size() - FStart; }
    const std::uint8_t* Data() const noexcept { return FBuffer.data() + FStart; }
    void Consume(std::size_t ACount);
    // Whether a packet may start at the window's start: a known type whose lengths in the
    // fixed part add up to the size in its header, and that fits what remains of a file of
    // known size. Only then is the whole packet read into the window (hcOk); hcNeedMore when
    // the file ends first. ATotal is the packet's full size; AWhy, when given, names what is
    // wrong.
    enum THeaderCheck { hcOk, hcInvalid, hcNeedMore };
    THeaderCheck CheckHeader(std::size_t& ATotal, std::string* AWhy);
    // The remaining size of a plain file from the window's start, when it is known.
    std::optional<std::uint64_t> Remaining();
    std::string Where() const;

    TLogReaderOptions FOptions;
    TFileSource FSource;
    TKind FKind = TKind::Unknown;
    bool FDone = false;
    bool FEnded = false;  // the file has no more bytes (not when following)
    std::string FError;
    std::uint64_t FRawRead = 0;
    bool FSizeAsked = false;
    std::optional<std::uint64_t> FSize;
    std::vector<std::uint8_t> FRawPending;
    // The window of plain log bytes: FBuffer[FStart..] starts at log offset FOffset.
    std::vector<std::uint8_t> FBuffer;
    std::size_t FStart = 0;
    std::uint64_t FOffset = 0;
    // Encrypted files: the cipher once the vector is read, the last decrypted block (held
    // back until it is known not to be the padding), and a note on a partial last block.
    std::unique_ptr<logging::TRijndael> FCipher;
    std::vector<std::uint8_t> FHeld;
    bool FMagicChecked = false;
    std::size_t FPlainSkip = 4;
    std::string FTruncation;
    // Resynchronisation: under way since FSkipFrom, and the packet found at its end.
    bool FResyncing = false;
    std::uint64_t FSkipFrom = 0;
    logging::TSiPacketPtr FFound;
    TStreamEscaper FEscaper;
};

// Following a log as it grows (silog dump --follow, silog view --follow). A path that names no
// file may be the base name of a rotating file protocol: the file to read first is then the
// newest of its rotated files (ABaseName set).
std::string FirstFollowedFile(const std::string& APath, bool& ABaseName);
// The file that follows the one being read (ACurrent, read by AReader), or "" while there is
// none: for a base name, the newest of its rotated files; for a path, a new file at that path,
// or the same file again from its start when it was truncated.
std::string NextFollowedFile(const std::string& APath, bool ABaseName, const std::string& ACurrent,
                             TLogReader& AReader);

}  // namespace deruz::silog
