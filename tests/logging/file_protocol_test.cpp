// The "file" protocol: file layout and appending, options, buffering, sharing, errors, the size
// limit and time rotation under a clock the tests set, and encrypted files checked against an
// independent decryption (OpenSSL, where it is installed) and the portable AES code.
#include "logging/protocols/file_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/crypto/cipher.h"
#include "logging/format/binary_formatter.h"
#include "logging/protocols/deferred_write.h"
#include "logging/viewer/packet_reader.h"
#include "tests/logging/fake_clock.h"
#include "tests/logging/recording_protocol.h"
#include "tests/logging/system_codes.h"

namespace deruz::logging {
namespace {

namespace fs = std::filesystem;
using Titles = std::vector<std::string>;

TDateTime At(int AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0, int ASecond = 0) {
    return SiEncodeDateTime({AYear, AMonth, ADay, AHour, AMinute, ASecond, 0});
}

using testing::TFakeClock;

// A log entry whose binary packet takes exactly ASize bytes; its title starts with ATag.
TSiPacketPtr EntryOfSize(const std::string& ATag, std::size_t ASize) {
    const std::size_t LEmpty = SiFormatBinary(*testing::Entry("")).size();
    return testing::Entry(ATag + std::string(ASize - LEmpty - ATag.size(), '.'));
}

std::size_t PacketSize(const std::string& ATitle) {
    return SiFormatBinary(*testing::Entry(ATitle)).size();
}

// The titles of the log entries of a plain log file (other packets as "<watch>" and so on).
// Anything but "SILF" followed by well-formed packets fails the test.
Titles Decode(const std::string& ABytes) {
    Titles LTitles;
    if (ABytes.substr(0, 4) != "SILF") {
        ADD_FAILURE() << "no SILF magic";
        return LTitles;
    }
    const auto* LData = reinterpret_cast<const std::uint8_t*>(ABytes.data());
    TSiBinaryPacketReader LReader(std::span(LData + 4, ABytes.size() - 4), 4);
    try {
        while (!LReader.AtEnd()) {
            const TSiPacketPtr LPacket = LReader.ReadPacket();
            if (LPacket->GetPacketType() == ptLogEntry) {
                const std::string& LTitle = static_cast<TSiLogEntry&>(*LPacket).Title;
                LTitles.push_back(LTitle.substr(0, LTitle.find('.')));
            } else {
                LTitles.push_back(LPacket->GetPacketType() == ptWatch ? "<watch>" : "<other>");
            }
        }
    } catch (const ESiPacketFormatError& LAError) {
        ADD_FAILURE() << LAError.what();
    }
    return LTitles;
}

// --- Encryption references ----------------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& AText) {
    return Bytes(AText.begin(), AText.end());
}

std::string Hex(std::span<const std::uint8_t> ABytes) {
    static const char LDigits[] = "0123456789abcdef";
    std::string LText;
    for (const std::uint8_t LByte : ABytes) {
        LText += LDigits[LByte >> 4];
        LText += LDigits[LByte & 15];
    }
    return LText;
}

// The IV that an encrypted file carries after its magic (empty for a shorter file).
Bytes IvIn(const std::string& AFile) {
    return AFile.size() < 20 ? Bytes() : ToBytes(AFile.substr(4, 16));
}

// The encrypted file for a plain file's bytes: "SILE", the IV, and AES-128-CBC of the PKCS#7
// padded plaintext, computed with the portable table code (the protocol uses the processor's
// AES instructions where it has them).
std::string EncryptedFileOf(const Bytes& AKey, const Bytes& AIv, const std::string& APlain) {
    Bytes LData = ToBytes(APlain);
    const std::size_t LPadding = 16 - LData.size() % 16;
    LData.insert(LData.end(), LPadding, static_cast<std::uint8_t>(LPadding));
    TRijndael LCipher(AKey.data(), static_cast<int>(AKey.size()), aePortable);
    LCipher.SetMode(cmCBC);
    LCipher.SetIVector(AIv);
    LCipher.Encrypt(LData.data(), LData.size());
    return "SILE" + std::string(AIv.begin(), AIv.end()) + std::string(LData.begin(), LData.end());
}

// --- Fixture ----------------------------------------------------------------------------------

// Puts a clock in place that the test sets, and gives each test a fresh directory. Afterwards
// the system's clock is back, for the tests that follow.
class FileProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FPath = fs::temp_directory_path() /
                ("silog_file_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(FPath);
        FClock.emplace();
        FClock->Set(At(2024, 5, 1, 10));
    }
    void TearDown() override {
        FClock.reset();
        std::error_code LIgnored;
        fs::remove_all(FPath, LIgnored);
    }

