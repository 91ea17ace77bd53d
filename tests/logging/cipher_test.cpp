// The log-file cipher: AES (both engines, both directions) against the FIPS-197 and SP 800-38A
// vectors and against each other, the chaining modes against OpenSSL and as round trips, MD5
// against RFC 1321 and OpenSSL, the encrypting stream (split independence, padding, decryption
// by OpenSSL) and the wiping of key material.
//
// OpenSSL is used as an independent reference through the `openssl` program; the tests that
// need it are skipped where it cannot be started (under Wine).
#include "logging/crypto/cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <random>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "logging/base/stream.h"
#include "logging/crypto/encrypt_stream.h"
#include "logging/crypto/md5.h"

namespace deruz::logging {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes Hex(std::string_view AText) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < AText.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(AText.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(std::span<const std::uint8_t> ABytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : ABytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

Bytes Random(std::size_t ACount, std::uint32_t ASeed) {
    std::mt19937 generator(ASeed);
    Bytes bytes(ACount);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

// The engines to run a test with: the table code always, the AES instructions when present.
std::vector<TAesEngine> Engines() {
    std::vector<TAesEngine> engines{aePortable};
    if (TRijndael::AesNiAvailable()) {
        engines.push_back(aeAuto);
    }
    return engines;
}

Bytes EncryptWith(TRijndael& ACipher, Bytes AData) {
    ACipher.Encrypt(AData.data(), AData.size());
    return AData;
}

Bytes DecryptWith(TRijndael& ACipher, Bytes AData) {
    ACipher.Decrypt(AData.data(), AData.size());
    return AData;
}

// ---- OpenSSL as a child process ----

// A file in the temporary directory, deleted with this object.
class TTempFile {
  public:
    explicit TTempFile(const std::string& AName)
        : FPath(fs::temp_directory_path() /
                ("deruz_cipher_" + std::to_string(std::random_device{}()) + "_" + AName)) {}
    ~TTempFile() {
        std::error_code ignored;
        fs::remove(FPath, ignored);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    std::string Quoted() const { return "\"" + FPath.string() + "\""; }

    void Store(const Bytes& ABytes) const {
        std::ofstream file(FPath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(ABytes.data()),
                   static_cast<std::streamsize>(ABytes.size()));
    }

    Bytes Load() const {
        std::ifstream file(FPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

  private:
    fs::path FPath;
};

// Runs `openssl AArguments`, its output going to AOutput; true when it exits with 0.
bool RunOpenSsl(const std::string& AArguments, const TTempFile& AOutput) {
    const std::string command = "openssl " + AArguments + " > " + AOutput.Quoted() + " 2>&1";
    return std::system(command.c_str()) == 0;
}

bool OpenSslAvailable() {
    static const bool available = [] {
        const TTempFile output("version.txt");
        return RunOpenSsl("version", output);
    }();
    return available;
}

#define REQUIRE_OPENSSL()                                             \
    if (!OpenSslAvailable()) {                                        \
        GTEST_SKIP() << "the openssl program cannot be started here"; \
    }

// Encrypts (or, with ADecrypt, decrypts) AInput with `openssl enc`, without padding unless
// asked for.
Bytes OpenSslEnc(const std::string& ACipherName, const Bytes& AKey, const Bytes& AIV,
                 const Bytes& AInput, bool ADecrypt = false, bool APadding = false) {
    const TTempFile input("in.bin"), output("out.bin"), messages("messages.txt");
    input.Store(AInput);
    std::string arguments = "enc " + std::string(ADecrypt ? "-d" : "-e") + " -" + ACipherName +
                            " -K " + ToHex(AKey) + (AIV.empty() ? "" : " -iv " + ToHex(AIV)) +
                            (APadding ? "" : " -nopad") + " -in " + input.Quoted() + " -out " +
                            output.Quoted();
    if (!RunOpenSsl(arguments, messages)) {
        const Bytes text = messages.Load();
        ADD_FAILURE() << "openssl " << arguments << ": " << std::string(text.begin(), text.end());
        return {};
    }
    return output.Load();
}

// ---- MD5 ----

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        std::string Input;
        const char* Digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Input);
        TMD5 whole(c.Input.data(), c.Input.size());
        EXPECT_EQ(ToHex(whole.GetDigest()), c.Digest);
        EXPECT_EQ(whole.DigestSize(), 16u);

        // The same input fed in uneven pieces through the block buffer.
        TMD5 pieces;
        for (std::size_t at = 0; at < c.Input.size();) {
            const std::size_t take = std::min<std::size_t>(at % 7 + 1, c.Input.size() - at);
            pieces.Update(c.Input.data() + at, take);
            at += take;
        }
        pieces.Done();
        EXPECT_EQ(ToHex(pieces.GetDigest()), c.Digest);
    }
}

TEST(Md5, DoneIsFinal) {
    TMD5 hash("abc", 3);
    hash.Done();
    hash.Done();
    EXPECT_EQ(ToHex(hash.GetDigest()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_THROW(hash.Update("d", 1), std::logic_error);
}

// Every length around the padding boundaries (55/56 bytes into a block, one and two blocks)
// against OpenSSL, in one run of the program.
TEST(Md5, PaddingBoundariesMatchOpenSsl) {
    REQUIRE_OPENSSL();
    const Bytes data = Random(130, 5);
    std::vector<std::unique_ptr<TTempFile>> files;
    std::string arguments = "dgst -md5 -r";
    for (std::size_t length = 0; length <= data.size(); ++length) {
        files.push_back(std::make_unique<TTempFile>("md5_" + std::to_string(length)));
        files.back()->Store(
            Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)));
        arguments += " " + files.back()->Quoted();
    }
    const TTempFile output("md5.txt");
    ASSERT_TRUE(RunOpenSsl(arguments, output));
    const Bytes text = output.Load();
    std::istringstream lines(std::string(text.begin(), text.end()));
    for (std::size_t length = 0; length <= data.size(); ++length) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        TMD5 hash(data.data(), length);
        EXPECT_EQ(ToHex(hash.GetDigest()), line.substr(0, 32)) << "length " << length;
    }
}

// ---- AES ----

struct TAesVector {
    const char* Key;
    const char* Plain;
    const char* Cipher;
};

// FIPS-197 appendix C (AES-128, -192, -256, each with its inverse cipher) and appendix B.
constexpr TAesVector kFipsVectors[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
};

TEST(Rijndael, FipsVectorsOnEveryEngine) {
    for (const TAesEngine engine : Engines()) {
        for (const auto& v : kFipsVectors) {
            SCOPED_TRACE(std::string(v.Key) + (engine == aePortable ? " portable" : " AES-NI"));
            const Bytes key = Hex(v.Key);
            TRijndael cipher(key.data(), static_cast<int>(key.size()), engine);
            EXPECT_EQ(cipher.UsesAesNi(), engine == aeAuto);
            EXPECT_EQ(cipher.Rounds(), static_cast<int>(key.size()) / 4 + 6);
            EXPECT_EQ(ToHex(EncryptWith(cipher, Hex(v.Plain))), v.Cipher);
            EXPECT_EQ(ToHex(DecryptWith(cipher, Hex(v.Cipher))), v.Plain);
        }
    }
}

// SP 800-38A F.2.1 and F.2.2: four blocks of CBC-AES128, encrypted and decrypted in one call
// and split over calls (the chain continues; the AES instructions take four blocks at once
// when decrypting, so splits decide which blocks go that way), leaving the last ciphertext
// block as the vector.
TEST(Rijndael, CbcContinuesTheChainAcrossCalls) {
    const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv = Hex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain =
        Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const std::string expected =
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    for (const TAesEngine engine : Engines()) {
        for (const std::size_t split : {std::size_t{0}, std::size_t{16}, std::size_t{48}}) {
            SCOPED_TRACE(split);
            TRijndael cipher(key.data(), 16, engine);
            cipher.SetMode(cmCBC);
            cipher.SetIVector(iv);
            Bytes data = plain;
            cipher.Encrypt(data.data(), split);
            cipher.Encrypt(data.data() + split, data.size() - split);
            EXPECT_EQ(ToHex(data), expected);
            EXPECT_EQ(ToHex(cipher.IVector()), expected.substr(96));

            TRijndael decipher(key.data(), 16, engine);
            decipher.SetMode(cmCBC);
            decipher.SetIVector(iv);
            decipher.Decrypt(data.data(), split);
            decipher.Decrypt(data.data() + split, data.size() - split);
            EXPECT_EQ(data, plain);
            EXPECT_EQ(ToHex(decipher.IVector()), expected.substr(96));
        }
    }
}

// Short keys are zero-filled to the next AES key size, which also picks the round count.
TEST(Rijndael, KeyLengthSelectsAesVariant) {
    const Bytes key = Random(32, 1);
    const Bytes block = Random(16, 2);
    const struct {
        int Count;
        int FilledTo;
        int Rounds;
    } cases[] = {{1, 16, 10},  {5, 16, 10},  {16, 16, 10}, {17, 24, 12}, {20, 24, 12},
                 {24, 24, 12}, {25, 32, 14}, {30, 32, 14}, {32, 32, 14}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Count);
        Bytes filled(key.begin(), key.begin() + c.Count);
        filled.resize(static_cast<std::size_t>(c.FilledTo), 0);
        TRijndael shortKey(key.data(), c.Count);
        TRijndael fullKey(filled.data(), c.FilledTo);
        EXPECT_EQ(shortKey.Rounds(), c.Rounds);
        EXPECT_EQ(EncryptWith(shortKey, block), EncryptWith(fullKey, block));
    }
}

// The message of the E that AAction raises, or "(none)".
template <class E, class F>
std::string ErrorOf(F&& AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.what();
    }
    return "(none)";
}

TEST(Rijndael, Errors) {
    const Bytes key(64, 7);
    for (const int count : {0, -1, 33, 64}) {
        EXPECT_EQ(ErrorOf<ECipherError>([&] { TRijndael cipher(key.data(), count); }),
                  "Rijndael: Invalid key size - " + std::to_string(count));
    }

    TRijndael cipher(key.data(), 16);
    EXPECT_EQ(cipher.BlockSize(), 16);
    EXPECT_EQ(cipher.AlgorithmName(), "Rijndael");
    EXPECT_THROW(cipher.SetIVector(Bytes(15)), ECipherError);

    // A partial block in a block mode is refused before anything changes.
    cipher.SetMode(cmCBC);
    cipher.SetIVector(Bytes(16, 0x11));
    Bytes data = Random(20, 3);
    const Bytes original = data;
    EXPECT_THROW(cipher.Encrypt(data.data(), data.size()), ECipherError);
    EXPECT_THROW(cipher.Decrypt(data.data(), data.size()), ECipherError);
    EXPECT_EQ(data, original);
    EXPECT_EQ(cipher.IVector()[0], 0x11);

    EXPECT_EQ(ErrorOf<std::logic_error>([&] { cipher.SetMode(static_cast<TCipherMode>(6)); }),
              "Cipher mode not supported");
    cipher.SetMode(cmABC);
    EXPECT_EQ(ErrorOf<std::logic_error>([&] { cipher.Encrypt(data.data(), 16); }),
              "Cipher mode not supported");
    EXPECT_EQ(ErrorOf<std::logic_error>([&] { cipher.Decrypt(data.data(), 16); }),
              "Cipher mode not supported");
}

// Decrypt undoes Encrypt in every mode, key size and engine, however either side splits the
// data (the stream modes at any byte, the block modes at block multiples), and both sides end
// with the same chaining state. The data length leaves a tail after groups of four blocks.
TEST(Rijndael, DecryptInvertsEncryptInEveryMode) {
    const struct {
        TCipherMode Mode;
        std::size_t Size;
        std::vector<std::size_t> EncryptSplits;
        std::vector<std::size_t> DecryptSplits;
    } cases[] = {
        {cmECB, 16 * 67, {16 * 5}, {16, 16 * 64}},   {cmCBC, 16 * 67, {16 * 5}, {16, 16 * 64}},
        {cmCFB, 16 * 67 + 5, {5, 100}, {1, 17, 33}}, {cmOFB, 16 * 67 + 5, {5, 100}, {1, 17, 33}},
        {cmCTR, 16 * 67 + 5, {5, 100}, {1, 17, 33}},
    };
    const auto Run = [](TRijndael& ACipher, Bytes& AData, const std::vector<std::size_t>& ASplits,
                        bool ADecrypt) {
        std::size_t at = 0;
        for (const std::size_t piece : ASplits) {
            ADecrypt ? ACipher.Decrypt(AData.data() + at, piece)
                     : ACipher.Encrypt(AData.data() + at, piece);
            at += piece;
        }
        ADecrypt ? ACipher.Decrypt(AData.data() + at, AData.size() - at)
                 : ACipher.Encrypt(AData.data() + at, AData.size() - at);
    };
    std::uint32_t seed = 300;
    for (const TAesEngine engine : Engines()) {
        for (const int keySize : {16, 24, 32}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::to_string(keySize) + " mode " + std::to_string(int{c.Mode}) +
                             (engine == aePortable ? " portable" : " AES-NI"));
                const Bytes key = Random(static_cast<std::size_t>(keySize), ++seed);
                const Bytes iv = Random(16, ++seed);
                const Bytes plain = Random(c.Size, ++seed);
                TRijndael encipher(key.data(), keySize, engine);
                TRijndael decipher(key.data(), keySize, engine);
                for (TRijndael* cipher : {&encipher, &decipher}) {
                    cipher->SetMode(c.Mode);
                    cipher->SetIVector(iv);
                }
                Bytes data = plain;
                Run(encipher, data, c.EncryptSplits, false);
                ASSERT_NE(data, plain);
                Run(decipher, data, c.DecryptSplits, true);
                EXPECT_EQ(data, plain);
                EXPECT_EQ(ToHex(decipher.IVector()), ToHex(encipher.IVector()));
            }
        }
    }
}

