#include "tools/silog/log_reader.h"

#include <algorithm>
#include <cstring>

#include "logging/io/file_helper.h"
#include "logging/viewer/packet_reader.h"

namespace deruz::silog {

using namespace deruz::logging;

namespace {

constexpr std::string_view kPlainMagic = "SILF";
constexpr std::string_view kCipherMagic = "SILE";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kBlock = 16;
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kHeaderSize = 6;

bool StartsWith(const std::vector<std::uint8_t>& ABytes, std::string_view APrefix) {
    return ABytes.size() >= APrefix.size() &&
           std::equal(APrefix.begin(), APrefix.end(), ABytes.begin(),
                      [](char AA, std::uint8_t AB) { return static_cast<std::uint8_t>(AA) == AB; });
}

std::int32_t LoadInt32(const std::uint8_t* ABytes) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ABytes[0]) |
                                     (static_cast<std::uint32_t>(ABytes[1]) << 8) |
                                     (static_cast<std::uint32_t>(ABytes[2]) << 16) |
                                     (static_cast<std::uint32_t>(ABytes[3]) << 24));
}

// Where the length fields of a kind's fixed part stand, and how long that part is.
struct TFixedPart {
    const char* Name;
    std::size_t Size;
    std::vector<std::size_t> Lengths;
};

TFixedPart FixedPartOf(TSiPacketType AType) {
    switch (AType) {
        case ptLogEntry:
            return {"log entry", kSiLogEntryHeaderSize, {8, 12, 16, 20, 24}};
        case ptControlCommand:
            return {"control command", kSiControlCommandHeaderSize, {4}};
        case ptWatch:
            return {"watch", kSiWatchHeaderSize, {0, 4}};
        case ptProcessFlow:
            return {"process flow", kSiProcessFlowHeaderSize, {4, 8}};
        case ptLogHeader:
            break;
    }
    return {"log header", kSiLogHeaderHeaderSize, {0}};
}

TLogStep Step(TLogStep::TWhat AWhat) {
    TLogStep LStep;
    LStep.What = AWhat;
    return LStep;
}

}  // namespace

TLogReader::TLogReader(TLogReaderOptions AOptions) : FOptions(std::move(AOptions)) {}

TLogReader::~TLogReader() = default;

bool TLogReader::Open(const std::string& APath, std::string& AError) {
    return FSource.Open(APath, AError);
}

std::string TLogReader::Where() const {
    return FKind == TKind::Encrypted ? " of the decrypted log" : "";
}

TLogStep TLogReader::Failure(const std::string& AMessage) {
    FDone = true;
    TLogStep LStep;
    LStep.What = TLogStep::lsFailure;
    LStep.Message = AMessage;
    return LStep;
}

TLogStep TLogReader::Damage(const std::string& AMessage) {
    TLogStep LStep;
    LStep.What = TLogStep::lsDamage;
    LStep.Message = AMessage + Where();
    if (FOptions.Resync) {
        FResyncing = true;
        FSkipFrom = FOffset;
        if (Available() > 0) Consume(1);
    } else {
        FDone = true;
    }
    return LStep;
}

std::ptrdiff_t TLogReader::ReadRaw() {
    const std::size_t LOld = FRawPending.size();
    FRawPending.resize(LOld + kChunk);
    const std::ptrdiff_t LN = FSource.Read(FRawPending.data() + LOld, kChunk, FError);
    FRawPending.resize(LOld + static_cast<std::size_t>(std::max<std::ptrdiff_t>(LN, 0)));
    if (LN > 0) FRawRead += static_cast<std::uint64_t>(LN);
    return LN;
}

TLogStep TLogReader::Detect() {
    while (FRawPending.size() < kPlainMagic.size()) {
        if (StartsWith(FRawPending, kBom)) break;
        const std::ptrdiff_t LN = ReadRaw();
        if (LN < 0) return Failure(FError);
        if (LN > 0) continue;
        if (FOptions.Follow) return Step(TLogStep::lsWait);
        if (FRawPending.empty()) return Failure("empty file");
        break;
    }
    if (StartsWith(FRawPending, kBom)) {
        FKind = TKind::Text;
        FRawPending.erase(FRawPending.begin(), FRawPending.begin() + 3);
    } else if (StartsWith(FRawPending, kPlainMagic)) {
        FKind = TKind::Binary;
        FRawPending.erase(FRawPending.begin(), FRawPending.begin() + 4);
        FOffset = 4;
    } else if (StartsWith(FRawPending, kCipherMagic)) {
        if (FOptions.Key.empty()) return Failure("the file is encrypted: give its key with --key");
        FKind = TKind::Encrypted;
        FRawPending.erase(FRawPending.begin(), FRawPending.begin() + 4);
    } else {
        return Failure("not a log file (no \"SILF\" or \"SILE\" at offset 0)");
    }
    return Step(TLogStep::lsPacket);  // only "go on"
}

