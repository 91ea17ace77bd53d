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
    Bytes LBytes;
    for (std::size_t LI = 0; LI + 1 < AText.size(); LI += 2) {
        LBytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(AText.substr(LI, 2)), nullptr, 16)));
    }
    return LBytes;
}

std::string ToHex(std::span<const std::uint8_t> ABytes) {
    static constexpr char LDigits[] = "0123456789abcdef";
    std::string LText;
    for (const std::uint8_t LB : ABytes) {
        LText += LDigits[LB >> 4];
        LText += LDigits[LB & 0x0F];
    }
    return LText;
}

Bytes Random(std::size_t ACount, std::uint32_t ASeed) {
    std::mt19937 LGenerator(ASeed);
    Bytes LBytes(ACount);
    for (auto& LB : LBytes) {
        LB = static_cast<std::uint8_t>(LGenerator());
    }
    return LBytes;
}

// The engines to run a test with: the table code always, the AES instructions when present.
std::vector<TAesEngine> Engines() {
    std::vector<TAesEngine> LEngines{aePortable};
    if (TRijndael::AesNiAvailable()) {
        LEngines.push_back(aeAuto);
    }
    return LEngines;
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
        std::error_code LIgnored;
        fs::remove(FPath, LIgnored);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    std::string Quoted() const { return "\"" + FPath.string() + "\""; }

    void Store(const Bytes& ABytes) const {
        std::ofstream LFile(FPath, std::ios::binary);
        LFile.write(reinterpret_cast<const char*>(ABytes.data()),
                    static_cast<std::streamsize>(ABytes.size()));
    }

    Bytes Load() const {
        std::ifstream LFile(FPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(LFile), std::istreambuf_iterator<char>()};
    }

  private:
    fs::path FPath;
};

// Runs `openssl AArguments`, its output going to AOutput; true when it exits with 0.
bool RunOpenSsl(const std::string& AArguments, const TTempFile& AOutput) {
    const std::string LCommand = "openssl " + AArguments + " > " + AOutput.Quoted() + " 2>&1";
    return std::system(LCommand.c_str()) == 0;
}

bool OpenSslAvailable() {
    static const bool LAvailable = [] {
        const TTempFile LOutput("version.txt");
        return RunOpenSsl("version", LOutput);
    }();
    return LAvailable;
}

#define REQUIRE_OPENSSL()                                             \
    if (!OpenSslAvailable()) {                                        \
        GTEST_SKIP() << "the openssl program cannot be started here"; \
    }

// Encrypts (or, with ADecrypt, decrypts) AInput with `openssl enc`, without padding unless
// asked for.
Bytes OpenSslEnc(const std::string& ACipherName, const Bytes& AKey, const Bytes& AIV,
                 const Bytes& AInput, bool ADecrypt = false, bool APadding = false) {
    const TTempFile LInput("in.bin"), LOutput("out.bin"), LMessages("messages.txt");
    LInput.Store(AInput);
    std::string LArguments = "enc " + std::string(ADecrypt ? "-d" : "-e") + " -" + ACipherName +
                             " -K " + ToHex(AKey) + (AIV.empty() ? "" : " -iv " + ToHex(AIV)) +
                             (APadding ? "" : " -nopad") + " -in " + LInput.Quoted() + " -out " +
                             LOutput.Quoted();
    if (!RunOpenSsl(LArguments, LMessages)) {
        const Bytes LText = LMessages.Load();
        ADD_FAILURE() << "openssl " << LArguments << ": "
                      << std::string(LText.begin(), LText.end());
        return {};
    }
    return LOutput.Load();
}

// ---- MD5 ----

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        std::string Input;
        const char* Digest;
    } LCases[] = {
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
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Input);
        TMD5 LWhole(LC.Input.data(), LC.Input.size());
        EXPECT_EQ(ToHex(LWhole.GetDigest()), LC.Digest);
        EXPECT_EQ(LWhole.DigestSize(), 16u);

        // The same input fed in uneven pieces through the block buffer.
        TMD5 LPieces;
        for (std::size_t LAt = 0; LAt < LC.Input.size();) {
            const std::size_t LTake = std::min<std::size_t>(LAt % 7 + 1, LC.Input.size() - LAt);
            LPieces.Update(LC.Input.data() + LAt, LTake);
            LAt += LTake;
        }
        LPieces.Done();
        EXPECT_EQ(ToHex(LPieces.GetDigest()), LC.Digest);
    }
}