    std::string Dir() const { return FPath.generic_string() + "/"; }
    std::string Path(const std::string& AName) const { return Dir() + AName; }
    std::string Read(const std::string& AName) const { return SiReadFile(Path(AName)); }
    std::uintmax_t Size(const std::string& AName) const { return fs::file_size(FPath / AName); }
    std::vector<std::string> Names(const std::string& ASub = "") const {
        std::vector<std::string> LNames;
        for (const auto& LEntry : fs::directory_iterator(FPath / ASub)) {
            LNames.push_back(LEntry.path().filename().string());
        }
        std::sort(LNames.begin(), LNames.end());
        return LNames;
    }

    // A connected protocol made by the factory with "filename" in the test's directory.
    TSiProtocolPtr Open(const std::string& AName, const std::string& AOptions = "") {
        auto LProtocol = TSiProtocolFactory::GetProtocol(
            "file", "filename=\"" + Path(AName) + "\"" + (AOptions.empty() ? "" : ", ") + AOptions);
        LProtocol->Connect();
        return LProtocol;
    }

    static void Write(TSiProtocol& AProtocol, const std::string& ATitle) {
        AProtocol.WritePacket(*testing::Entry(ATitle));
    }

    fs::path FPath;
    std::optional<TFakeClock> FClock;
};

// The message of the error that AAction raises, or "" when it raises none.
template <class F>
std::string ErrorOf(F AAction) {
    try {
        AAction();
    } catch (const std::exception& LAError) {
        return LAError.what();
    }
    return "";
}

// --- Layout and options -------------------------------------------------------------------------

TEST_F(FileProtocolTest, DefaultFileStartsWithMagicAndAppendingAddsNoSecondOne) {
    // No options at all: "log.sil" in the current directory.
    const fs::path LPrevious = fs::current_path();
    fs::current_path(FPath);
    const auto LRun = [](const std::string& AOptions, const Titles& ATitles) {
        auto LProtocol = TSiProtocolFactory::GetProtocol("file", AOptions);
        LProtocol->Connect();
        for (const std::string& LTitle : ATitles) {
            Write(*LProtocol, LTitle);
        }
        LProtocol->Disconnect();
    };
    LRun("append=true", {"a"});  // appending to a file that does not exist yet
    LRun("", {"b", "c"});
    const std::string LFirst = SiReadFile("log.sil");
    LRun("append=true", {"d"});
    LRun("append=true", {});
    const std::string LAppended = SiReadFile("log.sil");
    LRun("", {"e"});
    const std::string LReplaced = SiReadFile("log.sil");
    fs::current_path(LPrevious);

    EXPECT_EQ(Decode(LFirst), (Titles{"b", "c"}));
    EXPECT_EQ(LFirst.size(), 4 + PacketSize("b") + PacketSize("c"));
    EXPECT_EQ(Decode(LAppended), (Titles{"b", "c", "d"}));
    EXPECT_EQ(LAppended.substr(0, LFirst.size()), LFirst);
    EXPECT_EQ(Decode(LReplaced), (Titles{"e"}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"log.sil"}));
}

TEST_F(FileProtocolTest, OptionsTextDefaultsAndInvalidKeys) {
    const auto LOptions = [](const std::string& AOptions) {
        std::map<std::string, std::string> LResult;
        TSiOptionsParser::Parse("file",
                                TSiProtocolFactory::GetProtocol("file", AOptions)->GetOptions(),
                                [&](const std::string&, const std::string& AKey,
                                    const std::string& AValue) { LResult[AKey] = AValue; });
        return LResult;
    };
    const std::string LText =
        TSiProtocolFactory::GetProtocol(
            "file",
            "filename=x.sil, append=true, buffer=64, maxsize=2mb, rotate=Weekly, "
            "encrypt=false, key=secret")
            ->GetOptions();
    EXPECT_TRUE(
        LText.ends_with(", caption=\"file\", append=\"true\", buffer=\"64\", "
                        "filename=\"x.sil\", maxsize=\"2048\", maxparts=\"0\", "
                        "rotate=\"weekly\""))
        << LText;
    EXPECT_EQ(LText.find("secret"), std::string::npos);
    EXPECT_EQ(LText.find("encrypt"), std::string::npos);

    struct Case {
        const char* Options;
        const char* Key;
        const char* Expected;
    };
    const Case LCases[] = {
        {"", "filename", "log.sil"},
        {"", "maxparts", "0"},
        {"maxsize=1", "maxparts", "2"},
        {"maxsize=1, rotate=daily", "maxparts", "0"},
        {"rotate=hourly", "maxparts", "0"},
        {"maxsize=1, maxparts=7", "maxparts", "7"},
        {"buffer=1mb", "buffer", "1024"},
        {"rotate=yearly", "rotate", "none"},
        {"append=true, encrypt=true, key=k", "append", "false"},
        {"append=true, encrypt=false", "append", "true"},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(LOptions(LCase.Options)[LCase.Key], LCase.Expected) << LCase.Options;
    }
    EXPECT_EQ(ErrorOf([] { TSiProtocolFactory::GetProtocol("file", "pipename=x"); }),
              "Option \"pipename\" not available for protocol \"file\"");
}

