// TCP and UDP links of silog collect; TLS is in tls_link_*.cpp.
#include "tools/silog/collect/forward_link.h"

#include <stdexcept>

#include "logging/base/errors.h"
#include "logging/protocols/tcp_client.h"
#include "logging/system/socket.h"

namespace deruz::silog::collect {

namespace {

using namespace deruz::logging;

class TTcpLink final : public TForwardLink {
  public:
    explicit TTcpLink(const TLinkSettings& ASettings)
        : FSettings(ASettings), FClient(ASettings.Host, ASettings.Port) {}
    void Connect() override {
        FClient.Connect(FSettings.Timeout);
        FClient.SetTimeout(FSettings.Timeout);
    }
    void Close() noexcept override { FClient.Disconnect(); }
    void Send(std::string_view ABytes) override { FClient.Send(ABytes.data(), ABytes.size()); }
    bool PeerGone() override { return FClient.PeerGone(); }

  private:
    TLinkSettings FSettings;
    TSiTcpClient FClient;
};

class TUdpLink final : public TForwardLink {
  public:
    explicit TUdpLink(const TLinkSettings& ASettings) : FSettings(ASettings) {}
    ~TUdpLink() override { Close(); }
    void Connect() override {
        Close();
        if (const int LError = SiSocketStartup(); LError != 0) {
            throw ESiError(SiSocketErrorText(LError));
        }
        std::uint32_t LAddress = 0;
        std::string LError;
        if (!SiResolveIPv4(FSettings.Host, LAddress, LError)) {
            throw ESiError(LError);
        }
        FSocket = SiSocketCreateDatagram();
        if (FSocket == kSiInvalidSocket || !SiSocketConnect(FSocket, LAddress, FSettings.Port)) {
            const int LCode = SiSocketLastError();
            Close();
            throw ESiError(SiSocketErrorText(LCode));
        }
        SiSocketSetTimeouts(FSocket, FSettings.Timeout);
    }
    void Close() noexcept override {
        if (FSocket != kSiInvalidSocket) {
            SiSocketClose(FSocket);
            FSocket = kSiInvalidSocket;
        }
    }
    void Send(std::string_view ABytes) override {
        if (SiSocketSend(FSocket, ABytes.data(), ABytes.size()) == kSiSocketError) {
            throw ESiError(SiSocketErrorText(SiSocketLastError()));
        }
    }
    // A datagram socket has no peer to lose; a refusal shows in the next send.
    bool PeerGone() override { return false; }
    bool Datagrams() const noexcept override { return true; }

  private:
    TLinkSettings FSettings;
    TSiSocket FSocket = kSiInvalidSocket;
};

}  // namespace

std::unique_ptr<TForwardLink> MakeForwardLink(const TLinkSettings& ASettings) {
    if (ASettings.Transport == "tcp") return std::make_unique<TTcpLink>(ASettings);
    if (ASettings.Transport == "udp") return std::make_unique<TUdpLink>(ASettings);
    if (ASettings.Transport == "tls") return MakeTlsLink(ASettings);
    throw std::runtime_error("unknown transport \"" + ASettings.Transport + "\" (tcp, udp or tls)");
}

}  // namespace deruz::silog::collect
