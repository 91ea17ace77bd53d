// The block cipher behind encrypted log files: the abstract TCipher, the chaining modes of
// TBlockCipher and the AES implementation TRijndael (FIPS-197), which uses the processor's AES
// instructions when it has them and portable table code otherwise.
//
// Key and chaining material is wiped with ProtectClear when a cipher is destroyed, so that a
// released log-file cipher leaves no round keys in freed memory.
//
// Thread safety: a cipher holds chaining state and is used by one thread at a time (a file
// protocol uses its cipher under its own lock). Ownership: a cipher copies the key it is given
// and owns nothing else; ciphers are not copyable, so key material exists in one place only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "logging/base/errors.h"

namespace deruz::logging {

// A cipher was given a key, vector or data it cannot work with.
class ECipherError : public ESiError {
  public:
    using ESiError::ESiError;
};

// Overwrites ACount bytes with 0xFF, 0xAA, 0x55 and finally 0x00. The writes are volatile, so
// the optimiser cannot drop them as dead stores before the memory is released.
void ProtectClear(void* ABuffer, std::size_t ACount) noexcept;

// The chaining modes. cmABC is named for completeness and not implemented: Encrypt raises
// std::logic_error "Cipher mode not supported" for it, as for any value outside the list.
enum TCipherMode : std::uint8_t { cmECB, cmCFB, cmCBC, cmOFB, cmABC, cmCTR };

// An abstract cipher that encrypts and decrypts in place in its current mode.
class TCipher {
  public:
    TCipher(const TCipher&) = delete;
    TCipher& operator=(const TCipher&) = delete;
    virtual ~TCipher() = default;

    virtual std::string_view AlgorithmName() const noexcept = 0;
    virtual int MinKeySize() const noexcept = 0;
    virtual int MaxKeySize() const noexcept = 0;

    TCipherMode Mode() const noexcept { return FMode; }
    // Raises std::logic_error "Cipher mode not supported" for a value outside TCipherMode.
    void SetMode(TCipherMode AMode);

    // The chaining vector: the IV before the first Encrypt or Decrypt, afterwards the state
    // that the next call continues from.
    virtual std::span<const std::uint8_t> IVector() const noexcept = 0;
    // Sets the chaining vector; AVector must hold exactly one block (ECipherError otherwise).
    virtual void SetIVector(std::span<const std::uint8_t> AVector) = 0;

    // Encrypts ACount bytes in place in the current mode, continuing the chain of the
    // previous call.
    virtual void Encrypt(void* ABuffer, std::size_t ACount) = 0;
    // Decrypts ACount bytes in place in the current mode, continuing the chain of the previous
    // call: the inverse of Encrypt with the same key, mode and initial vector, however either
    // side splits the data into calls.
    virtual void Decrypt(void* ABuffer, std::size_t ACount) = 0;

  protected:
    TCipher() = default;

    TCipherMode FMode = cmECB;
};

// A cipher over fixed-size blocks, with the chaining modes built on its block functions.
//
// ECB and CBC take whole blocks only: a count that is not a multiple of the block size raises
// ECipherError and leaves the data and the chain untouched (encrypting all but the tail would
// leave plaintext in the caller's buffer). CFB, OFB and CTR are the full-block feedback
// variants and accept any count: FFBIndex keeps the position within the current key stream
// block, so the output does not depend on how the data is split into calls. CTR counts the
// whole vector as one big-endian number. The stream modes only ever run the block encryption,
// also when they decrypt.
class TBlockCipher : public TCipher {
  public:
    // The largest block any cipher of this family uses.
    static constexpr int kMaxBlockSize = 16;

    ~TBlockCipher() override;

    // At most kMaxBlockSize.
    virtual int BlockSize() const noexcept = 0;

    std::span<const std::uint8_t> IVector() const noexcept override;
    void SetIVector(std::span<const std::uint8_t> AVector) override;
    void Encrypt(void* ABuffer, std::size_t ACount) override;
    void Decrypt(void* ABuffer, std::size_t ACount) override;

