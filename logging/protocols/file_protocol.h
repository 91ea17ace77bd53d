// TSiFileProtocol, the "file" protocol: writes the binary packets into a log file that a log
// viewer can open later. A new file starts with the magic "SILF"; an appended file continues
// without a second one. The protocol can buffer its writes ("buffer"), limit the file size
// ("maxsize"), start a new file every hour, day, week or month in UTC ("rotate"), keep only the
// newest files ("maxparts") and encrypt the file with AES-128-CBC ("encrypt", "key"): then the
// file holds "SILE", a random 16-byte IV in clear, and the encrypted form of what a plain file
// would hold, padded with PKCS#7 when the file is closed.
//
// A rotating protocol ("rotate" set or "maxsize" above 0) names its files after the base name
// with the UTC creation time (see TSiFileHelper). "append=false" replaces the file only at the
// protocol's first connect; later connects of the same protocol continue it (an encrypted file,
// which cannot be continued, is left as it is and the new one takes a time-stamped name beside
// it, as a rotated part would). After a write
// that fails (a full disk), a plain file is cut back to its last complete packet. The file is
// opened for writing with read sharing only: a viewer can read it while it is written, a second
// writer cannot open it.
//
// The text protocol derives from this class and replaces the formatter, the default file name
// and the header and footer (the protected virtual hooks below).
//
// Thread safety: as every protocol, serialised by the framework's lock; in asynchronous mode
// all file work runs on the protocol's worker thread. A synchronous, buffered protocol of an
// owner that serialises its calls (the logger core), writing a plain file that neither
// rotates nor has a stream of its own, hands each full write buffer to the calling thread to
// be written after the owner's lock is let go (deferred_write.h) and fills a second buffer
// meanwhile; its write lock orders the writes to the file, and a failed one is reported by the
// protocol's next write or its disconnect, which cut the file back as after any failed write. Times
// come from the library's clock (logging/system/clock.h): UTC for rotation and file names.
// Ownership: the protocol owns its file, streams, formatter and cipher.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/crypto/cipher.h"
#include "logging/crypto/encrypt_stream.h"
#include "logging/format/formatter.h"
#include "logging/io/buffered_stream.h"
#include "logging/io/file_rotater.h"
#include "logging/io/file_stream.h"
#include "logging/protocols/deferred_write.h"
#include "logging/protocols/protocol.h"

namespace deruz::logging {

// The magic at the start of a binary log file, and of an encrypted one.
inline constexpr std::array<std::uint8_t, 4> SiSILF = {'S', 'I', 'L', 'F'};
inline constexpr std::array<std::uint8_t, 4> SiSILE = {'S', 'I', 'L', 'E'};

// The action of a protocol command (Dispatch) that writes out what the file protocol holds
// and makes its file reach the storage device, for a caller that must know its packets
// survive a crash or a power loss (silog collect acknowledges only then). An encrypted file's
// last, unpadded block stays in memory until the file is closed. Raises like a write.
inline constexpr std::int32_t kSiFileSyncAction = 0x434E5953;

class TSiFileProtocol : public TSiProtocol, private TSiDeferredWriter {
  public:
    TSiFileProtocol();
    ~TSiFileProtocol() override;

    std::string GetName() const override;
    bool WritesLocally() const noexcept override { return true; }
    bool WritesBinary() const noexcept override { return true; }

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    void InternalConnect() override;
    void InternalDisconnect() override;
    void InternalWritePacket(TSiPacket& APacket) override;
    // kSiFileSyncAction; other actions are ignored.
    void InternalDispatch(TSiProtocolCommand& ACommand) override;

    // The formatter that turns packets into file content, created on first use: binary here.
    virtual TSiFormatter& GetFormatter();
    // The "filename" default: "log.sil".
    virtual std::string GetDefaultFileName() const;
    // A stream to put between the file (or cipher) stream and the write buffer; the protocol
    // owns it and releases it when the file is closed. Nothing here: the stream is used as is.
    virtual std::unique_ptr<TSiStream> GetStream(TSiStream& AStream);
    // Writes the file's header when ASize (the bytes the file holds so far) is 0 and returns the
    // new size: "SILF" and 4 here; an appended file gets nothing.
    virtual std::int64_t WriteHeader(TSiStream& AStream, std::int64_t ASize);
    // Writes what ends a file, before it is closed: nothing here.
    virtual void WriteFooter(TSiStream& AStream);