// --- Buffering, sharing and errors --------------------------------------------------------------

TEST_F(FileProtocolTest, EveryPacketReachesTheFileUnlessBufferGathersThem) {
    const std::size_t LSize = 1000;
    {
        auto LProtocol = Open("direct.sil");
        EXPECT_EQ(Size("direct.sil"), 4u);
        for (std::size_t LCount = 1; LCount <= 3; ++LCount) {
            LProtocol->WritePacket(*EntryOfSize("p", LSize));
            EXPECT_EQ(Size("direct.sil"), 4 + LCount * LSize);
        }
    }
    // "buffer=64": nothing but the magic until 64 KB have gathered; then the gathered bytes
    // and the packet that went past the mark; the rest when the protocol disconnects.
    auto LProtocol = Open("gathered.sil", "buffer=64");
    const std::size_t LFitting = 65536 / LSize;
    for (std::size_t LCount = 0; LCount < LFitting; ++LCount) {
        LProtocol->WritePacket(*EntryOfSize("p", LSize));
    }
    EXPECT_EQ(Size("gathered.sil"), 4u);
    LProtocol->WritePacket(*EntryOfSize("p", LSize));
    EXPECT_EQ(Size("gathered.sil"), 4 + (LFitting + 1) * LSize);
    LProtocol->WritePacket(*EntryOfSize("q", LSize));
    EXPECT_EQ(Size("gathered.sil"), 4 + (LFitting + 1) * LSize);
    LProtocol->Disconnect();
    const Titles LTitles = Decode(Read("gathered.sil"));
    ASSERT_EQ(LTitles.size(), LFitting + 2);
    EXPECT_EQ(LTitles.back(), "q");
}

TEST_F(FileProtocolTest, AViewerMayReadTheFileButASecondWriterCannotOpenIt) {
    auto LWriter = Open("shared.sil");
    Write(*LWriter, "first");
    EXPECT_EQ(Decode(Read("shared.sil")), (Titles{"first"}));

    auto LSecond =
        TSiProtocolFactory::GetProtocol("file", "filename=\"" + Path("shared.sil") + "\"");
    EXPECT_NE(ErrorOf([&] { LSecond->Connect(); }), "");
    EXPECT_TRUE(LSecond->Failed());
    auto LAppender = TSiProtocolFactory::GetProtocol(
        "file", "append=true, filename=\"" + Path("shared.sil") + "\"");
    EXPECT_NE(ErrorOf([&] { LAppender->Connect(); }), "");

    // The refused writers neither truncated nor wrote anything.
    Write(*LWriter, "second");
    EXPECT_EQ(Decode(Read("shared.sil")), (Titles{"first", "second"}));
    LWriter->Disconnect();
    LSecond->Connect();
    EXPECT_FALSE(LSecond->Failed());
}

TEST_F(FileProtocolTest, AFileThatCannotBeOpenedReportsTheSystemText) {
    const std::string LPath = Path("missing/x.sil");
    std::uint32_t LCode = 0;
    EXPECT_FALSE(SiCreateFile(LPath, faWrite, fsRead, fcCreateAlways, LCode).IsOpen());
    ASSERT_NE(SiSystemErrorText(LCode), "");
    auto LProtocol = TSiProtocolFactory::GetProtocol("file", "filename=\"" + LPath + "\"");
    try {
        LProtocol->Connect();
        ADD_FAILURE() << "no error";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_EQ(LAError.what(), SiSystemErrorText(LCode));
        EXPECT_EQ(LAError.ProtocolName(), "file");
    }
    // Without "reconnect" later packets are dropped quietly.
    EXPECT_EQ(ErrorOf([&] { Write(*LProtocol, "dropped"); }), "");
}

// A file protocol whose file stops taking bytes when the test says so (a full disk).
class TFullDiskProtocol final : public TSiFileProtocol {
  public:
    std::atomic<bool> Full{false};

  protected:
    std::unique_ptr<TSiStream> GetStream(TSiStream& AStream) override {
        return std::make_unique<TFullStream>(AStream, Full);
    }

  private:
    class TFullStream final : public TSiStream {
      public:
        TFullStream(TSiStream& AStream, std::atomic<bool>& AFull)
            : FStream(AStream), FFull(AFull) {}
        std::size_t Read(void*, std::size_t) override { return 0; }
        std::size_t Write(const void* ABuffer, std::size_t ACount) override {
            return FFull ? 0 : FStream.Write(ABuffer, ACount);
        }