// The AES instructions and the table code must agree on random keys and data, in the block
// modes (4-block groups and a tail on the AES-NI side) and in the stream modes.
TEST(Rijndael, AesNiAgreesWithPortable) {
    if (!TRijndael::AesNiAvailable()) {
        GTEST_SKIP() << "the processor has no AES instructions";
    }
    std::uint32_t seed = 100;
    for (const int keySize : {16, 24, 32}) {
        for (const TCipherMode mode : {cmECB, cmCBC, cmCFB, cmOFB, cmCTR}) {
            SCOPED_TRACE(std::to_string(keySize) + " mode " + std::to_string(int{mode}));
            const Bytes key = Random(static_cast<std::size_t>(keySize), ++seed);
            const Bytes iv = Random(16, ++seed);
            const Bytes data = Random(16 * 67, ++seed);
            TRijndael fast(key.data(), keySize, aeAuto);
            TRijndael portable(key.data(), keySize, aePortable);
            for (TRijndael* cipher : {&fast, &portable}) {
                cipher->SetMode(mode);
                cipher->SetIVector(iv);
            }
            EXPECT_EQ(EncryptWith(fast, data), EncryptWith(portable, data));
            EXPECT_EQ(ToHex(fast.IVector()), ToHex(portable.IVector()));
            EXPECT_EQ(DecryptWith(fast, data), DecryptWith(portable, data));
            EXPECT_EQ(ToHex(fast.IVector()), ToHex(portable.IVector()));
        }
    }
}

