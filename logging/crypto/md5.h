// Message digests: the abstract THash, the block-buffering TBaseHash and MD5 (RFC 1321),
// which derives the initialisation vector of an encrypted log file from the time it was
// opened.
//
// Thread safety: a hash object is used by one thread at a time. Ownership: it copies the data
// it is given and keeps no reference to it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace deruz::logging {

class THash {
  public:
    THash(const THash&) = delete;
    THash& operator=(const THash&) = delete;
    virtual ~THash() = default;

    // Adds ACount bytes. Raises std::logic_error "Hash is finished" after Done.
    virtual void Update(const void* AData, std::size_t ACount) = 0;
    // Finishes the hash with the algorithm's padding; later calls do nothing.
    virtual void Done() = 0;
    // The digest, finishing the hash first when Done has not been called yet.
    virtual std::span<const std::uint8_t> GetDigest() = 0;
    virtual std::size_t DigestSize() const noexcept = 0;

  protected:
    THash() = default;
};

// A hash over 64-byte blocks: collects input into whole blocks for Transform.
class TBaseHash : public THash {
  public:
    void Update(const void* AData, std::size_t ACount) override;

  protected:
    static constexpr std::size_t kBlockSize = 64;

    TBaseHash() = default;

    // Processes one whole 64-byte input block.
    virtual void Transform(const std::uint8_t* ABlock) noexcept = 0;

    // Bytes hashed so far.
    std::int64_t FCount = 0;
    // The pending, not yet complete input block (FCount % 64 bytes of it are in use).
    std::array<std::uint8_t, kBlockSize> FDataBuffer{};
    // The hash state.
    std::array<std::uint32_t, 4> FDigest{};
    bool FDone = false;
};

class TMD5 final : public TBaseHash {
  public:
    TMD5();
    // Hashes ACount bytes of AData; call Done (or GetDigest) for the digest.
    TMD5(const void* AData, std::size_t ACount);

    void Done() override;
    std::span<const std::uint8_t> GetDigest() override;
    std::size_t DigestSize() const noexcept override { return 16; }

  protected:
    void Transform(const std::uint8_t* ABlock) noexcept override;

  private:
    std::array<std::uint8_t, 16> FDigestBytes{};
};

}  // namespace deruz::logging
