// TCP and UDP links of silog collect; TLS is in tls_link_*.cpp, RELP in relp_link_*.cpp.
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
        : TForwardLink(ASettings.OctetCounting),
          FSettings(ASettings),
          FClient(ASettings.Host, ASettings.Port) {}
    void Connect() override {
        FClient.Connect(FSettings.Timeout);
        FClient.SetTimeout(FSettings.Timeout);
    }
    void Close() noexcept override { FClient.Disconnect(); }
    bool PeerGone() override { return FClient.PeerGone(); }

  protected:
    void SendBytes(std::string_view ABytes) override { FClient.Send(ABytes.data(), ABytes.size()); }

  private:
    TLinkSettings FSettings;
    TSiTcpClient FClient;
};

class TUdpLink final : public TForwardLink {
  public:
    explicit TUdpLink(const TLinkSettings& ASettings) : TForwardLink(false), FSettings(ASettings) {}
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
    void SendMessages(const std::vector<std::string>& AMessages) override {
        for (const std::string& LMessage : AMessages) SendBytes(LMessage);
    }
    // A datagram socket has no peer to lose; a refusal shows in the next send.
    bool PeerGone() override { return false; }

  protected:
    void SendBytes(std::string_view ABytes) override {
        if (SiSocketSend(FSocket, ABytes.data(), ABytes.size()) == kSiSocketError) {
            throw ESiError(SiSocketErrorText(SiSocketLastError()));
        }
    }

  private:
    TLinkSettings FSettings;
    TSiSocket FSocket = kSiInvalidSocket;
};

}  // namespace

void TForwardLink::SendMessages(const std::vector<std::string>& AMessages) {
    FWire.clear();
    for (const std::string& LMessage : AMessages) {
        if (FOctetCounting) {
            FWire += std::to_string(LMessage.size());
            FWire += ' ';
        }
        FWire += LMessage;
    }
    SendBytes(FWire);
    // A large batch's buffer is not kept for the next one.
    if (FWire.capacity() > (1u << 20)) std::string().swap(FWire);
}

std::unique_ptr<TForwardLink> MakeForwardLink(const TLinkSettings& ASettings) {
    if (ASettings.Transport == "tcp") return std::make_unique<TTcpLink>(ASettings);
    if (ASettings.Transport == "udp") return std::make_unique<TUdpLink>(ASettings);
    if (ASettings.Transport == "tls") return MakeTlsLink(ASettings);
    if (ASettings.Transport == "relp") return MakeRelpLink(ASettings);
    throw std::runtime_error("unknown transport \"" + ASettings.Transport + "\" (tcp, udp or tls)");
}

}  // namespace deruz::silog::collect