// Every mode against `openssl enc`, with the data split over calls at awkward places (block
// multiples for the block modes, anywhere for the stream modes); OpenSSL's ciphertext decrypts
// back to the plaintext in one call.
TEST(Rijndael, ModesMatchOpenSsl) {
    REQUIRE_OPENSSL();
    const struct {
        TCipherMode Mode;
        const char* Name;
        std::size_t Size;
        std::vector<std::size_t> Splits;
    } cases[] = {
        {cmECB, "ecb", 1008, {16, 512}},        {cmCBC, "cbc", 1008, {32, 1024 - 16 - 32}},
        {cmCFB, "cfb", 1001, {1, 7, 16, 300}},  {cmOFB, "ofb", 1001, {15, 2, 33}},
        {cmCTR, "ctr", 1001, {3, 16, 17, 500}},
    };
    std::uint32_t seed = 200;
    for (const int keySize : {16, 32}) {
        for (const auto& c : cases) {
            const std::string name = "aes-" + std::to_string(8 * keySize) + "-" + c.Name;
            SCOPED_TRACE(name);
            const Bytes key = Random(static_cast<std::size_t>(keySize), ++seed);
            // A counter block close to wrapping, so the carry crosses bytes.
            Bytes iv = Random(16, ++seed);
            std::fill(iv.begin() + 12, iv.end(), 0xFF);
            const Bytes plain = Random(c.Size, ++seed);
            for (const TAesEngine engine : Engines()) {
                TRijndael cipher(key.data(), keySize, engine);
                cipher.SetMode(c.Mode);
                cipher.SetIVector(iv);
                Bytes data = plain;
                std::size_t at = 0;
                for (const std::size_t piece : c.Splits) {
                    cipher.Encrypt(data.data() + at, piece);
                    at += piece;
                }
                cipher.Encrypt(data.data() + at, data.size() - at);
                const Bytes reference =
                    OpenSslEnc(name, key, c.Mode == cmECB ? Bytes{} : iv, plain);
                EXPECT_EQ(data, reference);

                TRijndael decipher(key.data(), keySize, engine);
                decipher.SetMode(c.Mode);
                decipher.SetIVector(iv);
                EXPECT_EQ(DecryptWith(decipher, reference), plain);
            }
        }
    }
}

