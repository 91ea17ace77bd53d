// The log viewer's side of the pipe and TCP protocols: banner exchange, packet decoding and
// acknowledgements, over the listeners of viewer_transport.h.
#include "logging/viewer/viewer_server.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>

#include "logging/base/errors.h"
#include "logging/format/binary_formatter.h"
#include "logging/system/clock.h"
#include "logging/viewer/packet_reader.h"

namespace deruz::logging {

namespace {

// Bytes asked for per read.
constexpr std::size_t kReadSize = 65536;
// The most acknowledgement bytes held back for one write.
constexpr std::size_t kMaxUnwrittenAcknowledgements = 65536;

// Received bytes not yet decoded. Unlike a vector it does not clear memory it is about to
// read into, which would cost more than the read itself for small packets.
class TPendingBytes {
  public:
    std::uint8_t* Data() noexcept { return FData.get() + FStart; }
    std::size_t Size() const noexcept { return FEnd - FStart; }
    std::span<const std::uint8_t> Bytes() const noexcept {
        return {FData.get() + FStart, FEnd - FStart};
    }

    // Room for ACount more bytes at the end, moving the undecoded rest to the front first.
    std::uint8_t* Prepare(std::size_t ACount) {
        if (FStart > 0) {
            std::memmove(FData.get(), FData.get() + FStart, FEnd - FStart);
            FEnd -= FStart;
            FStart = 0;
        }
        if (FCapacity - FEnd < ACount) {
            const std::size_t LCapacity = std::max(FCapacity * 2, FEnd + ACount);
            auto LData = std::make_unique_for_overwrite<std::uint8_t[]>(LCapacity);
            if (FEnd > 0) {
                std::memcpy(LData.get(), FData.get(), FEnd);
            }
            FData = std::move(LData);
            FCapacity = LCapacity;
        }
        return FData.get() + FEnd;
    }
    void Commit(std::size_t ACount) noexcept { FEnd += ACount; }
    void Consume(std::size_t ACount) noexcept {
        FStart += ACount;
        if (FStart == FEnd) {
            FStart = FEnd = 0;
        }
    }