    // Opens the file (a new rotated name unless AAppend finds one to continue) and prepares
    // the streams; on failure what was opened is closed by the framework's disconnect.
    void InternalDoConnect(bool AAppend);
    // With "encrypt", checks the key before any file is touched.
    void InternalBeforeConnect();
    // For a rotating protocol: the rotation period of the opened file and the "maxparts" limit.
    void InternalAfterConnect(const std::string& AFileName);
    bool IsRotating() const noexcept { return FRotate != frNone || FMaxSize > 0; }
    // Closes the current file and starts a new one.
    void Rotate();
    // The IV of a new encrypted file: 16 bytes from the system's random source.
    std::array<std::uint8_t, 16> GetIVector();
    // Raises ESiProtocolError with AMessage (the framework adds name and options when it
    // reports it).
    [[noreturn]] void RaiseException(const std::string& AMessage) const;

  private:
    // Sends the write buffer, and with encryption the gathered ciphertext, to the system.
    void FlushBuffers();

    // With deferred writes: writes the compiled packet of ASize bytes into the write buffer,
    // handing the full buffer over first.
    void WriteDeferring(TSiFormatter& AFormatter, std::int64_t ASize);
    // Hands the held bytes to this thread's deferred writes (or writes them at once without a
    // scope). Raises the error of an earlier deferred write.
    void HandOff();
    // Under FWriteLock: raises the error of a deferred write that failed, marking the file torn.
    void RaiseWriteError();
    // Under FWriteLock: writes the handed-off block; keeps an error for RaiseWriteError.
    void WritePending() noexcept;
    void RunDeferredWrite() noexcept override;

    // Present only while an encrypted file is open.
    std::unique_ptr<TRijndael> FCipher;
    std::unique_ptr<TEncryptStream> FCipherStream;
    // Gathers the cipher stream's output, which comes in small pieces, into one system write
    // per flush.
    std::unique_ptr<TSiBufferedStream> FCipherBuffer;

    TSiFileRotate FRotate = frNone;
    TSiFileRotater FRotater;

    std::unique_ptr<TSiFormatter> FFormatter;
    // The stream the write buffer writes to: the file stream, the cipher stream, or the stream
    // from GetStream (then also held in FOwnStream).
    TSiStream* FStream = nullptr;
    std::unique_ptr<TSiStream> FOwnStream;
    std::unique_ptr<TSiFileStream> FFileStream;
    std::unique_ptr<TSiBufferedStream> FBuffer;

    std::int64_t FIOBuffer = 0;
    // Bytes of packets in the write buffer since its last flush: not yet known to be in the file.
    std::int64_t FIOBufferCounter = 0;

    // Bytes in the current file as counted for "maxsize": the size it had when opened, its
    // header and every packet's formatted size (plaintext, without the encrypted prefix).
    std::int64_t FFileSize = 0;
    std::int64_t FMaxSize = 0;
    std::int32_t FMaxParts = 0;

    bool FAppend = false;
    std::string FFileName;
    // Set once a file was opened: every later connect (a reconnect after an error, a backlog
    // burst, enabling again) continues that file, whatever "append" says, so that nothing
    // written before is replaced.
    bool FOpened = false;

    // What a reader may see of a plain file: its size after the last write that completed
    // (-1 while encrypted, where the cipher chain decides). A write that fails sets FTorn, and
    // the disconnect that follows cuts the file back there, so no torn packet stays in it.
    std::int64_t FCommitted = -1;
    bool FTorn = false;

    std::vector<std::uint8_t> FKey;
    bool FEncrypt = false;

    // Whether full buffers are handed over to be written outside the owner's lock (set when
    // the file is opened).
    bool FDeferWrites = false;
    // Held from a hand-off until its block is written, and by whatever else writes to the file
    // or reads FCommitted meanwhile; guards FPendingBlock, FPendingCount, FCommitted and the
    // write error while deferred writes are on.
    std::mutex FWriteLock;
    // The block handed over (being written or written), which the next hand-off swaps in again.
    std::unique_ptr<std::uint8_t[]> FPendingBlock;
    std::size_t FPendingCount = 0;
    // A deferred write failed: its message, for the next write or the disconnect to report (the
    // flag is read by each write without the write lock).
    std::atomic<bool> FWriteFailed{false};
    std::string FWriteError;
};

}  // namespace deruz::logging