// ---- Wiping ----

bool Contains(std::span<const std::uint8_t> AHaystack, const Bytes& ANeedle) {
    return std::search(AHaystack.begin(), AHaystack.end(), ANeedle.begin(), ANeedle.end()) !=
           AHaystack.end();
}

// The key as the table code keeps it: each group of four bytes as a native 32-bit word.
Bytes AsNativeWords(const Bytes& AKey) {
    Bytes words(AKey.size());
    for (std::size_t i = 0; i < AKey.size(); i += 4) {
        const std::uint32_t word = (std::uint32_t{AKey[i]} << 24) |
                                   (std::uint32_t{AKey[i + 1]} << 16) |
                                   (std::uint32_t{AKey[i + 2]} << 8) | AKey[i + 3];
        std::memcpy(words.data() + i, &word, 4);
    }
    return words;
}

TEST(ProtectClear, LeavesZeros) {
    Bytes data = Random(37, 9);
    ProtectClear(data.data(), data.size());
    EXPECT_EQ(data, Bytes(37, 0));
}

// Objects are built in storage that outlives them, so what their destructors leave behind can
// be inspected: neither the round keys (the key itself is the first encryption round key and
// the last decryption round key, so its image stays until both schedules are wiped) nor the
// chaining vector nor pending plaintext.
TEST(ProtectClear, DestructorsWipeKeyVectorAndPendingPlaintext) {
    const Bytes key = Random(16, 10);
    const Bytes iv = Random(16, 11);
    for (const TAesEngine engine : Engines()) {
        SCOPED_TRACE(engine == aePortable ? "portable" : "AES-NI");
        alignas(TRijndael) std::uint8_t storage[sizeof(TRijndael)] = {};
        auto* cipher = new (storage) TRijndael(key.data(), 16, engine);
        cipher->SetMode(cmCBC);
        cipher->SetIVector(iv);
        const Bytes keyImage = cipher->UsesAesNi() ? key : AsNativeWords(key);
        ASSERT_TRUE(Contains(storage, keyImage));
        ASSERT_TRUE(Contains(storage, iv));

        const Bytes pending = Random(15, 12);
        {
            alignas(TEncryptStream) std::uint8_t streamStorage[sizeof(TEncryptStream)] = {};
            TSiMemoryStream output;
            auto* stream = new (streamStorage) TEncryptStream(output, *cipher);
            stream->Write(pending.data(), pending.size());
            ASSERT_TRUE(Contains(streamStorage, pending));
            stream->~TEncryptStream();
            EXPECT_FALSE(Contains(streamStorage, pending));
        }

        cipher->~TRijndael();
        EXPECT_FALSE(Contains(storage, keyImage));
        EXPECT_FALSE(Contains(storage, iv));
    }
}

