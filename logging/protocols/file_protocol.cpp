// The "file" protocol: binary log files with size limits, time rotation and encryption.
#include "logging/protocols/file_protocol.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>
#include <utility>

#include "logging/base/strings.h"
#include "logging/format/binary_formatter.h"
#include "logging/io/file_helper.h"
#include "logging/system/clock.h"
#include "logging/system/random.h"

namespace deruz::logging {

namespace {

// The write buffer when "buffer" is 0 (every packet is flushed anyway).
constexpr std::int64_t kDefaultBufferSize = 8192;
// The key of an encrypted file: AES-128.
constexpr std::size_t kKeySize = 16;

constexpr std::array<std::string_view, 8> kFileOptions = {
    "filename", "append", "buffer", "maxsize", "maxparts", "rotate", "encrypt", "key"};

}  // namespace

TSiFileProtocol::TSiFileProtocol() = default;

TSiFileProtocol::~TSiFileProtocol() {
    // The disconnect has waited for a deferred write; this only makes sure.
    TSiDeferredWrites::Run();
    { const std::lock_guard LGuard(FWriteLock); }
    ProtectClear(FKey.data(), FKey.size());
}

std::string TSiFileProtocol::GetName() const {
    return "file";
}

// --- Options ----------------------------------------------------------------------------------

bool TSiFileProtocol::IsValidOption(const std::string& AKey) const {
    return std::find(kFileOptions.begin(), kFileOptions.end(), AKey) != kFileOptions.end() ||
           TSiProtocol::IsValidOption(AKey);
}

void TSiFileProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FFileName = GetStringOption("filename", GetDefaultFileName());
    FAppend = GetBooleanOption("append", false);
    FIOBuffer = GetSizeOption("buffer", 0);
    FMaxSize = GetSizeOption("maxsize", 0);
    FRotate = GetRotateOption("rotate", frNone);
    FMaxParts = GetIntegerOption("maxparts", FMaxSize > 0 && FRotate == frNone ? 2 : 0);
    ProtectClear(FKey.data(), FKey.size());
    FKey = GetBytesOption("key", kKeySize, {});
    FEncrypt = GetBooleanOption("encrypt", false);
    if (FEncrypt) {
        // An encrypted file cannot be continued: its cipher chain and padding end with it.
        FAppend = false;
    }
    FRotater.SetMode(FRotate);
}

void TSiFileProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("append", FAppend);
    ABuilder.AddOption("buffer", SiSizeOptionText(FIOBuffer));
    ABuilder.AddOption("filename", FFileName);
    ABuilder.AddOption("maxsize", SiSizeOptionText(FMaxSize));
    ABuilder.AddOption("maxparts", FMaxParts);
    ABuilder.AddOption("rotate", FRotate);
    // "encrypt" and "key" stay out: the options text appears in error reports.
}

// --- Hooks ------------------------------------------------------------------------------------

TSiFormatter& TSiFileProtocol::GetFormatter() {
    if (!FFormatter) {
        FFormatter = std::make_unique<TSiBinaryFormatter>();
    }
    return *FFormatter;
}

std::string TSiFileProtocol::GetDefaultFileName() const {
    return "log.sil";
}

std::unique_ptr<TSiStream> TSiFileProtocol::GetStream(TSiStream&) {
    return nullptr;
}

std::int64_t TSiFileProtocol::WriteHeader(TSiStream& AStream, std::int64_t ASize) {
    if (ASize != 0) {
        return ASize;
    }
    AStream.WriteBuffer(SiSILF.data(), SiSILF.size());
    return static_cast<std::int64_t>(SiSILF.size());
}

void TSiFileProtocol::WriteFooter(TSiStream&) {}

// --- Connection -------------------------------------------------------------------------------

void TSiFileProtocol::InternalConnect() {
    // An encrypted file cannot be continued (its last block is padded): a reconnect starts a
    // new file beside it (see InternalDoConnect).
    InternalDoConnect(FAppend || (FOpened && !FEncrypt));
}