bool TLogReader::Pull() {
    if (FKind == TKind::Binary) {
        if (FRawPending.empty() && ReadRaw() <= 0) return false;
        FBuffer.insert(FBuffer.end(), FRawPending.begin(), FRawPending.end());
        FRawPending.clear();
        return true;
    }
    // Encrypted: "SILE", the 16-byte vector, then AES-128-CBC blocks; the last block carries
    // PKCS#7 padding when the writer closed the file.
    for (;;) {
        if (!FCipher && FRawPending.size() >= kBlock) {
            FCipher = std::make_unique<TRijndael>(FOptions.Key.data(),
                                                  static_cast<int>(FOptions.Key.size()));
            FCipher->SetMode(cmCBC);
            FCipher->SetIVector(std::span<const std::uint8_t>(FRawPending.data(), kBlock));
            FRawPending.erase(FRawPending.begin(), FRawPending.begin() + kBlock);
        }
        const std::size_t LWhole = FCipher ? FRawPending.size() / kBlock * kBlock : 0;
        if (LWhole > 0) {
            FCipher->Decrypt(FRawPending.data(), LWhole);
            if (!FMagicChecked) {
                if (!StartsWith(FRawPending, kPlainMagic)) {
                    FError =
                        "wrong key or not a log file: the decrypted data does not start "
                        "with \"SILF\" (offset 20)";
                    return false;
                }
                FMagicChecked = true;
                FOffset = 4;
            }
            const auto LEnd = FRawPending.begin() + static_cast<long>(LWhole);
            EmitPlain(FHeld.data(), FHeld.size());
            EmitPlain(FRawPending.data(), LWhole - kBlock);
            FHeld.assign(LEnd - static_cast<long>(kBlock), LEnd);
            FRawPending.erase(FRawPending.begin(), LEnd);
            return true;
        }
        const std::ptrdiff_t LN = ReadRaw();
        if (LN < 0) return false;
        if (LN > 0) continue;
        if (FOptions.Follow || FEnded) return false;
        // The end of a file that is not followed: the held block is the last one.
        FEnded = true;
        if (!FCipher) {
            FError = "truncated before the end of the initialisation vector at offset " +
                     std::to_string(FRawRead);
            return false;
        }
        if (!FRawPending.empty()) {
            FTruncation =
                "partial cipher block at offset " + std::to_string(FRawRead - FRawPending.size());
        }
        if (!FHeld.empty()) {
            const std::uint8_t LPad = FHeld.back();
            std::size_t LKeep = FHeld.size();
            if (LPad >= 1 && LPad <= kBlock &&
                std::all_of(FHeld.end() - LPad, FHeld.end(),
                            [&](std::uint8_t AB) { return AB == LPad; })) {
                LKeep -= LPad;
            }
            const std::size_t LBefore = Available();
            EmitPlain(FHeld.data(), LKeep);
            FHeld.clear();
            return Available() > LBefore;
        }
        return false;
    }
}

void TLogReader::EmitPlain(const std::uint8_t* ABytes, std::size_t ACount) {
    const std::size_t LSkip = std::min(FPlainSkip, ACount);
    FPlainSkip -= LSkip;
    FBuffer.insert(FBuffer.end(), ABytes + LSkip, ABytes + ACount);
}

bool TLogReader::Fill(std::size_t ACount) {
    while (Available() < ACount) {
        if (!Pull()) return false;
    }
    return true;
}

void TLogReader::Consume(std::size_t ACount) {
    FStart += ACount;
    FOffset += ACount;
    if (FStart == FBuffer.size()) {
        FBuffer.clear();
        FStart = 0;
    } else if (FStart >= kChunk && FStart * 2 >= FBuffer.size()) {
        FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<long>(FStart));
        FStart = 0;
    }
}

std::optional<std::uint64_t> TLogReader::Remaining() {
    if (FKind != TKind::Binary || FOptions.Follow) return std::nullopt;
    // A file that is not followed is taken at the size it had when the reader first asked.
    if (!FSizeAsked) {
        FSize = FSource.Size();
        FSizeAsked = true;
    }
    if (!FSize || *FSize < FOffset) return std::nullopt;
    return *FSize - FOffset;
}

