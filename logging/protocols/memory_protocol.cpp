// The memory protocol: a byte-budgeted store of the newest packets and its dumps.
#include "logging/protocols/memory_protocol.h"

#include <exception>
#include <string_view>
#include <utility>

#include "logging/format/binary_formatter.h"
#include "logging/format/text_formatter.h"

namespace deruz::logging {

namespace {

// The first bytes of a binary dump, as of an unencrypted binary log file.
constexpr std::string_view kBinaryMark = "SILF";

}  // namespace

// --- Dump target ----------------------------------------------------------------------------

bool TSiMemoryDump::WaitFor(std::chrono::milliseconds ATimeout) {
    std::unique_lock LGuard(FLock);
    return FDone.wait_for(LGuard, ATimeout, [this] { return FFinished; });
}

bool TSiMemoryDump::Done() {
    std::lock_guard LGuard(FLock);
    return FFinished;
}

std::string TSiMemoryDump::Error() {
    std::lock_guard LGuard(FLock);
    return FError;
}

void TSiMemoryDump::Finish(std::string AError) {
    // Notified under the lock: a waiter cannot return, and destroy this object, before the
    // lock is given back, which is the last access here.
    std::lock_guard LGuard(FLock);
    FFinished = true;
    FError = std::move(AError);
    FDone.notify_all();
}

// --- Protocol -------------------------------------------------------------------------------

TSiMemoryProtocol::TSiMemoryProtocol() : FPattern(CSiDefaultPattern) {
    InitializeFormatter();
}

void TSiMemoryProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("maxsize", SiSizeOptionText(FMaxSize));
    ABuilder.AddOption("astext", FAsText);
    ABuilder.AddOption("indent", FIndent);
    ABuilder.AddOption("pattern", FPattern);
}

void TSiMemoryProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FAsText = GetBooleanOption("astext", false);
    FMaxSize = GetSizeOption("maxsize", 2048);
    FPattern = GetStringOption("pattern", std::string(CSiDefaultPattern));
    FIndent = GetBooleanOption("indent", false);
    InitializeFormatter();
}

bool TSiMemoryProtocol::IsValidOption(const std::string& AKey) const {
    return AKey == "astext" || AKey == "maxsize" || AKey == "pattern" || AKey == "indent" ||
           TSiProtocol::IsValidOption(AKey);
}

void TSiMemoryProtocol::InitializeFormatter() {
    if (FAsText) {
        auto LFormatter = std::make_unique<TSiTextFormatter>(FPattern);
        LFormatter->SetIndent(FIndent);
        FFormatter = std::move(LFormatter);
    } else {
        FFormatter = std::make_unique<TSiBinaryFormatter>();
    }
}

void TSiMemoryProtocol::InternalConnect() {
    FQueue = std::make_unique<TSiPacketQueue>(FMaxSize);
}

void TSiMemoryProtocol::InternalDisconnect() {
    if (FQueue) {
        FQueue->Clear();
        FQueue.reset();
    }
}

void TSiMemoryProtocol::InternalWritePacket(TSiPacket& APacket) {
    // The queue takes its own reference and drops the oldest packets beyond the budget.
    if (FQueue) {
        FQueue->Push(APacket);
    }
}

void TSiMemoryProtocol::InternalDispatch(TSiProtocolCommand& ACommand) {
    auto* LDump = static_cast<TSiMemoryDump*>(ACommand.State());
    if (LDump == nullptr) {
        return;
    }
    try {
        if (LDump->Stream() != nullptr) {
            FlushToStream(*LDump->Stream());
        } else if (LDump->Protocol() != nullptr && LDump->Protocol() != this) {
            // Handing the packets to this protocol itself would put each one back into the
            // store being emptied, without end.
            FlushToProtocol(*LDump->Protocol());
        }
    } catch (const std::exception& LAError) {
        LDump->Finish(LAError.what());
        throw;
    }
    LDump->Finish({});
}

void TSiMemoryProtocol::FlushToStream(TSiStream& AStream) {
    if (FAsText) {
        AStream.WriteBuffer(CSiBom.data(), CSiBom.size());
    } else {
        AStream.WriteBuffer(kBinaryMark.data(), kBinaryMark.size());
    }
    if (!FQueue) {
        return;
    }
    while (const TSiPacketPtr LPacket = FQueue->Pop()) {
        // Other protocols may be formatting the same packet on their own threads.
        TSiPacketLock LLock(*LPacket);
        FFormatter->Format(*LPacket, AStream);
    }
}

void TSiMemoryProtocol::FlushToProtocol(TSiProtocol& AProtocol) {
    if (!FQueue) {
        return;
    }
    // Only the packets held now: a target that logs back into this store must not keep the
    // dump going for ever.
    for (std::int32_t LCount = FQueue->Count(); LCount > 0; --LCount) {
        const TSiPacketPtr LPacket = FQueue->Pop();
        if (!LPacket) {
            break;
        }
        AProtocol.WritePacket(*LPacket);
    }
}

}  // namespace deruz::logging
