// AES-128-CBC encryption throughput of the log-file cipher: TRijndael with the AES
// instructions and with the portable table code, the encrypting stream on top of it, and
// OpenSSL's EVP interface as the peer. Each iteration encrypts one 64 KiB buffer in place,
// continuing the chain, as a log file that is written for a long time does.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "logging/base/stream.h"
#include "logging/crypto/cipher.h"
#include "logging/crypto/encrypt_stream.h"

namespace {

using namespace deruz::logging;

constexpr std::size_t kBufferSize = 64 * 1024;

const std::uint8_t kKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
const std::uint8_t kIV[16] = {0x0f, 0x0e, 0x0d, 0x0c, 0x0b, 0x0a, 0x09, 0x08,
                              0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00};

std::vector<std::uint8_t> Buffer() {
    std::vector<std::uint8_t> buffer(kBufferSize);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return buffer;
}

void RijndaelCbc(benchmark::State& AState, TAesEngine AEngine) {
    TRijndael cipher(kKey, 16, AEngine);
    if (AEngine == aeAuto && !cipher.UsesAesNi()) {
        AState.SkipWithError("the processor has no AES instructions");
        return;
    }
    cipher.SetMode(cmCBC);
    cipher.SetIVector(kIV);
    std::vector<std::uint8_t> buffer = Buffer();
    for (auto _ : AState) {
        cipher.Encrypt(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * kBufferSize));
}

void BM_TRijndaelCbcAesNi(benchmark::State& AState) {
    RijndaelCbc(AState, aeAuto);
}
void BM_TRijndaelCbcPortable(benchmark::State& AState) {
    RijndaelCbc(AState, aePortable);
}

// A data stream that takes everything and keeps nothing.
class TNullStream final : public TSiStream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        benchmark::DoNotOptimize(ABuffer);
        return ACount;
    }
};

// The whole path of an encrypted log file: 1 KiB pieces, copies and the stream calls.
void BM_TEncryptStreamAesNi(benchmark::State& AState) {
    TRijndael cipher(kKey, 16);
    if (!cipher.UsesAesNi()) {
        AState.SkipWithError("the processor has no AES instructions");
        return;
    }
    cipher.SetMode(cmCBC);
    cipher.SetIVector(kIV);
    TNullStream output;
    TEncryptStream stream(output, cipher);
    const std::vector<std::uint8_t> buffer = Buffer();
    for (auto _ : AState) {
        stream.Write(buffer.data(), buffer.size());
    }
    AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * kBufferSize));
}

void BM_OpenSslEvpCbc(benchmark::State& AState) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(
        EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, kKey, kIV) != 1) {
        AState.SkipWithError("OpenSSL cipher set-up failed");
        return;
    }
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::vector<std::uint8_t> buffer = Buffer();
    for (auto _ : AState) {
        int written = 0;
        EVP_EncryptUpdate(context.get(), buffer.data(), &written, buffer.data(),
                          static_cast<int>(buffer.size()));
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * kBufferSize));
}

BENCHMARK(BM_OpenSslEvpCbc);
BENCHMARK(BM_TRijndaelCbcAesNi);
BENCHMARK(BM_TRijndaelCbcPortable);
BENCHMARK(BM_TEncryptStreamAesNi);

}  // namespace