// ---- The encrypting stream ----

// A log-file cipher: AES-128-CBC with a fixed key and vector.
struct TFileCipher {
    Bytes Key = Hex("00112233445566778899aabbccddeeff");
    Bytes IV = Hex("0f0e0d0c0b0a09080706050403020100");
    TRijndael Cipher{Key.data(), 16};

    TFileCipher() {
        Cipher.SetMode(cmCBC);
        Cipher.SetIVector(IV);
    }
};

// The expected file content: the plaintext with PKCS#7 padding, CBC-encrypted in one call by
// the cipher checked against the vectors above.
Bytes ReferenceCiphertext(const Bytes& APlain) {
    Bytes padded = APlain;
    const std::size_t padding = 16 - APlain.size() % 16;
    padded.insert(padded.end(), padding, static_cast<std::uint8_t>(padding));
    TFileCipher reference;
    return EncryptWith(reference.Cipher, padded);
}

Bytes Content(const TSiMemoryStream& AStream) {
    return {AStream.Bytes().begin(), AStream.Bytes().end()};
}

// However the plaintext is split into writes, whole blocks reach the data stream as soon as
// they are complete, the rest waits, and the result is the same.
TEST(EncryptStream, CiphertextDoesNotDependOnWriteSplits) {
    const Bytes plain = Random(3000, 20);
    const struct {
        const char* Name;
        std::vector<std::size_t> Pattern;  // repeated until the plaintext is used up
    } cases[] = {
        {"whole", {3000}},
        {"bytes", {1}},
        {"tail then one", {15, 1}},
        {"around a piece", {1023, 1, 1025, 2}},
        {"blocks", {16}},
        {"empty writes", {0, 7, 0, 9}},
        {"large then small", {2048, 3}},
    };
    const Bytes expected = ReferenceCiphertext(plain);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFileCipher file;
        TSiMemoryStream output;
        TEncryptStream stream(output, file.Cipher);
        std::size_t at = 0;
        for (std::size_t step = 0; at < plain.size(); ++step) {
            const std::size_t take =
                std::min(c.Pattern[step % c.Pattern.size()], plain.size() - at);
            ASSERT_EQ(stream.Write(plain.data() + at, take), take);
            at += take;
            ASSERT_EQ(output.GetSize(), static_cast<std::int64_t>(at / 16 * 16));
        }
        EXPECT_EQ(stream.Done(), 8);  // 3000 = 187 blocks + 8 bytes
        EXPECT_EQ(Content(output), expected);
    }
}