TLogReader::THeaderCheck TLogReader::CheckHeader(std::size_t& ATotal, std::string* AWhy) {
    // Messages are built only when asked for: resynchronisation tries every byte offset.
    auto LInvalid = [&](auto&& AMessage) {
        if (AWhy != nullptr) *AWhy = AMessage();
        return hcInvalid;
    };
    const std::uint8_t* LHeader = Data();
    const auto LCode = static_cast<std::uint16_t>(LHeader[0] | (LHeader[1] << 8));
    const std::int32_t LSize = LoadInt32(LHeader + 2);
    const auto LType = SiPacketTypeFromCode(LCode);
    if (!LType) {
        return LInvalid([&] {
            return "Unknown packet type code " + std::to_string(LCode) + " at offset " +
                   std::to_string(FOffset);
        });
    }
    if (LSize < 0) {
        return LInvalid([&] {
            return "Negative packet size " + std::to_string(LSize) + " at offset " +
                   std::to_string(FOffset + 2);
        });
    }
    ATotal = kHeaderSize + static_cast<std::size_t>(LSize);
    const TFixedPart LFixed = FixedPartOf(*LType);
    if (static_cast<std::size_t>(LSize) < LFixed.Size) {
        return LInvalid([&] {
            return std::string("Body of the ") + LFixed.Name + " (" + std::to_string(LSize) +
                   " bytes) is shorter than its " + std::to_string(LFixed.Size) +
                   "-byte header at offset " + std::to_string(FOffset + kHeaderSize);
        });
    }
    if (const auto LRemaining = Remaining(); LRemaining && ATotal > *LRemaining) {
        return LInvalid([&] {
            return "Truncated packet: body of " + std::to_string(LSize) + " bytes, " +
                   std::to_string(*LRemaining - kHeaderSize) + " available at offset " +
                   std::to_string(FOffset);
        });
    }
    if (!Fill(kHeaderSize + LFixed.Size)) return hcNeedMore;
    std::uint64_t LLengths = 0;
    for (const std::size_t LAt : LFixed.Lengths) {
        const std::int32_t LLength = LoadInt32(Data() + kHeaderSize + LAt);
        if (LLength < 0) {
            return LInvalid([&] {
                return std::string("Negative length ") + std::to_string(LLength) + " in " +
                       LFixed.Name + " body at offset " +
                       std::to_string(FOffset + kHeaderSize + LAt);
            });
        }
        LLengths += static_cast<std::uint64_t>(LLength);
    }
    if (LLengths != static_cast<std::uint64_t>(LSize) - LFixed.Size) {
        return LInvalid([&] {
            return std::string("Lengths of the ") + LFixed.Name + " give " +
                   std::to_string(LFixed.Size + LLengths) + " body bytes, the packet header " +
                   std::to_string(LSize) + " at offset " + std::to_string(FOffset + kHeaderSize);
        });
    }
    return Fill(ATotal) ? hcOk : hcNeedMore;
}

TLogStep TLogReader::NextText() {
    if (FRawPending.empty()) {
        const std::ptrdiff_t LN = ReadRaw();
        if (LN < 0) return Failure(FError);
        if (LN == 0) {
            if (FOptions.Follow) return Step(TLogStep::lsWait);
            FDone = true;
            TLogStep LStep = Step(TLogStep::lsText);
            LStep.Text = FEscaper.Finish();
            return LStep;
        }
    }
    TLogStep LStep = Step(TLogStep::lsText);
    LStep.Text = FEscaper.Feed(
        std::string_view(reinterpret_cast<const char*>(FRawPending.data()), FRawPending.size()));
    FRawPending.clear();
    return LStep;
}

TLogStep TLogReader::NextPacket() {
    if (!Fill(kHeaderSize)) {
        if (!FError.empty()) return Failure(FError);
        if (FOptions.Follow) return Step(TLogStep::lsWait);
        if (Available() == 0) {
            FDone = true;
            if (!FTruncation.empty()) {
                TLogStep LStep = Step(TLogStep::lsDamage);
                LStep.Message = FTruncation;
                return LStep;
            }
            return Step(TLogStep::lsEnd);
        }
        return Damage("Truncated packet header: " + std::to_string(kHeaderSize) +
                      " bytes needed, " + std::to_string(Available()) + " available at offset " +
                      std::to_string(FOffset));
    }
    std::size_t LTotal = 0;
    std::string LWhy;
    const THeaderCheck LCheck = CheckHeader(LTotal, &LWhy);
    if (LCheck != hcOk) {
        if (!FError.empty()) return Failure(FError);
        if (LCheck == hcInvalid) return Damage(LWhy);
        if (FOptions.Follow) return Step(TLogStep::lsWait);
        // Cut off by the end of the file: the library's reader names what is missing.
        try {
            TSiBinaryPacketReader(std::span<const std::uint8_t>(Data(), Available()), FOffset)
                .ReadPacket();
        } catch (const ESiPacketFormatError& LE) {
            return Damage(LE.what());
        }
        return Damage("Truncated packet at offset " + std::to_string(FOffset));
    }
    try {
        TSiBinaryPacketReader LReader(std::span<const std::uint8_t>(Data(), LTotal), FOffset);
        TLogStep LStep = Step(TLogStep::lsPacket);
        LStep.Packet = LReader.ReadPacket();
        Consume(LTotal);
        return LStep;
    } catch (const ESiPacketFormatError& LE) {
        return Damage(LE.what());
    }
}

