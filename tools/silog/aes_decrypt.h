// AES-128 decryption in CBC mode, for reading encrypted log files. The library itself only
// ever encrypts; reading logs back is the tool's business.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace deruz::silog {

class TAes128Decryptor {
public:
    explicit TAes128Decryptor(std::span<const std::uint8_t, 16> AKey);
    ~TAes128Decryptor();
    TAes128Decryptor(const TAes128Decryptor&) = delete;
    TAes128Decryptor& operator=(const TAes128Decryptor&) = delete;

    // Decrypts one 16-byte block in place.
    void DecryptBlock(std::uint8_t* ABlock) const;
    // Decrypts whole blocks in CBC mode; AIv is updated to continue the chain.
    void DecryptCbc(std::span<std::uint8_t> AData, std::array<std::uint8_t, 16>& AIv) const;

private:
    std::array<std::uint8_t, 176> FRoundKeys{};
};

}  // namespace deruz::silog