      private:
        TSiStream& FStream;
        std::atomic<bool>& FFull;
    };
};

TEST_F(FileProtocolTest, AFailingWriteReportsStreamWriteErrorAndClosesTheFile) {
    const auto LOwner = SiMakeProtocol<TFullDiskProtocol>();
    TFullDiskProtocol& LProtocol = *LOwner;
    LProtocol.Initialize("filename=\"" + Path("full.sil") + "\"");
    LProtocol.Connect();
    Write(LProtocol, "kept");
    LProtocol.Full = true;
    try {
        Write(LProtocol, "lost");
        ADD_FAILURE() << "no error";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_STREQ(LAError.what(), "Stream write error");
    }
    EXPECT_TRUE(LProtocol.Failed());
    EXPECT_EQ(Decode(Read("full.sil")), (Titles{"kept"}));
    // Closed: another writer may open the file now.
    auto LNext = Open("full.sil", "append=true");
    EXPECT_FALSE(LNext->Failed());
}

// A protocol of an owner that serialises its calls (the logger core) hands each full buffer to
// the writing thread, to be written when its scope of deferred writes ends: a write that fails
// there is reported by the protocol's next write, or by its disconnect when none follows, and
// the file is cut back to its last complete packet either way.
TEST_F(FileProtocolTest, AFailedDeferredWriteIsReportedLaterAndTheFileCutBack) {
    for (const bool LByDisconnect : {false, true}) {
        SCOPED_TRACE(LByDisconnect ? "reported by the disconnect" : "reported by the next write");
        auto LProtocol = TSiProtocolFactory::GetProtocol(
            "file", "filename=\"" + Path("full.sil") + "\", reconnect=true, buffer=1");
        LProtocol->SetOwnerSerialises(true);
        LProtocol->Connect();
        const auto LWrite = [&](const std::string& ATitle) {
            return ErrorOf([&] {
                const TSiDeferredWrites LScope;
                Write(*LProtocol, ATitle);
            });
        };
        Titles LExpected;
        for (int LIndex = 0; LIndex < 40; ++LIndex) {
            LExpected.push_back("a" + std::to_string(LIndex));
            EXPECT_EQ(LWrite(LExpected.back()), "");
        }
        LProtocol->Disconnect();
        LProtocol->Connect();
        const std::uintmax_t LSizeBefore = Size("full.sil");
        if (!testing::TestLimitFileSize(static_cast<std::int64_t>(LSizeBefore) + 10)) {
            GTEST_SKIP() << "no file-size limit on this system";
        }
        // Three of these fill the 1 KB buffer: the third hands the first two over.
        const std::string LLarge = "b" + std::string(400, '.');
        std::string LError;
        for (int LIndex = 0; LIndex < 3; ++LIndex) {
            EXPECT_EQ(LWrite(LLarge), "");
        }
        if (LByDisconnect) {
            LError = ErrorOf([&] { LProtocol->Disconnect(); });
        } else {
            LError = LWrite(LLarge);
        }
        testing::TestUnlimitFileSize();
        EXPECT_EQ(LError, "Stream write error");
        EXPECT_EQ(Size("full.sil"), LSizeBefore);
        LExpected.push_back("c");
        LProtocol->Connect();
        EXPECT_EQ(LWrite("c"), "");
        LProtocol->Disconnect();
        EXPECT_EQ(Decode(Read("full.sil")), LExpected);
        fs::remove(FPath / "full.sil");
    }
}

// A disk that fills and frees again, written unbuffered and through the write buffer: the
// packet that did not fit is cut off (no torn bytes before the next packet), and the protocol's
// reconnect continues its file instead of replacing what was logged before the disk filled.
TEST_F(FileProtocolTest, FullDiskCutsTheTornPacketAndTheReconnectContinuesTheFile) {
    for (const std::string LBuffer : {"buffer=0", "buffer=1"}) {
        SCOPED_TRACE(LBuffer);
        auto LProtocol = Open("full.sil", "reconnect=true, " + LBuffer);
        Titles LExpected;
        for (int LIndex = 0; LIndex < 10; ++LIndex) {
            LExpected.push_back("a" + std::to_string(LIndex));
            Write(*LProtocol, LExpected.back());
        }
        // Everything so far in the file: the next connect continues it.
        LProtocol->Disconnect();
        LProtocol->Connect();
        const std::uintmax_t LSizeBefore = Size("full.sil");
        if (!testing::TestLimitFileSize(static_cast<std::int64_t>(LSizeBefore) + 10)) {
            GTEST_SKIP() << "no file-size limit on this system";
        }
        std::string LError;
        for (int LIndex = 0; LIndex < 20 && LError.empty(); ++LIndex) {
            LError = ErrorOf([&] { Write(*LProtocol, "b" + std::string(300, '.')); });
        }
        testing::TestUnlimitFileSize();
        EXPECT_EQ(LError, "Stream write error");
        EXPECT_EQ(Size("full.sil"), LSizeBefore);
        LExpected.push_back("c");
        Write(*LProtocol, "c");
        LProtocol->Disconnect();
        EXPECT_EQ(Decode(Read("full.sil")), LExpected);
        fs::remove(FPath / "full.sil");
    }
}