  private:
    std::unique_ptr<std::uint8_t[]> FData;
    std::size_t FCapacity = 0;
    std::size_t FStart = 0;
    std::size_t FEnd = 0;
};

// The total size a packet header announces (header and body); the header has been checked.
std::size_t AnnouncedSize(std::span<const std::uint8_t> AHeader) {
    const std::uint32_t LBody = static_cast<std::uint32_t>(AHeader[2]) |
                                (static_cast<std::uint32_t>(AHeader[3]) << 8) |
                                (static_cast<std::uint32_t>(AHeader[4]) << 16) |
                                (static_cast<std::uint32_t>(AHeader[5]) << 24);
    return kSiPacketHeaderSize + LBody;
}

// The deadline ATimeout milliseconds from now; none for 0.
std::optional<std::uint32_t> DeadlineIn(std::uint32_t ATimeout) noexcept {
    if (ATimeout == 0) {
        return std::nullopt;
    }
    // Deadlines are compared on the wrapping tick count, so they stay within half its range.
    return SiSystemTickCount() + std::min<std::uint32_t>(ATimeout, INT32_MAX);
}

}  // namespace

TSiViewerServer::TSiViewerServer(TSiViewerServerOptions AOptions) : FOptions(std::move(AOptions)) {}

TSiViewerServer::~TSiViewerServer() {
    Stop();
}

void TSiViewerServer::Start() {
    Stop();
    FStopping = false;
    std::unique_ptr<TSiViewerListener> LPipe;
    std::unique_ptr<TSiViewerListener> LTcp;
    if (!FOptions.PipeName.empty()) {
        LPipe = SiListenPipe(FOptions.PipeName);
    }
    if (FOptions.Tcp) {
        LTcp = SiListenTcp(FOptions.TcpAddress, FOptions.TcpPort);
        FTcpPort = LTcp->Port();
    }
    std::lock_guard LGuard(FLock);
    FPipeListener = std::move(LPipe);
    FTcpListener = std::move(LTcp);
    if (FPipeListener) {
        FThreads.emplace_back([this, LListener = FPipeListener.get()] {
            Run(*LListener, TSiViewerTransport::vtPipe);
        });
    }
    if (FTcpListener) {
        FThreads.emplace_back(
            [this, LListener = FTcpListener.get()] { Run(*LListener, TSiViewerTransport::vtTcp); });
    }
}

void TSiViewerServer::RequestStop() noexcept {
    std::lock_guard LGuard(FLock);
    FStopping = true;
    if (FPipeListener) {
        FPipeListener->Stop();
    }
    if (FTcpListener) {
        FTcpListener->Stop();
    }
    FConnectionEnded.notify_all();
}

void TSiViewerServer::Stop() {
    RequestStop();
    // The listeners' threads first: once they are gone, no connection thread is added.
    for (std::thread& LThread : FThreads) {
        if (LThread.joinable()) {
            LThread.join();
        }
    }
    FThreads.clear();
    std::thread LLast;
    {
        std::unique_lock LGuard(FLock);
        FConnectionEnded.wait(LGuard, [this] { return FActive == 0; });
        LLast = std::move(FLastEnded);
    }
    // The last connection thread to end has joined the one before it, and so on.
    if (LLast.joinable()) {
        LLast.join();
    }
    std::lock_guard LGuard(FLock);
    FPipeListener.reset();
    FTcpListener.reset();
}

bool TSiViewerServer::WaitForFreeConnection() {
    const std::size_t LMax = std::max<std::size_t>(FOptions.MaxConnections, 1);
    std::unique_lock LGuard(FLock);
    FConnectionEnded.wait(LGuard, [&] { return FStopping.load() || FActive < LMax; });
    return !FStopping;
}

void TSiViewerServer::Run(TSiViewerListener& AListener, TSiViewerTransport ATransport) noexcept {
    for (;;) {
        std::unique_ptr<TSiViewerChannel> LChannel;
        try {
            if (!WaitForFreeConnection()) {
                return;
            }
            LChannel = AListener.Accept();
        } catch (const std::exception& LAError) {
            if (!FStopping && OnListenError) {
                try {
                    OnListenError(ATransport, LAError.what());
                } catch (...) {
                }
            }
            return;
        }
        if (!LChannel) {
            return;
        }
        TSiViewerConnection LConnection;
        LConnection.Transport = ATransport;
        LConnection.Number = ++FConnections;

        std::unique_lock LGuard(FLock);
        auto LWorker = FWorkers.end();
        try {
            LWorker = FWorkers.emplace(FWorkers.end());
            // The new thread takes FLock before it touches its entry, so not before it is set.
            *LWorker = std::thread(
                [this, LWorker, LChannel = std::move(LChannel), LConnection]() mutable noexcept {
                    ServeConnection(std::move(LChannel), std::move(LConnection));
                    std::thread LPrevious;
                    {
                        std::lock_guard LEnd(FLock);
                        LPrevious = std::move(FLastEnded);
                        FLastEnded = std::move(*LWorker);
                        FWorkers.erase(LWorker);
                        --FActive;
                        FConnectionEnded.notify_all();
                    }
                    if (LPrevious.joinable()) {
                        LPrevious.join();
                    }
                });
            ++FActive;
        } catch (const std::exception& LAError) {
            // No thread: the client is closed unserved and its end reported like any other.
            if (LWorker != FWorkers.end()) {
                FWorkers.erase(LWorker);
            }
            LGuard.unlock();
            LChannel.reset();
            const std::string LError =
                std::string("Cannot start a thread for the connection: ") + LAError.what();
            if (OnDisconnect) {
                try {
                    OnDisconnect(LConnection, FStopping ? std::string() : LError);
                } catch (...) {
                }
            }
        }
    }
}

void TSiViewerServer::ServeConnection(std::unique_ptr<TSiViewerChannel> AChannel,
                                      TSiViewerConnection AConnection) noexcept {
    std::string LError;
    try {
        LError = Serve(*AChannel, AConnection);
    } catch (const std::exception& LAError) {
        LError = LAError.what();
    } catch (...) {
        LError = "unknown error";
    }
    // Closed before it is reported, so that whoever waits for the report finds it closed.
    AChannel.reset();
    if (FStopping) {
        LError.clear();
    }
    if (OnDisconnect) {
        try {
            OnDisconnect(AConnection, LError);
        } catch (...) {
        }
    }
}

std::string TSiViewerServer::Serve(TSiViewerChannel& AChannel, TSiViewerConnection& AConnection) {
    const TSiViewerServerOptions& LOptions = FOptions;
    const bool LTcp = AConnection.Transport == TSiViewerTransport::vtTcp;
    const auto LBannerLate = [&] {
        return "Client banner line not received within " + std::to_string(LOptions.BannerTimeout) +
               " ms";
    };
    const auto LAcknowledgementLate = [&] {
        return "Acknowledgement not taken within " + std::to_string(LOptions.PacketTimeout) + " ms";
    };
    // The banner exchange, ours included, has one deadline.
    AChannel.SetDeadline(DeadlineIn(LOptions.BannerTimeout));
    if (LOptions.SendBanner) {
        std::string LBanner = LOptions.Banner;
        if (LOptions.TerminateBanner) {
            LBanner += '\n';
        }
        try {
            AChannel.Write(LBanner.data(), LBanner.size());
        } catch (const ESiViewerTimeout&) {
            return LBannerLate();
        }
    }
    if (LOptions.CloseAfterBanner) {
        return "";
    }

    TPendingBytes LPending;
    // Stream offset of the first pending byte, for the decoder's error messages.
    std::uint64_t LOffset = 0;
    bool LHaveBanner = false;
    // Whether the deadline now set is the one of the packet begun in LPending.
    bool LPacketDeadline = false;
    std::int64_t LAcknowledged = 0;
    // Acknowledgements of the packets decoded so far from the last read, not yet written.
    std::string LAcknowledgements;
    std::int64_t LUnwritten = 0;
    // Writes acknowledgements, which the client must take within the packet's time, once the
    // owner lets them go.
    const auto LAcknowledge = [&](const std::string& ABytes) {
        if (OnAcknowledge) {
            OnAcknowledge(AConnection);
        }
        AChannel.SetDeadline(DeadlineIn(LOptions.PacketTimeout));
        AChannel.Write(ABytes.data(), ABytes.size());
    };
    // Writes the acknowledgements gathered; false when the client did not take them in time.
    const auto LWriteAcknowledgements = [&] {
        if (LAcknowledgements.empty()) {
            return true;
        }
        try {
            LAcknowledge(LAcknowledgements);
        } catch (const ESiViewerTimeout&) {
            return false;
        }
        LAcknowledged += LUnwritten;
        LUnwritten = 0;
        LAcknowledgements.clear();
        return true;
    };
    for (;;) {
        std::uint8_t* LTarget = LPending.Prepare(kReadSize);
        std::size_t LRead = 0;
        try {
            LRead = AChannel.Read(LTarget, kReadSize);
        } catch (const ESiViewerTimeout&) {
            if (!LHaveBanner) {
                return LBannerLate();
            }
            return "Packet not complete within " + std::to_string(LOptions.PacketTimeout) +
                   " ms (" + std::to_string(LPending.Size()) + " bytes received at offset " +
                   std::to_string(LOffset) + ")";
        }
        if (LRead == 0) {
            if (FStopping) {
                return "";
            }
            if (!LHaveBanner) {
                return "Connection closed before the client banner line ended";
            }
            if (LPending.Size() > 0) {
                return "Connection closed inside a packet (" + std::to_string(LPending.Size()) +
                       " bytes received at offset " + std::to_string(LOffset) + ")";
            }
            return "";
        }
        LPending.Commit(LRead);
        if (OnData) {
            OnData(AConnection, std::span<const std::uint8_t>(LTarget, LRead));
        }

        if (!LHaveBanner) {
            const auto LBytes = LPending.Bytes();
            const auto LEnd = std::find(LBytes.begin(), LBytes.end(), std::uint8_t{'\n'});
            const auto LLength = static_cast<std::size_t>(LEnd - LBytes.begin());
            if (LLength > LOptions.MaxBannerLength) {
                return "Client banner line longer than " +
                       std::to_string(LOptions.MaxBannerLength) + " bytes";
            }
            if (LEnd == LBytes.end()) {
                continue;
            }
            std::string LLine(LBytes.begin(), LEnd);
            LLine.erase(std::remove(LLine.begin(), LLine.end(), '\r'), LLine.end());
            if (LLine.rfind(LOptions.ClientBannerPrefix, 0) != 0) {
                return "Unexpected client banner \"" + LLine + "\"";
            }
            AConnection.ClientBanner = std::move(LLine);
            LHaveBanner = true;
            LPending.Consume(LLength + 1);
            LOffset += LLength + 1;
            if (OnConnect) {
                OnConnect(AConnection);
            }
        }

        if (!LOptions.DecodePackets && !LTcp) {
            LOffset += LPending.Size();
            LPending.Consume(LPending.Size());
            AChannel.SetDeadline(std::nullopt);
            continue;
        }
        bool LDecoded = false;
        for (;;) {
            const auto LBytes = LPending.Bytes();
            const std::size_t LSize = TSiBinaryPacketReader::CompletePacketSize(LBytes, LOffset);
            if (LSize == 0) {
                if (LBytes.size() >= kSiPacketHeaderSize &&
                    AnnouncedSize(LBytes) > LOptions.MaxPacketSize) {
                    return "Packet of " + std::to_string(AnnouncedSize(LBytes)) +
                           " bytes at offset " + std::to_string(LOffset) +
                           " exceeds the limit of " + std::to_string(LOptions.MaxPacketSize) +
                           " bytes";
                }
                break;
            }
            TSiBinaryPacketReader LReader(LBytes.first(LSize), LOffset);
            const TSiPacketPtr LPacket = LReader.ReadPacket();
            LPending.Consume(LSize);
            LOffset += LSize;
            LDecoded = true;
            ++FPackets;
            if (OnPacket) {
                OnPacket(AConnection, *LPacket);
            }
            if (LTcp) {
                const std::size_t LFull = LOptions.Acknowledgement.size();
                if (LOptions.AcknowledgeLimit >= 0 &&
                    LAcknowledged + LUnwritten >= LOptions.AcknowledgeLimit) {
                    LAcknowledgements.append(LOptions.Acknowledgement, 0,
                                             std::min(LOptions.PartialAcknowledgement, LFull));
                    try {
                        LAcknowledge(LAcknowledgements);
                    } catch (const ESiViewerTimeout&) {
                        return LAcknowledgementLate();
                    }
                    return "Acknowledgement limit reached";
                }
                LAcknowledgements += LOptions.Acknowledgement;
                ++LUnwritten;
                // Written at once when they add up, so that a client that takes none holds
                // the server to as little decoding and memory as before.
                if (LAcknowledgements.size() >= kMaxUnwrittenAcknowledgements) {
                    if (!LWriteAcknowledgements()) {
                        return LAcknowledgementLate();
                    }
                }
            }
        }
        // The packets decoded from one read are acknowledged with one write: a client that
        // waits for each acknowledgement has one packet in flight and gets it as before, one
        // that sends ahead is not held to a write per packet.
        if (!LWriteAcknowledgements()) {
            return LAcknowledgementLate();
        }
        // Between packets a client may stay silent as long as it likes; a packet it has begun
        // has PacketTimeout from its first byte to its last.
        if (LPending.Size() == 0) {
            AChannel.SetDeadline(std::nullopt);
            LPacketDeadline = false;
        } else if (LDecoded || !LPacketDeadline) {
            AChannel.SetDeadline(DeadlineIn(LOptions.PacketTimeout));
            LPacketDeadline = true;
        }
    }
}

}  // namespace deruz::logging
