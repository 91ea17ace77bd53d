// The log viewer's side of the pipe and TCP protocols: banner exchange, packet decoding and
// acknowledgements, over the listeners of viewer_transport.h.
#include "logging/viewer/viewer_server.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "logging/base/errors.h"
#include "logging/format/binary_formatter.h"
#include "logging/viewer/packet_reader.h"

namespace deruz::logging {

namespace {

// Bytes asked for per read.
constexpr std::size_t kReadSize = 65536;

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
}

void TSiViewerServer::Stop() {
    RequestStop();
    for (std::thread& LThread : FThreads) {
        if (LThread.joinable()) {
            LThread.join();
        }
    }
    FThreads.clear();
    std::lock_guard LGuard(FLock);
    FPipeListener.reset();
    FTcpListener.reset();
}

void TSiViewerServer::Run(TSiViewerListener& AListener, TSiViewerTransport ATransport) noexcept {
    for (;;) {
        std::unique_ptr<TSiViewerChannel> LChannel;
        try {
            LChannel = AListener.Accept();
        } catch (const std::exception& AError) {
            if (!FStopping && OnListenError) {
                try {
                    OnListenError(ATransport, AError.what());
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
        std::string LError;
        try {
            LError = Serve(*LChannel, LConnection);
        } catch (const std::exception& AError) {
            LError = AError.what();
        }
        // Closed before it is reported, so that whoever waits for the report finds it closed.
        LChannel.reset();
        if (FStopping) {
            LError.clear();
        }
        if (OnDisconnect) {
            try {
                OnDisconnect(LConnection, LError);
            } catch (...) {
            }
        }
    }
}

std::string TSiViewerServer::Serve(TSiViewerChannel& AChannel, TSiViewerConnection& AConnection) {
    const TSiViewerServerOptions& LOptions = FOptions;
    const bool LTcp = AConnection.Transport == TSiViewerTransport::vtTcp;
    if (LOptions.SendBanner) {
        std::string LBanner = LOptions.Banner;
        if (LOptions.TerminateBanner) {
            LBanner += '\n';
        }
        AChannel.Write(LBanner.data(), LBanner.size());
    }
    if (LOptions.CloseAfterBanner) {
        return "";
    }

    TPendingBytes LPending;
    // Stream offset of the first pending byte, for the decoder's error messages.
    std::uint64_t LOffset = 0;
    bool LHaveBanner = false;
    std::int64_t LAcknowledged = 0;
    for (;;) {
        std::uint8_t* LTarget = LPending.Prepare(kReadSize);
        const std::size_t LRead = AChannel.Read(LTarget, kReadSize);
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
            continue;
        }
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
            ++FPackets;
            if (OnPacket) {
                OnPacket(AConnection, *LPacket);
            }
            if (LTcp) {
                const std::string& LAck = LOptions.Acknowledgement;
                if (LOptions.AcknowledgeLimit >= 0 && LAcknowledged >= LOptions.AcknowledgeLimit) {
                    AChannel.Write(LAck.data(),
                                   std::min(LOptions.PartialAcknowledgement, LAck.size()));
                    return "Acknowledgement limit reached";
                }
                AChannel.Write(LAck.data(), LAck.size());
                ++LAcknowledged;
            }
        }
    }
}

}  // namespace deruz::logging