// Each burst of the backlog opens the file anew. The first one honours "append"; later ones
// continue the file the protocol made, so that no burst replaces the one before.
TEST_F(FileProtocolTest, BurstsOfTheBacklogContinueTheFileTheyCreated) {
    for (const bool LAppend : {false, true}) {
        SCOPED_TRACE(LAppend);
        const std::string LName = LAppend ? "append.sil" : "replace.sil";
        Open(LName)->WritePacket(*testing::Entry("earlier"));
        auto LProtocol = Open(
            LName, std::string("backlog.enabled=true, append=") + (LAppend ? "true" : "false"));
        // Held back: the file is untouched.
        LProtocol->WritePacket(*testing::Entry("a", lvDebug));
        EXPECT_EQ(Decode(Read(LName)), (Titles{"earlier"}));
        LProtocol->WritePacket(*testing::Entry("b", lvError));
        LProtocol->WritePacket(*testing::Entry("c", lvDebug));
        LProtocol->WritePacket(*testing::Entry("d", lvError));
        LProtocol->Disconnect();
        EXPECT_EQ(Decode(Read(LName)),
                  LAppend ? (Titles{"earlier", "a", "b", "c", "d"}) : (Titles{"a", "b", "c", "d"}));
        fs::remove(FPath / LName);
    }
}

TEST_F(FileProtocolTest, AsynchronousProtocolWritesEverythingBeforeDisconnectReturns) {
    auto LProtocol = Open("async.sil", "async.enabled=true, maxsize=4, maxparts=0");
    Titles LExpected;
    for (int LIndex = 0; LIndex < 300; ++LIndex) {
        LExpected.push_back("t" + std::to_string(LIndex));
        Write(*LProtocol, LExpected.back());
    }
    LProtocol->Disconnect();
    Titles LTitles;
    for (const std::string& LName : Names()) {
        const Titles LPart = Decode(Read(LName));
        LTitles.insert(LTitles.end(), LPart.begin(), LPart.end());
    }
    EXPECT_EQ(LTitles, LExpected);
    EXPECT_GT(Names().size(), 1u);
}

// --- Size limit and rotation --------------------------------------------------------------------

TEST_F(FileProtocolTest, MaxSizeStartsANewFileBeforeTheLimitWouldBeExceeded) {
    // 1 KB: the magic and ten packets of 102 bytes make exactly 1024 bytes, which is allowed.
    auto LProtocol = Open("log.sil", "maxsize=1");
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-10-00-00.sil"}));
    for (int LIndex = 0; LIndex < 11; ++LIndex) {
        LProtocol->WritePacket(*EntryOfSize("a" + std::to_string(LIndex), 102));
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-10-00-00.sil",
                                                 "log-2024-05-01-10-00-00a.sil"}));
    EXPECT_EQ(Size("log-2024-05-01-10-00-00.sil"), 1024u);
    EXPECT_EQ(Decode(Read("log-2024-05-01-10-00-00.sil")).back(), "a9");
    EXPECT_EQ(Decode(Read("log-2024-05-01-10-00-00a.sil")), (Titles{"a10"}));

    // The third file, a second later, leaves only the newest two.
    FClock->Set(At(2024, 5, 1, 10, 0, 1));
    for (int LIndex = 11; LIndex < 21; ++LIndex) {
        LProtocol->WritePacket(*EntryOfSize("a" + std::to_string(LIndex), 102));
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-10-00-00a.sil",
                                                 "log-2024-05-01-10-00-01.sil"}));
    EXPECT_EQ(Decode(Read("log-2024-05-01-10-00-01.sil")), (Titles{"a20"}));

    // A packet larger than the limit rotates and is dropped; one of exactly the limit rotates
    // and is written into the new file, which then holds the magic beyond the limit.
    LProtocol->WritePacket(*EntryOfSize("big", 1025));
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-10-00-01.sil",
                                                 "log-2024-05-01-10-00-01a.sil"}));
    EXPECT_EQ(Size("log-2024-05-01-10-00-01a.sil"), 4u);
    LProtocol->WritePacket(*EntryOfSize("limit", 1024));
    LProtocol->Disconnect();
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-10-00-01a.sil",
                                                 "log-2024-05-01-10-00-01aa.sil"}));
    EXPECT_EQ(Decode(Read("log-2024-05-01-10-00-01aa.sil")), (Titles{"limit"}));
    EXPECT_EQ(Size("log-2024-05-01-10-00-01aa.sil"), 1028u);
}