void TSiFileProtocol::InternalBeforeConnect() {
    if (!FEncrypt) {
        return;
    }
    if (FKey.empty()) {
        RaiseException("No encryption key");
    }
    if (FKey.size() != kKeySize) {
        RaiseException("Invalid encryption key size");
    }
}

void TSiFileProtocol::InternalDoConnect(bool AAppend) {
    InternalBeforeConnect();
    std::string LFileName = FFileName;
    if (IsRotating()) {
        LFileName = TSiFileHelper::GetFileName(FFileName, AAppend, SiUtcNow());
    } else if (FEncrypt && FOpened) {
        // Reconnecting after an error or a disable: the file written so far must not be
        // replaced, and cannot be continued; the new one takes a time-stamped name beside it,
        // as a rotated part would.
        LFileName = TSiFileHelper::ExpandFileName(FFileName, SiUtcNow());
    }

    FFileStream = std::make_unique<TSiFileStream>(LFileName, faWrite,
                                                  AAppend ? fcOpenAlways : fcCreateAlways);
    FFileSize = FFileStream->GetSize();
    FFileStream->Seek(0, soEnd);

    const auto LCapacity = static_cast<std::size_t>(FIOBuffer > 0 ? FIOBuffer : kDefaultBufferSize);
    TSiStream* LTarget = FFileStream.get();
    if (FEncrypt) {
        const std::array<std::uint8_t, 16> LIV = GetIVector();
        FFileStream->WriteBuffer(SiSILE.data(), SiSILE.size());
        FFileStream->WriteBuffer(LIV.data(), LIV.size());
        FCipher = std::make_unique<TRijndael>(FKey.data(), static_cast<int>(FKey.size()));
        FCipher->SetMode(cmCBC);
        FCipher->SetIVector(LIV);
        // Room for a flushed write buffer plus the block the cipher stream held back.
        FCipherBuffer = std::make_unique<TSiBufferedStream>(
            *FFileStream, LCapacity + static_cast<std::size_t>(FCipher->BlockSize()));
        FCipherStream = std::make_unique<TEncryptStream>(*FCipherBuffer, *FCipher);
        LTarget = FCipherStream.get();
    }

    FOwnStream = GetStream(*LTarget);
    FStream = FOwnStream ? FOwnStream.get() : LTarget;
    FFileSize = WriteHeader(*FStream, FFileSize);
    FCommitted = FEncrypt ? -1 : FFileSize;
    FTorn = false;
    FOpened = true;

    FBuffer = std::make_unique<TSiBufferedStream>(*FStream, LCapacity);
    FIOBufferCounter = 0;
    FDeferWrites = FIOBuffer > 0 && !FEncrypt && !IsRotating() && !FOwnStream &&
                   OwnerSerialises() && !Asynchronous();

    InternalAfterConnect(LFileName);
}

void TSiFileProtocol::InternalAfterConnect(const std::string& AFileName) {
    if (!IsRotating()) {
        return;
    }
    if (FRotate != frNone) {
        TDateTime LDate = 0;
        if (!TSiFileHelper::TryGetFileDate(FFileName, AFileName, LDate)) {
            RaiseException("Invalid filename");
        }
        FRotater.Initialize(LDate);
    }
    if (FMaxParts > 0) {
        TSiFileHelper::DeleteFiles(FFileName, static_cast<std::size_t>(FMaxParts), AFileName);
    }
}