TEST(EncryptStream, DonePadsWithPkcs7) {
    for (const std::size_t length : {0, 4, 15, 16, 32, 33}) {
        SCOPED_TRACE(length);
        const Bytes plain = Random(length, 21);
        TFileCipher file;
        TSiMemoryStream output;
        TEncryptStream stream(output, file.Cipher);
        stream.Write(plain.data(), plain.size());
        EXPECT_EQ(stream.Done(), static_cast<int>(16 - length % 16));
        EXPECT_EQ(Content(output), ReferenceCiphertext(plain));
    }
}

TEST(EncryptStream, ReadSeekAndWriteFailure) {
    TFileCipher file;
    TSiMemoryStream output;
    TEncryptStream stream(output, file.Cipher);
    stream.Write(Bytes(40).data(), 40);
    std::uint8_t buffer[8];
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(stream.Seek(0, soCurrent), 32);
    EXPECT_EQ(stream.Seek(5, soBeginning), 5);
    EXPECT_EQ(output.GetPosition(), 5);

    // A data stream that takes nothing makes the write fail instead of losing the data.
    struct TFullStream : TSiStream {
        std::size_t Read(void*, std::size_t) override { return 0; }
        std::size_t Write(const void*, std::size_t) override { return 0; }
    } full;
    TFileCipher other;
    TEncryptStream failing(full, other.Cipher);
    EXPECT_NO_THROW(failing.Write(Bytes(15).data(), 15));
    try {
        failing.Write(Bytes(1).data(), 1);
        ADD_FAILURE() << "no write error";
    } catch (const ESiStreamError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
}

// What an encrypted log file holds after its prefix decrypts with OpenSSL to the plaintext:
// the bare magic, a magic and one 28-byte packet, and a longer run.
TEST(EncryptStream, OpenSslDecryptsTheResult) {
    REQUIRE_OPENSSL();
    const Bytes magic = {'S', 'I', 'L', 'F'};
    for (const std::size_t extra : {0, 28, 5000}) {
        SCOPED_TRACE(extra);
        Bytes plain = magic;
        const Bytes body = Random(extra, 22);
        plain.insert(plain.end(), body.begin(), body.end());
        TFileCipher file;
        TSiMemoryStream output;
        {
            TEncryptStream stream(output, file.Cipher);
            stream.Write(magic.data(), magic.size());
            stream.Write(body.data(), body.size());
            stream.Done();
        }
        EXPECT_EQ(output.GetSize(), static_cast<std::int64_t>((plain.size() / 16 + 1) * 16));
        EXPECT_EQ(OpenSslEnc("aes-128-cbc", file.Key, file.IV, Content(output), true, true), plain);
    }
}

}  // namespace
}  // namespace deruz::logging