TEST_F(FileProtocolTest, TimeRotationStartsANewFileOnTheFirstPacketOfANewPeriod) {
    struct Case {
        const char* Mode;
        TDateTime Open;
        TDateTime LastOfPeriod;
        TDateTime NextPeriod;
        const char* FirstName;
        const char* SecondName;
    };
    // 2024-05-05 is a Sunday.
    const Case LCases[] = {
        {"hourly", At(2024, 5, 1, 10, 0, 5), At(2024, 5, 1, 10, 59, 59), At(2024, 5, 1, 11),
         "h-2024-05-01-10-00-05.sil", "h-2024-05-01-11-00-00.sil"},
        {"daily", At(2024, 5, 1, 23, 59), At(2024, 5, 1, 23, 59, 59), At(2024, 5, 2),
         "d-2024-05-01-23-59-00.sil", "d-2024-05-02-00-00-00.sil"},
        {"weekly", At(2024, 5, 1, 8), At(2024, 5, 5, 23, 59, 59), At(2024, 5, 6),
         "w-2024-05-01-08-00-00.sil", "w-2024-05-06-00-00-00.sil"},
        {"monthly", At(2024, 12, 1), At(2024, 12, 31, 23, 59, 59), At(2025, 1, 1, 0, 0, 1),
         "m-2024-12-01-00-00-00.sil", "m-2025-01-01-00-00-01.sil"},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Mode);
        const std::string LBase = std::string(1, LCase.Mode[0]);
        fs::create_directories(FPath / LBase);
        FClock->Set(LCase.Open);
        auto LProtocol = Open(LBase + "/" + LBase + ".sil", std::string("rotate=") + LCase.Mode);
        Write(*LProtocol, "a");
        FClock->Set(LCase.LastOfPeriod);
        Write(*LProtocol, "b");
        FClock->Set(LCase.NextPeriod);
        EXPECT_EQ(Names(LBase).size(), 1u);
        Write(*LProtocol, "c");
        LProtocol->Disconnect();
        EXPECT_EQ(Names(LBase), (std::vector<std::string>{LCase.FirstName, LCase.SecondName}));
        EXPECT_EQ(Decode(Read(LBase + "/" + LCase.FirstName)), (Titles{"a", "b"}));
        EXPECT_EQ(Decode(Read(LBase + "/" + LCase.SecondName)), (Titles{"c"}));
    }
}

TEST_F(FileProtocolTest, AppendingContinuesTheNewestFileAndRotatesOnTheNextDay) {
    const auto LSession = [this](TDateTime ANow, const std::string& ATitle) {
        FClock->Set(ANow);
        auto LProtocol = Open("log.sil", "rotate=daily, append=true");
        // Connecting reopens the newest file, also yesterday's: nothing new yet.
        EXPECT_EQ(Names().size(), 1u);
        Write(*LProtocol, ATitle);
    };
    FClock->Set(At(2024, 5, 1, 23, 58));
    Open("log.sil", "rotate=daily, append=true");
    LSession(At(2024, 5, 1, 23, 59), "a");
    LSession(At(2024, 5, 1, 23, 59, 30), "b");
    LSession(At(2024, 5, 2, 0, 0, 10), "c");
    EXPECT_EQ(Names(), (std::vector<std::string>{"log-2024-05-01-23-58-00.sil",
                                                 "log-2024-05-02-00-00-10.sil"}));
    EXPECT_EQ(Decode(Read("log-2024-05-01-23-58-00.sil")), (Titles{"a", "b"}));
    EXPECT_EQ(Decode(Read("log-2024-05-02-00-00-10.sil")), (Titles{"c"}));
}

TEST_F(FileProtocolTest, FilesNamedLikeRotatedOnesAreNeitherReusedNorDeleted) {
    const std::vector<std::string> LForeign = {"log-2024-13-01-10-00-00.sil",
                                               "LOG-2024-04-01-09-00-00.sil"};
    for (const std::string& LName : LForeign) {
        std::ofstream(FPath / LName) << "keep";
    }
    auto LProtocol = Open("log.sil", "append=true, maxsize=1, maxparts=1");
    for (int LIndex = 0; LIndex < 25; ++LIndex) {
        LProtocol->WritePacket(*EntryOfSize("p" + std::to_string(LIndex), 102));
    }
    LProtocol->Disconnect();
    std::vector<std::string> LExpected = LForeign;
    LExpected.push_back("log-2024-05-01-10-00-00aa.sil");
    std::sort(LExpected.begin(), LExpected.end());
    EXPECT_EQ(Names(), LExpected);
    for (const std::string& LName : LForeign) {
        EXPECT_EQ(Read(LName), "keep");
    }
    EXPECT_EQ(Decode(Read("log-2024-05-01-10-00-00aa.sil")),
              (Titles{"p20", "p21", "p22", "p23", "p24"}));
}

