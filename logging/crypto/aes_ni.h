// AES encryption and decryption with the processor's AES instructions (AES-NI), for TRijndael.
//
// Only aes_ni.cpp is compiled with the instruction set flags, so nothing else in the library
// can pick up instructions that an older processor lacks; callers must check
// SiAesNiAvailable before any other function here. Without the flags (a compiler or target
// that lacks them) the unit reports the instructions as unavailable.
//
// Round keys are the expanded key's bytes in order, (ARounds + 1) * 16 of them: the encryption
// schedule for the Encrypt functions, the schedule of the equivalent inverse cipher (FIPS-197
// 5.3.5: the encryption round keys in reverse order, InvMixColumns applied to all but the first
// and the last) for the Decrypt functions. The functions keep no state and may be called from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace deruz::logging {

// Whether this build has the AES-NI code and the processor supports AES and SSE4.1. The
// processor is asked once.
bool SiAesNiAvailable() noexcept;

// Encrypts ABlocks 16-byte blocks of AData independently, in place. ARounds is 10, 12 or 14.
void SiAesNiEncryptECB(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AData,
                       std::size_t ABlocks) noexcept;

// Encrypts ABlocks 16-byte blocks of AData in CBC mode, in place, starting from the chaining
// vector AIV (16 bytes), which receives the last ciphertext block.
void SiAesNiEncryptCBC(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AIV,
                       std::uint8_t* AData, std::size_t ABlocks) noexcept;

// Decrypts ABlocks 16-byte blocks of AData independently, in place.
void SiAesNiDecryptECB(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AData,
                       std::size_t ABlocks) noexcept;

// Decrypts ABlocks 16-byte blocks of AData in CBC mode, in place, starting from the chaining
// vector AIV (16 bytes), which receives the last ciphertext block.
void SiAesNiDecryptCBC(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AIV,
                       std::uint8_t* AData, std::size_t ABlocks) noexcept;

}  // namespace deruz::logging