TEST(Md5, DoneIsFinal) {
    TMD5 LHash("abc", 3);
    LHash.Done();
    LHash.Done();
    EXPECT_EQ(ToHex(LHash.GetDigest()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_THROW(LHash.Update("d", 1), std::logic_error);
}

// Every length around the padding boundaries (55/56 bytes into a block, one and two blocks)
// against OpenSSL, in one run of the program.
TEST(Md5, PaddingBoundariesMatchOpenSsl) {
    REQUIRE_OPENSSL();
    const Bytes LData = Random(130, 5);
    std::vector<std::unique_ptr<TTempFile>> LFiles;
    std::string LArguments = "dgst -md5 -r";
    for (std::size_t LLength = 0; LLength <= LData.size(); ++LLength) {
        LFiles.push_back(std::make_unique<TTempFile>("md5_" + std::to_string(LLength)));
        LFiles.back()->Store(
            Bytes(LData.begin(), LData.begin() + static_cast<std::ptrdiff_t>(LLength)));
        LArguments += " " + LFiles.back()->Quoted();
    }
    const TTempFile LOutput("md5.txt");
    ASSERT_TRUE(RunOpenSsl(LArguments, LOutput));
    const Bytes LText = LOutput.Load();
    std::istringstream LLines(std::string(LText.begin(), LText.end()));
    for (std::size_t LLength = 0; LLength <= LData.size(); ++LLength) {
        std::string LLine;
        ASSERT_TRUE(std::getline(LLines, LLine));
        TMD5 LHash(LData.data(), LLength);
        EXPECT_EQ(ToHex(LHash.GetDigest()), LLine.substr(0, 32)) << "length " << LLength;
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
    for (const TAesEngine LEngine : Engines()) {
        for (const auto& LV : kFipsVectors) {
            SCOPED_TRACE(std::string(LV.Key) + (LEngine == aePortable ? " portable" : " AES-NI"));
            const Bytes LKey = Hex(LV.Key);
            TRijndael LCipher(LKey.data(), static_cast<int>(LKey.size()), LEngine);
            EXPECT_EQ(LCipher.UsesAesNi(), LEngine == aeAuto);
            EXPECT_EQ(LCipher.Rounds(), static_cast<int>(LKey.size()) / 4 + 6);
            EXPECT_EQ(ToHex(EncryptWith(LCipher, Hex(LV.Plain))), LV.Cipher);
            EXPECT_EQ(ToHex(DecryptWith(LCipher, Hex(LV.Cipher))), LV.Plain);
        }
    }
}

// SP 800-38A F.2.1 and F.2.2: four blocks of CBC-AES128, encrypted and decrypted in one call
// and split over calls (the chain continues; the AES instructions take four blocks at once
// when decrypting, so splits decide which blocks go that way), leaving the last ciphertext
// block as the vector.
TEST(Rijndael, CbcContinuesTheChainAcrossCalls) {
    const Bytes LKey = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes LIv = Hex("000102030405060708090a0b0c0d0e0f");
    const Bytes LPlain =
        Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const std::string LExpected =
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    for (const TAesEngine LEngine : Engines()) {
        for (const std::size_t LSplit : {std::size_t{0}, std::size_t{16}, std::size_t{48}}) {
            SCOPED_TRACE(LSplit);
            TRijndael LCipher(LKey.data(), 16, LEngine);
            LCipher.SetMode(cmCBC);
            LCipher.SetIVector(LIv);
            Bytes LData = LPlain;
            LCipher.Encrypt(LData.data(), LSplit);
            LCipher.Encrypt(LData.data() + LSplit, LData.size() - LSplit);
            EXPECT_EQ(ToHex(LData), LExpected);
            EXPECT_EQ(ToHex(LCipher.IVector()), LExpected.substr(96));

            TRijndael LDecipher(LKey.data(), 16, LEngine);
            LDecipher.SetMode(cmCBC);
            LDecipher.SetIVector(LIv);
            LDecipher.Decrypt(LData.data(), LSplit);
            LDecipher.Decrypt(LData.data() + LSplit, LData.size() - LSplit);
            EXPECT_EQ(LData, LPlain);
            EXPECT_EQ(ToHex(LDecipher.IVector()), LExpected.substr(96));
        }
    }
}

// Short keys are zero-filled to the next AES key size, which also picks the round count.
TEST(Rijndael, KeyLengthSelectsAesVariant) {
    const Bytes LKey = Random(32, 1);
    const Bytes LBlock = Random(16, 2);
    const struct {
        int Count;
        int FilledTo;
        int Rounds;
    } LCases[] = {{1, 16, 10},  {5, 16, 10},  {16, 16, 10}, {17, 24, 12}, {20, 24, 12},
                  {24, 24, 12}, {25, 32, 14}, {30, 32, 14}, {32, 32, 14}};
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Count);
        Bytes LFilled(LKey.begin(), LKey.begin() + LC.Count);
        LFilled.resize(static_cast<std::size_t>(LC.FilledTo), 0);
        TRijndael LShortKey(LKey.data(), LC.Count);
        TRijndael LFullKey(LFilled.data(), LC.FilledTo);
        EXPECT_EQ(LShortKey.Rounds(), LC.Rounds);
        EXPECT_EQ(EncryptWith(LShortKey, LBlock), EncryptWith(LFullKey, LBlock));
    }
}

// The message of the E that AAction raises, or "(none)".
template <class E, class F>
std::string ErrorOf(F&& AAction) {
    try {
        AAction();
    } catch (const E& LE) {
        return LE.what();
    }
    return "(none)";
}

TEST(Rijndael, Errors) {
    const Bytes LKey(64, 7);
    for (const int LCount : {0, -1, 33, 64}) {
        EXPECT_EQ(ErrorOf<ECipherError>([&] { TRijndael cipher(LKey.data(), LCount); }),
                  "Rijndael: Invalid key size - " + std::to_string(LCount));
    }

    TRijndael LCipher(LKey.data(), 16);
    EXPECT_EQ(LCipher.BlockSize(), 16);
    EXPECT_EQ(LCipher.AlgorithmName(), "Rijndael");
    EXPECT_THROW(LCipher.SetIVector(Bytes(15)), ECipherError);

    // A partial block in a block mode is refused before anything changes.
    LCipher.SetMode(cmCBC);
    LCipher.SetIVector(Bytes(16, 0x11));
    Bytes LData = Random(20, 3);
    const Bytes LOriginal = LData;
    EXPECT_THROW(LCipher.Encrypt(LData.data(), LData.size()), ECipherError);
    EXPECT_THROW(LCipher.Decrypt(LData.data(), LData.size()), ECipherError);
    EXPECT_EQ(LData, LOriginal);
    EXPECT_EQ(LCipher.IVector()[0], 0x11);

    EXPECT_EQ(ErrorOf<std::logic_error>([&] { LCipher.SetMode(static_cast<TCipherMode>(6)); }),
              "Cipher mode not supported");
    LCipher.SetMode(cmABC);
    EXPECT_EQ(ErrorOf<std::logic_error>([&] { LCipher.Encrypt(LData.data(), 16); }),
              "Cipher mode not supported");
    EXPECT_EQ(ErrorOf<std::logic_error>([&] { LCipher.Decrypt(LData.data(), 16); }),
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
    } LCases[] = {
        {cmECB, 16 * 67, {16 * 5}, {16, 16 * 64}},   {cmCBC, 16 * 67, {16 * 5}, {16, 16 * 64}},
        {cmCFB, 16 * 67 + 5, {5, 100}, {1, 17, 33}}, {cmOFB, 16 * 67 + 5, {5, 100}, {1, 17, 33}},
        {cmCTR, 16 * 67 + 5, {5, 100}, {1, 17, 33}},
    };
    const auto LRun = [](TRijndael& ACipher, Bytes& AData, const std::vector<std::size_t>& ASplits,
                         bool ADecrypt) {
        std::size_t LAt = 0;
        for (const std::size_t LPiece : ASplits) {
            ADecrypt ? ACipher.Decrypt(AData.data() + LAt, LPiece)
                     : ACipher.Encrypt(AData.data() + LAt, LPiece);
            LAt += LPiece;
        }
        ADecrypt ? ACipher.Decrypt(AData.data() + LAt, AData.size() - LAt)
                 : ACipher.Encrypt(AData.data() + LAt, AData.size() - LAt);
    };
    std::uint32_t LSeed = 300;
    for (const TAesEngine LEngine : Engines()) {
        for (const int LKeySize : {16, 24, 32}) {
            for (const auto& LC : LCases) {
                SCOPED_TRACE(std::to_string(LKeySize) + " mode " + std::to_string(int{LC.Mode}) +
                             (LEngine == aePortable ? " portable" : " AES-NI"));
                const Bytes LKey = Random(static_cast<std::size_t>(LKeySize), ++LSeed);
                const Bytes LIv = Random(16, ++LSeed);
                const Bytes LPlain = Random(LC.Size, ++LSeed);
                TRijndael LEncipher(LKey.data(), LKeySize, LEngine);
                TRijndael LDecipher(LKey.data(), LKeySize, LEngine);
                for (TRijndael* LCipher : {&LEncipher, &LDecipher}) {
                    LCipher->SetMode(LC.Mode);
                    LCipher->SetIVector(LIv);
                }
                Bytes LData = LPlain;
                LRun(LEncipher, LData, LC.EncryptSplits, false);
                ASSERT_NE(LData, LPlain);
                LRun(LDecipher, LData, LC.DecryptSplits, true);
                EXPECT_EQ(LData, LPlain);
                EXPECT_EQ(ToHex(LDecipher.IVector()), ToHex(LEncipher.IVector()));
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
    std::uint32_t LSeed = 100;
    for (const int LKeySize : {16, 24, 32}) {
        for (const TCipherMode LMode : {cmECB, cmCBC, cmCFB, cmOFB, cmCTR}) {
            SCOPED_TRACE(std::to_string(LKeySize) + " mode " + std::to_string(int{LMode}));
            const Bytes LKey = Random(static_cast<std::size_t>(LKeySize), ++LSeed);
            const Bytes LIv = Random(16, ++LSeed);
            const Bytes LData = Random(16 * 67, ++LSeed);
            TRijndael LFast(LKey.data(), LKeySize, aeAuto);
            TRijndael LPortable(LKey.data(), LKeySize, aePortable);
            for (TRijndael* LCipher : {&LFast, &LPortable}) {
                LCipher->SetMode(LMode);
                LCipher->SetIVector(LIv);
            }
            EXPECT_EQ(EncryptWith(LFast, LData), EncryptWith(LPortable, LData));
            EXPECT_EQ(ToHex(LFast.IVector()), ToHex(LPortable.IVector()));
            EXPECT_EQ(DecryptWith(LFast, LData), DecryptWith(LPortable, LData));
            EXPECT_EQ(ToHex(LFast.IVector()), ToHex(LPortable.IVector()));
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
    } LCases[] = {
        {cmECB, "ecb", 1008, {16, 512}},        {cmCBC, "cbc", 1008, {32, 1024 - 16 - 32}},
        {cmCFB, "cfb", 1001, {1, 7, 16, 300}},  {cmOFB, "ofb", 1001, {15, 2, 33}},
        {cmCTR, "ctr", 1001, {3, 16, 17, 500}},
    };
    std::uint32_t LSeed = 200;
    for (const int LKeySize : {16, 32}) {
        for (const auto& LC : LCases) {
            const std::string LName = "aes-" + std::to_string(8 * LKeySize) + "-" + LC.Name;
            SCOPED_TRACE(LName);
            const Bytes LKey = Random(static_cast<std::size_t>(LKeySize), ++LSeed);
            // A counter block close to wrapping, so the carry crosses bytes.
            Bytes LIv = Random(16, ++LSeed);
            std::fill(LIv.begin() + 12, LIv.end(), 0xFF);
            const Bytes LPlain = Random(LC.Size, ++LSeed);
            for (const TAesEngine LEngine : Engines()) {
                TRijndael LCipher(LKey.data(), LKeySize, LEngine);
                LCipher.SetMode(LC.Mode);
                LCipher.SetIVector(LIv);
                Bytes LData = LPlain;
                std::size_t LAt = 0;
                for (const std::size_t LPiece : LC.Splits) {
                    LCipher.Encrypt(LData.data() + LAt, LPiece);
                    LAt += LPiece;
                }
                LCipher.Encrypt(LData.data() + LAt, LData.size() - LAt);
                const Bytes LReference =
                    OpenSslEnc(LName, LKey, LC.Mode == cmECB ? Bytes{} : LIv, LPlain);
                EXPECT_EQ(LData, LReference);

                TRijndael LDecipher(LKey.data(), LKeySize, LEngine);
                LDecipher.SetMode(LC.Mode);
                LDecipher.SetIVector(LIv);
                EXPECT_EQ(DecryptWith(LDecipher, LReference), LPlain);
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
    Bytes LWords(AKey.size());
    for (std::size_t LI = 0; LI < AKey.size(); LI += 4) {
        const std::uint32_t LWord = (std::uint32_t{AKey[LI]} << 24) |
                                    (std::uint32_t{AKey[LI + 1]} << 16) |
                                    (std::uint32_t{AKey[LI + 2]} << 8) | AKey[LI + 3];
        std::memcpy(LWords.data() + LI, &LWord, 4);
    }
    return LWords;
}

TEST(ProtectClear, LeavesZeros) {
    Bytes LData = Random(37, 9);
    ProtectClear(LData.data(), LData.size());
    EXPECT_EQ(LData, Bytes(37, 0));
}

// Objects are built in storage that outlives them, so what their destructors leave behind can
// be inspected: neither the round keys (the key itself is the first encryption round key and
// the last decryption round key, so its image stays until both schedules are wiped) nor the
// chaining vector nor pending plaintext.
TEST(ProtectClear, DestructorsWipeKeyVectorAndPendingPlaintext) {
    const Bytes LKey = Random(16, 10);
    const Bytes LIv = Random(16, 11);
    for (const TAesEngine LEngine : Engines()) {
        SCOPED_TRACE(LEngine == aePortable ? "portable" : "AES-NI");
        alignas(TRijndael) std::uint8_t LStorage[sizeof(TRijndael)] = {};
        auto* LCipher = new (LStorage) TRijndael(LKey.data(), 16, LEngine);
        LCipher->SetMode(cmCBC);
        LCipher->SetIVector(LIv);
        const Bytes LKeyImage = LCipher->UsesAesNi() ? LKey : AsNativeWords(LKey);
        ASSERT_TRUE(Contains(LStorage, LKeyImage));
        ASSERT_TRUE(Contains(LStorage, LIv));

        const Bytes LPending = Random(15, 12);
        {
            alignas(TEncryptStream) std::uint8_t LStreamStorage[sizeof(TEncryptStream)] = {};
            TSiMemoryStream LOutput;
            auto* LStream = new (LStreamStorage) TEncryptStream(LOutput, *LCipher);
            LStream->Write(LPending.data(), LPending.size());
            ASSERT_TRUE(Contains(LStreamStorage, LPending));
            LStream->~TEncryptStream();
            EXPECT_FALSE(Contains(LStreamStorage, LPending));
        }

        LCipher->~TRijndael();
        EXPECT_FALSE(Contains(LStorage, LKeyImage));
        EXPECT_FALSE(Contains(LStorage, LIv));
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
    Bytes LPadded = APlain;
    const std::size_t LPadding = 16 - APlain.size() % 16;
    LPadded.insert(LPadded.end(), LPadding, static_cast<std::uint8_t>(LPadding));
    TFileCipher LReference;
    return EncryptWith(LReference.Cipher, LPadded);
}

Bytes Content(const TSiMemoryStream& AStream) {
    return {AStream.Bytes().begin(), AStream.Bytes().end()};
}

// However the plaintext is split into writes, whole blocks reach the data stream as soon as
// they are complete, the rest waits, and the result is the same.
TEST(EncryptStream, CiphertextDoesNotDependOnWriteSplits) {
    const Bytes LPlain = Random(3000, 20);
    const struct {
        const char* Name;
        std::vector<std::size_t> Pattern;  // repeated until the plaintext is used up
    } LCases[] = {
        {"whole", {3000}},
        {"bytes", {1}},
        {"tail then one", {15, 1}},
        {"around a piece", {1023, 1, 1025, 2}},
        {"blocks", {16}},
        {"empty writes", {0, 7, 0, 9}},
        {"large then small", {2048, 3}},
    };
    const Bytes LExpected = ReferenceCiphertext(LPlain);
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TFileCipher LFile;
        TSiMemoryStream LOutput;
        TEncryptStream LStream(LOutput, LFile.Cipher);
        std::size_t LAt = 0;
        for (std::size_t LStep = 0; LAt < LPlain.size(); ++LStep) {
            const std::size_t LTake =
                std::min(LC.Pattern[LStep % LC.Pattern.size()], LPlain.size() - LAt);
            ASSERT_EQ(LStream.Write(LPlain.data() + LAt, LTake), LTake);
            LAt += LTake;
            ASSERT_EQ(LOutput.GetSize(), static_cast<std::int64_t>(LAt / 16 * 16));
        }
        EXPECT_EQ(LStream.Done(), 8);  // 3000 = 187 blocks + 8 bytes
        EXPECT_EQ(Content(LOutput), LExpected);
    }
}

TEST(EncryptStream, DonePadsWithPkcs7) {
    for (const std::size_t LLength : {0, 4, 15, 16, 32, 33}) {
        SCOPED_TRACE(LLength);
        const Bytes LPlain = Random(LLength, 21);
        TFileCipher LFile;
        TSiMemoryStream LOutput;
        TEncryptStream LStream(LOutput, LFile.Cipher);
        LStream.Write(LPlain.data(), LPlain.size());
        EXPECT_EQ(LStream.Done(), static_cast<int>(16 - LLength % 16));
        EXPECT_EQ(Content(LOutput), ReferenceCiphertext(LPlain));
    }
}

TEST(EncryptStream, ReadSeekAndWriteFailure) {
    TFileCipher LFile;
    TSiMemoryStream LOutput;
    TEncryptStream LStream(LOutput, LFile.Cipher);
    LStream.Write(Bytes(40).data(), 40);
    std::uint8_t LBuffer[8];
    EXPECT_EQ(LStream.Read(LBuffer, sizeof(LBuffer)), 0u);
    EXPECT_EQ(LStream.Seek(0, soCurrent), 32);
    EXPECT_EQ(LStream.Seek(5, soBeginning), 5);
    EXPECT_EQ(LOutput.GetPosition(), 5);

    // A data stream that takes nothing makes the write fail instead of losing the data.
    struct TFullStream : TSiStream {
        std::size_t Read(void*, std::size_t) override { return 0; }
        std::size_t Write(const void*, std::size_t) override { return 0; }
    } LFull;
    TFileCipher LOther;
    TEncryptStream LFailing(LFull, LOther.Cipher);
    EXPECT_NO_THROW(LFailing.Write(Bytes(15).data(), 15));
    try {
        LFailing.Write(Bytes(1).data(), 1);
        ADD_FAILURE() << "no write error";
    } catch (const ESiStreamError& LE) {
        EXPECT_STREQ(LE.what(), "Stream write error");
    }
}

// What an encrypted log file holds after its prefix decrypts with OpenSSL to the plaintext:
// the bare magic, a magic and one 28-byte packet, and a longer run.
TEST(EncryptStream, OpenSslDecryptsTheResult) {
    REQUIRE_OPENSSL();
    const Bytes LMagic = {'S', 'I', 'L', 'F'};
    for (const std::size_t LExtra : {0, 28, 5000}) {
        SCOPED_TRACE(LExtra);
        Bytes LPlain = LMagic;
        const Bytes LBody = Random(LExtra, 22);
        LPlain.insert(LPlain.end(), LBody.begin(), LBody.end());
        TFileCipher LFile;
        TSiMemoryStream LOutput;
        {
            TEncryptStream LStream(LOutput, LFile.Cipher);
            LStream.Write(LMagic.data(), LMagic.size());
            LStream.Write(LBody.data(), LBody.size());
            LStream.Done();
        }
        EXPECT_EQ(LOutput.GetSize(), static_cast<std::int64_t>((LPlain.size() / 16 + 1) * 16));
        EXPECT_EQ(OpenSslEnc("aes-128-cbc", LFile.Key, LFile.IV, Content(LOutput), true, true),
                  LPlain);
    }
}

}  // namespace
}  // namespace deruz::logging