void TSiFileProtocol::InternalDisconnect() {
    // Everything is released whatever fails on the way, so that the file is always closed; the
    // first error is reported afterwards.
    std::exception_ptr LError;
    const auto LAttempt = [&LError](auto&& AStep) {
        try {
            AStep();
        } catch (...) {
            if (!LError) {
                LError = std::current_exception();
            }
        }
    };
    // A deferred write of this thread runs first, one of another thread is waited for; what
    // follows writes to the file under the write lock.
    TSiDeferredWrites::Run();
    std::unique_lock<std::mutex> LWriteLock(FWriteLock, std::defer_lock);
    if (FDeferWrites) {
        LWriteLock.lock();
        LAttempt([this] {
            if (FBuffer) {
                RaiseWriteError();
            }
        });
        FWriteFailed.store(false, std::memory_order_relaxed);
    }
    bool LCutBack = FTorn;
    if (FBuffer) {
        if (FTorn) {
            // Whatever the buffer still holds belongs behind the torn packet.
            FBuffer->Discard();
        } else {
            LAttempt([this, &LCutBack] {
                try {
                    WriteFooter(*FBuffer);
                    FBuffer->Flush();
                } catch (...) {
                    LCutBack = true;
                    throw;
                }
            });
        }
        FBuffer.reset();
    }
    if (LCutBack && FCommitted >= 0 && FFileStream) {
        LAttempt([this] { FFileStream->Truncate(FCommitted); });
    }
    FTorn = false;
    FDeferWrites = false;
    FStream = nullptr;
    FOwnStream.reset();
    if (FCipherStream) {
        // Padded even after an error above: whatever reached the file stays decryptable.
        LAttempt([this] {
            FCipherStream->Done();
            FCipherBuffer->Flush();
        });
        FCipherStream.reset();
    }
    FCipherBuffer.reset();
    FCipher.reset();
    FFileStream.reset();
    if (LError) {
        std::rethrow_exception(LError);
    }
}

void TSiFileProtocol::Rotate() {
    InternalDisconnect();
    InternalDoConnect(false);
}

// --- Writing ----------------------------------------------------------------------------------

void TSiFileProtocol::InternalWritePacket(TSiPacket& APacket) {
    TSiFormatter& LFormatter = GetFormatter();
    const std::int64_t LSize = LFormatter.Compile(APacket);

    if (FRotate != frNone && FRotater.Update(SiUtcNow())) {
        Rotate();
    }
    if (FMaxSize > 0) {
        FFileSize += LSize;
        if (FFileSize > FMaxSize) {
            Rotate();
            if (LSize > FMaxSize) {
                // It would not fit even an empty file.
                return;
            }
            FFileSize += LSize;
        }
    }

    if (FDeferWrites) {
        WriteDeferring(LFormatter, LSize);
        return;
    }
    try {
        if (FIOBuffer > 0) {
            LFormatter.Write(*FBuffer);
            FIOBufferCounter += LSize;
            if (FIOBufferCounter > FIOBuffer) {
                FlushBuffers();
                FCommitted += FIOBufferCounter;
                FIOBufferCounter = 0;
            }
        } else {
            // Every packet goes out at once: the write buffer stays empty, and the formatter's
            // bytes go straight to the stream behind it.
            LFormatter.Write(*FStream);
            FlushBuffers();
            FCommitted += LSize;
        }
    } catch (...) {
        // Part of the packet (or of the buffer) may have reached the file.
        FTorn = true;
        throw;
    }
}

void TSiFileProtocol::InternalDispatch(TSiProtocolCommand& ACommand) {
    if (ACommand.Action() != kSiFileSyncAction || !FFileStream) {
        return;
    }
    if (FDeferWrites) {
        // A buffer handed to a deferred write is written (or its failure raised) first; the
        // bytes of the buffer being filled are counted in FCommitted already.
        TSiDeferredWrites::Run();
        const std::lock_guard LGuard(FWriteLock);
        RaiseWriteError();
        try {
            FlushBuffers();
        } catch (...) {
            FTorn = true;
            throw;
        }
    } else if (FBuffer) {
        try {
            FlushBuffers();
        } catch (...) {
            FTorn = true;
            throw;
        }
        FCommitted += FIOBufferCounter;
        FIOBufferCounter = 0;
    }
    if (!FFileStream->Sync()) {
        throw ESiStreamError("Cannot write the file to the disk: " +
                             SiSystemErrorText(SiLastSystemError()));
    }
}