  protected:
    TBlockCipher() = default;

    // Encrypts ABlocks whole blocks independently, in place.
    virtual void EncryptECB(std::uint8_t* AData, std::size_t ABlocks) = 0;
    // Encrypts ABlocks whole blocks in CBC mode with FIV as the chaining vector and leaves
    // the last ciphertext block in FIV. The default goes block by block through EncryptECB;
    // ciphers override it when they can keep the chain in registers.
    virtual void EncryptCBC(std::uint8_t* AData, std::size_t ABlocks);
    // The inverses of EncryptECB and EncryptCBC; DecryptCBC leaves the last ciphertext block
    // in FIV as well.
    virtual void DecryptECB(std::uint8_t* AData, std::size_t ABlocks) = 0;
    virtual void DecryptCBC(std::uint8_t* AData, std::size_t ABlocks);

    // The chaining vector (first BlockSize bytes).
    std::array<std::uint8_t, kMaxBlockSize> FIV{};
    // Position within the key stream block of CFB, OFB and CTR (0 to BlockSize - 1).
    std::int32_t FFBIndex = 0;
    // The current CTR key stream block (E(counter) of the counter before FIV).
    std::array<std::uint8_t, kMaxBlockSize> FKeyStream{};

  private:
    void Crypt(void* ABuffer, std::size_t ACount, bool ADecrypt);
    void CryptStream(std::uint8_t* AData, std::size_t ACount, bool ADecrypt);
};

// How a TRijndael encrypts: aeAuto uses the AES instructions when the processor has them;
// aePortable always uses the table code (for tests and benchmarks).
enum TAesEngine : std::uint8_t { aeAuto, aePortable };

// AES with a 128-bit block. A key of 1 to 16 bytes is zero-filled to 16 (AES-128, 10 rounds),
// 17 to 24 bytes to 24 (AES-192, 12 rounds), 25 to 32 bytes to 32 (AES-256, 14 rounds). A
// count of 0 or less, or above 32, raises ECipherError "Rijndael: Invalid key size - %d".
// Both key schedules are expanded on construction, so decryption costs no set-up of its own.
class TRijndael final : public TBlockCipher {
  public:
    TRijndael(const void* AKey, int ACount, TAesEngine AEngine = aeAuto);
    ~TRijndael() override;

    std::string_view AlgorithmName() const noexcept override { return "Rijndael"; }
    int MinKeySize() const noexcept override { return 16; }
    int MaxKeySize() const noexcept override { return 32; }
    int BlockSize() const noexcept override { return 16; }

    int Rounds() const noexcept { return FNumrounds; }
    // Whether this cipher uses the processor's AES instructions.
    bool UsesAesNi() const noexcept { return FUseAesNi; }
    // Whether the processor (and this build) provides the AES instructions.
    static bool AesNiAvailable() noexcept;

  protected:
    void EncryptECB(std::uint8_t* AData, std::size_t ABlocks) override;
    void EncryptCBC(std::uint8_t* AData, std::size_t ABlocks) override;
    void DecryptECB(std::uint8_t* AData, std::size_t ABlocks) override;
    void DecryptCBC(std::uint8_t* AData, std::size_t ABlocks) override;

  private:
    void EncryptBlockPortable(std::uint8_t* ABlock) const noexcept;
    void DecryptBlockPortable(std::uint8_t* ABlock) const noexcept;

    std::int32_t FNumrounds = 0;
    // Encryption round keys, 4 words per round plus one: native 32-bit words (each the
    // big-endian reading of four key bytes) for the table code, or the plain key bytes in
    // order for the AES instructions, which take them as 16-byte vectors.
    alignas(16) std::array<std::uint32_t, 60> FRk{};
    // Decryption round keys of the equivalent inverse cipher (the encryption round keys in
    // reverse order, InvMixColumns applied to all but the first and the last), in the same
    // layout as rk.
    alignas(16) std::array<std::uint32_t, 60> FDk{};
    bool FUseAesNi = false;
};

}  // namespace deruz::logging