// --- Encryption ---------------------------------------------------------------------------------

// Whether the openssl command can be run (not under Wine); asked once.
bool OpenSslAvailable(const std::string& ADir) {
    static const bool LAvailable =
        std::system(("openssl version > \"" + ADir + "openssl.txt\" 2>&1").c_str()) == 0;
    return LAvailable;
}

// Decrypts an encrypted log file with the openssl command.
std::string OpenSslDecrypt(const std::string& ADir, const std::string& APath, const Bytes& AKey) {
    const std::string LFile = SiReadFile(APath);
    const std::string LCipherText = ADir + "ciphertext.bin";
    const std::string LPlainText = ADir + "plaintext.bin";
    std::ofstream(LCipherText, std::ios::binary) << LFile.substr(20);
    const Bytes LIv(LFile.begin() + 4, LFile.begin() + 20);
    const std::string LCommand = "openssl enc -d -aes-128-cbc -K " + Hex(AKey) + " -iv " +
                                 Hex(LIv) + " -in \"" + LCipherText + "\" -out \"" + LPlainText +
                                 "\"";
    EXPECT_EQ(std::system(LCommand.c_str()), 0) << LCommand;
    return SiReadFile(LPlainText);
}

TEST_F(FileProtocolTest, EncryptionWithoutAKeyFailsBeforeAnyFileIsCreated) {
    for (const char* LOptions :
         {"encrypt=true", "encrypt=true, key=\"   \"", "encrypt=true, maxsize=1, rotate=daily"}) {
        auto LProtocol = TSiProtocolFactory::GetProtocol(
            "file", "filename=\"" + Path("e.sil") + "\", " + LOptions);
        EXPECT_EQ(ErrorOf([&] { LProtocol->Connect(); }), "No encryption key") << LOptions;
        EXPECT_TRUE(LProtocol->Failed());
    }
    EXPECT_TRUE(Names().empty());
}

TEST_F(FileProtocolTest, EncryptedFileIsMagicIvAndThePaddedPlainLayout) {
    const Bytes LKey = ToBytes("0123456789abcdef");
    const std::string LOptions = "encrypt=true, key=0123456789abcdef";

    // Closed right after opening: "SILF" and twelve bytes 0x0C in one block.
    Open("empty.sil", LOptions)->Disconnect();
    EXPECT_EQ(Read("empty.sil"), EncryptedFileOf(LKey, IvIn(Read("empty.sil")), "SILF"));
    EXPECT_EQ(Size("empty.sil"), 36u);

    // 32 bytes of plaintext ("SILF" and a 28-byte watch) get a whole block of padding.
    auto LWatch = SiMakeRef<TSiWatch>(wtString);
    LWatch->Name = "n";
    LWatch->Value = "v";
    const std::vector<std::uint8_t> LWatchBytes = SiFormatBinary(*LWatch);
    ASSERT_EQ(LWatchBytes.size(), 28u);
    const std::string LPlain = "SILF" + std::string(LWatchBytes.begin(), LWatchBytes.end());
    {
        auto LProtocol = Open("aligned.sil", LOptions);
        LProtocol->WritePacket(*LWatch);
        // Every packet is flushed: the whole blocks are in the file before the close.
        EXPECT_EQ(Size("aligned.sil"), 20u + 32u);
    }  // destroyed without Disconnect: still padded
    EXPECT_EQ(Read("aligned.sil"), EncryptedFileOf(LKey, IvIn(Read("aligned.sil")), LPlain));
    EXPECT_EQ(Size("aligned.sil"), 20u + 48u);

    // Files opened at the same moment under the same key never share an IV (CBC would then
    // show which of their first blocks are equal): the clock stands still here.
    Open("same.sil", LOptions)->Disconnect();
    EXPECT_EQ(Read("same.sil"), EncryptedFileOf(LKey, IvIn(Read("same.sil")), "SILF"));
    EXPECT_NE(IvIn(Read("same.sil")), IvIn(Read("empty.sil")));
    EXPECT_NE(IvIn(Read("same.sil")), IvIn(Read("aligned.sil")));
}

