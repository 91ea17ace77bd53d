// TEncryptStream: a write-only stream that encrypts everything written to it with a block
// cipher and passes the ciphertext on to a data stream; used for encrypted log files.
//
// Whole blocks are encrypted and written as soon as they are complete; the 0 to BlockSize - 1
// trailing bytes wait in FBlock until more data arrives or Done pads them. The ciphertext
// therefore does not depend on how the plaintext was split into writes.
//
// Thread safety: one thread at a time (the file protocol's lock). Ownership: neither the
// cipher nor the data stream is owned; both must outlive the encrypt stream. Destruction
// wipes the pending plaintext and writes nothing: a stream released without Done leaves the
// data stream ending after the last whole block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "logging/base/stream.h"
#include "logging/crypto/cipher.h"

namespace deruz::logging {

class TEncryptStream final : public TSiStream {
  public:
    // The cipher's mode and vector are used as set (CBC for log files).
    TEncryptStream(TSiStream& ADataStream, TBlockCipher& ACipher);
    ~TEncryptStream() override;

    // Reading is not supported: always 0.
    std::size_t Read(void* ABuffer, std::size_t ACount) override;
    // Encrypts and writes every whole block; returns ACount. Raises ESiStreamError "Stream
    // write error" when the data stream does not take the ciphertext.
    std::size_t Write(const void* ABuffer, std::size_t ACount) override;
    // Passed to the data stream.
    std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) override;

    // Pads the pending bytes to a whole block with PKCS#7 (BlockSize - FBlockCount bytes of
    // that value; a whole block when nothing is pending), encrypts and writes it, and returns
    // the number of padding bytes.
    int Done();

    TBlockCipher& Cipher() const noexcept { return *FCipher; }
    TSiStream& DataStream() const noexcept { return *FDataStream; }

  private:
    // Plaintext reaches the cipher in pieces of at most this many bytes.
    static constexpr std::size_t kPieceSize = 1024;

    std::array<std::uint8_t, TBlockCipher::kMaxBlockSize> FBlock{};
    std::int32_t FBlockCount = 0;
    std::int32_t FBlockSize = 0;
    TBlockCipher* FCipher;
    TSiStream* FDataStream;
};

}  // namespace deruz::logging