void TSiFileProtocol::FlushBuffers() {
    FBuffer->Flush();
    if (FCipherBuffer) {
        FCipherBuffer->Flush();
    }
}

// --- Deferred writes --------------------------------------------------------------------------

void TSiFileProtocol::WriteDeferring(TSiFormatter& AFormatter, std::int64_t ASize) {
    const auto LSize = static_cast<std::size_t>(ASize);
    if (FWriteFailed.load(std::memory_order_acquire)) {
        // An earlier buffer did not reach the file: reported before anything else is written.
        TSiDeferredWrites::Run();
        const std::lock_guard LGuard(FWriteLock);
        RaiseWriteError();
    }
    if (FBuffer->Count() > 0 && LSize > FBuffer->Capacity() - FBuffer->Count()) {
        HandOff();
    }
    if (LSize < FBuffer->Capacity()) {
        // Fits the buffer: only copied, nothing reaches the system here.
        AFormatter.Write(*FBuffer);
        return;
    }
    // A packet as large as the buffer goes straight to the file, in order after the others.
    TSiDeferredWrites::Run();
    const std::lock_guard LGuard(FWriteLock);
    RaiseWriteError();
    const std::size_t LHeld = FBuffer->Count();
    try {
        AFormatter.Write(*FBuffer);
        FBuffer->Flush();
    } catch (...) {
        FTorn = true;
        throw;
    }
    FCommitted += static_cast<std::int64_t>(LHeld + LSize);
}

void TSiFileProtocol::HandOff() {
    // A write this thread still has pending may be this protocol's: it goes first, so that
    // the lock below never waits for this very thread.
    TSiDeferredWrites::Run();
    std::unique_lock LGuard(FWriteLock);
    RaiseWriteError();
    if (!FPendingBlock) {
        FPendingBlock = std::make_unique<std::uint8_t[]>(FBuffer->Capacity());
    }
    FPendingCount = FBuffer->Exchange(FPendingBlock);
    if (TSiDeferredWrites::Defer(*this)) {
        // RunDeferredWrite lets go of the lock.
        LGuard.release();
        return;
    }
    WritePending();
    RaiseWriteError();
}

void TSiFileProtocol::RaiseWriteError() {
    if (!FWriteFailed.load(std::memory_order_relaxed)) {
        return;
    }
    FWriteFailed.store(false, std::memory_order_relaxed);
    // Part of the block may have reached the file: it is cut back when the file is closed.
    FTorn = true;
    RaiseException(FWriteError);
}

void TSiFileProtocol::WritePending() noexcept {
    const std::size_t LCount = FPendingCount;
    FPendingCount = 0;
    try {
        FFileStream->WriteBuffer(FPendingBlock.get(), LCount);
        FCommitted += static_cast<std::int64_t>(LCount);
    } catch (const std::exception& LAError) {
        try {
            FWriteError = LAError.what();
        } catch (...) {
            FWriteError.clear();
        }
        FWriteFailed.store(true, std::memory_order_release);
    } catch (...) {
        FWriteError.clear();
        FWriteFailed.store(true, std::memory_order_release);
    }
}

void TSiFileProtocol::RunDeferredWrite() noexcept {
    const std::unique_lock LGuard(FWriteLock, std::adopt_lock);
    WritePending();
}

// --- Encryption -------------------------------------------------------------------------------

std::array<std::uint8_t, 16> TSiFileProtocol::GetIVector() {
    // CBC needs an IV that no other file under the same key has had: two files opened within
    // one clock tick (size rotation makes that likely) must not share it, so it comes from the
    // system's random source rather than from the time. Readers take it from the file.
    std::array<std::uint8_t, 16> LResult{};
    try {
        SiRandomBytes(LResult.data(), LResult.size());
    } catch (const std::exception& LAError) {
        RaiseException(LAError.what());
    }
    return LResult;
}

void TSiFileProtocol::RaiseException(const std::string& AMessage) const {
    throw ESiProtocolError(AMessage, GetName(), std::string());
}

}  // namespace deruz::logging