// A reconnect (after a failed write, or a disable and enable) must not replace the encrypted
// file written so far; the new stream goes to a file of its own beside it.
TEST_F(FileProtocolTest, ReconnectingAnEncryptedFileKeepsWhatItWrote) {
    const Bytes LKey = ToBytes("0123456789abcdef");
    const auto LPlainOf = [](const std::string& ATitle) {
        const Bytes LEntry = SiFormatBinary(*testing::Entry(ATitle));
        return "SILF" + std::string(LEntry.begin(), LEntry.end());
    };
    auto LProtocol = Open("e.sil", "encrypt=true, key=0123456789abcdef");
    Write(*LProtocol, "before");
    LProtocol->Disconnect();
    LProtocol->Connect();
    Write(*LProtocol, "after");
    LProtocol->Disconnect();

    const std::vector<std::string> LNames = Names();
    ASSERT_EQ(LNames.size(), 2u);
    EXPECT_EQ(LNames[0], "e-2024-05-01-10-00-00.sil");
    EXPECT_EQ(LNames[1], "e.sil");
    EXPECT_EQ(Read("e.sil"), EncryptedFileOf(LKey, IvIn(Read("e.sil")), LPlainOf("before")));
    EXPECT_EQ(Read(LNames[0]), EncryptedFileOf(LKey, IvIn(Read(LNames[0])), LPlainOf("after")));
}

TEST_F(FileProtocolTest, KeyTextIsCutOrZeroFilledToSixteenUtf8Bytes) {
    const Bytes LEntry = SiFormatBinary(*testing::Entry("x"));
    const std::string LPlain = "SILF" + std::string(LEntry.begin(), LEntry.end());
    // Nine Cyrillic letters: 18 UTF-8 bytes, of which the first eight letters remain.
    const std::string LCyrillic = "\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87";
    struct Case {
        std::string Key;
        Bytes Expected;
    };
    const Case LCases[] = {
        {"0123456789abcdef", ToBytes("0123456789abcdef")},
        {"abcde", {'a', 'b', 'c', 'd', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"0123456789abcdefghij", ToBytes("0123456789abcdef")},
        {LCyrillic + LCyrillic + "\xD0\xBA", ToBytes(LCyrillic + LCyrillic)},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Key);
        auto LProtocol = Open("k.sil", "encrypt=true, key=\"" + LCase.Key + "\"");
        Write(*LProtocol, "x");
        LProtocol->Disconnect();
        EXPECT_EQ(Read("k.sil"), EncryptedFileOf(LCase.Expected, IvIn(Read("k.sil")), LPlain));
    }
}

TEST_F(FileProtocolTest, OpenSslDecryptsEncryptedFilesToThePlainLayout) {
    // Rotation by size, a write buffer and packets larger than the cipher stream's pieces: every
    // encrypted file decrypts to exactly the plain file written alongside it.
    const Bytes LKey = ToBytes("Sixteen byte key");
    fs::create_directories(FPath / "plain");
    fs::create_directories(FPath / "encrypted");
    const std::string LOptions = "maxsize=4, maxparts=0, buffer=1";
    auto LPlain = Open("plain/log.sil", LOptions);
    auto LEncrypted =
        Open("encrypted/log.sil", LOptions + ", encrypt=true, key=\"Sixteen byte key\"");
    for (int LIndex = 0; LIndex < 40; ++LIndex) {
        const TSiPacketPtr LPacket =
            EntryOfSize("p" + std::to_string(LIndex), 60 + static_cast<std::size_t>(LIndex) * 37);
        LPlain->WritePacket(*LPacket);
        LEncrypted->WritePacket(*LPacket);
    }
    LPlain->Disconnect();
    LEncrypted->Disconnect();
    const std::vector<std::string> LNames = Names("plain");
    ASSERT_GT(LNames.size(), 3u);
    ASSERT_EQ(Names("encrypted"), LNames);

    const bool LOpenSsl = OpenSslAvailable(Dir());
    std::set<Bytes> LIvs;
    for (const std::string& LName : LNames) {
        SCOPED_TRACE(LName);
        const std::string LPlainBytes = Read("plain/" + LName);
        const std::string LEncrypted = Read("encrypted/" + LName);
        LIvs.insert(IvIn(LEncrypted));
        EXPECT_EQ(LEncrypted, EncryptedFileOf(LKey, IvIn(LEncrypted), LPlainBytes));
        if (LOpenSsl) {
            EXPECT_EQ(OpenSslDecrypt(Dir(), Path("encrypted/" + LName), LKey), LPlainBytes);
        }
    }
    // Rotated within the same clock tick, and still each file with an IV of its own.
    EXPECT_EQ(LIvs.size(), LNames.size());
    if (!LOpenSsl) {
        GTEST_SKIP() << "the openssl command is not available; checked against AES code only";
    }
}

}  // namespace
}  // namespace deruz::logging