TLogStep TLogReader::Resync() {
    for (;;) {
        if (!Fill(kHeaderSize)) {
            if (!FError.empty()) return Failure(FError);
            if (FOptions.Follow) return Step(TLogStep::lsWait);
            Consume(Available());
            FResyncing = false;
            FDone = true;
            TLogStep LStep = Step(TLogStep::lsSkipped);
            LStep.Message = "skipped " + std::to_string(FOffset - FSkipFrom) +
                            " bytes from offset " + std::to_string(FSkipFrom) +
                            " to the end of the file" + Where();
            return LStep;
        }
        // Every packet type code is below 256: skip straight to the next byte pair that
        // could be one.
        static const std::array<bool, 256> LTypeCode = [] {
            std::array<bool, 256> LTable{};
            for (std::size_t LI = 0; LI < LTable.size(); ++LI) {
                LTable[LI] = SiPacketTypeFromCode(static_cast<std::uint16_t>(LI)).has_value();
            }
            return LTable;
        }();
        const std::uint8_t* LBytes = Data();
        const std::size_t LLast = Available() - 1;
        std::size_t LSkip = 0;
        while (LSkip < LLast && (LBytes[LSkip + 1] != 0 || !LTypeCode[LBytes[LSkip]])) ++LSkip;
        if (LSkip > 0) {
            Consume(LSkip);
            continue;
        }
        std::size_t LTotal = 0;
        const THeaderCheck LCheck = CheckHeader(LTotal, nullptr);
        if (LCheck == hcOk) {
            try {
                TSiBinaryPacketReader LReader(std::span<const std::uint8_t>(Data(), LTotal),
                                              FOffset);
                FFound = LReader.ReadPacket();
                TLogStep LStep = Step(TLogStep::lsSkipped);
                LStep.Message = "skipped " + std::to_string(FOffset - FSkipFrom) +
                                " bytes from offset " + std::to_string(FSkipFrom) + " to offset " +
                                std::to_string(FOffset) + Where();
                Consume(LTotal);
                FResyncing = false;
                return LStep;
            } catch (const ESiPacketFormatError&) {
            }
        } else if (!FError.empty()) {
            return Failure(FError);
        } else if (LCheck == hcNeedMore && FOptions.Follow) {
            return Step(TLogStep::lsWait);  // the candidate may still be written
        }
        Consume(1);
    }
}

TLogStep TLogReader::Next() {
    if (FFound) {
        TLogStep LStep = Step(TLogStep::lsPacket);
        LStep.Packet = std::move(FFound);
        FFound = nullptr;
        return LStep;
    }
    if (FDone) return Step(TLogStep::lsEnd);
    if (FKind == TKind::Unknown) {
        TLogStep LDetected = Detect();
        if (FKind == TKind::Unknown) return LDetected;
    }
    if (FKind == TKind::Text) return NextText();
    if (FResyncing) return Resync();
    return NextPacket();
}

std::string FirstFollowedFile(const std::string& APath, bool& ABaseName) {
    ABaseName = false;
    if (!TFileSource::IdentityOf(APath)) {
        std::string LNewest = logging::TSiFileHelper::FindFileName(APath);
        if (!LNewest.empty()) {
            ABaseName = true;
            return LNewest;
        }
    }
    return APath;
}

std::string NextFollowedFile(const std::string& APath, bool ABaseName, const std::string& ACurrent,
                             TLogReader& AReader) {
    if (ABaseName) {
        std::string LNewest = logging::TSiFileHelper::FindFileName(APath);
        return LNewest != ACurrent ? LNewest : std::string();
    }
    const auto LIdentity = TFileSource::IdentityOf(APath);
    if (!LIdentity) return {};  // moved away, the new one not there yet
    // Ours unread (a failing query) is no news: a switch now would read the same file again.
    const TFileIdentity LOurs = AReader.Source().Identity();
    if (LOurs == TFileIdentity{}) return {};
    if (*LIdentity != LOurs) return APath;
    const auto LSize = AReader.Source().Size();
    return LSize && *LSize < AReader.BytesRead() ? APath : std::string();
}

}  // namespace deruz::silog
