// The connections of silog collect to its destinations: TCP (syslog with octet counting, JSON
// lines), UDP (syslog, one message a datagram), TLS over TCP (syslog, RFC 5425) and RELP
// (rsyslog's reliable protocol, which acknowledges every message; through librelp).
//
// Errors raise std::runtime_error (ESiError for socket failures) with the reason.
// Thread safety: a link is used by one thread (its destination's sender).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace deruz::silog::collect {

struct TLinkSettings {
    std::string Host = "127.0.0.1";
    std::uint16_t Port = 514;
    // "tcp", "udp", "tls" or "relp".
    std::string Transport = "tcp";
    // Whether each message on a stream goes out with its length in front (RFC 6587 octet
    // counting, syslog) or as it is (JSON lines, which end in a line break).
    bool OctetCounting = true;
    // RELP: TLS on the RELP connection (with CaFile, ServerName, CertFile, KeyFile).
    bool RelpTls = false;
    // Milliseconds for connecting (and the TLS handshake) and for every send.
    std::int32_t Timeout = 10000;
    // TLS: the certificate authorities that may vouch for the receiver (PEM file); the name its
    // certificate must carry (default: Host); a client certificate and its key (PEM), for
    // receivers that ask for one.
    std::string CaFile;
    std::string ServerName;
    std::string CertFile;
    std::string KeyFile;
};

class TForwardLink {
  public:
    virtual ~TForwardLink() = default;
    virtual void Connect() = 0;
    virtual void Close() noexcept = 0;
    // Sends messages in order: on a stream each framed as the settings say, on a datagram
    // link each a datagram of its own.
    virtual void SendMessages(const std::vector<std::string>& AMessages);
    // Whether the receiver has closed the connection (found without waiting).
    virtual bool PeerGone() = 0;

    // Whether the receiver confirms the messages it took (RELP). Then Confirmed() is how many
    // of the messages sent since Connect it has confirmed at least, and Settle() waits (bounded
    // by the timeout) until it has confirmed all of them, closing the connection gracefully
    // (the next send connects again); false when that could not be made sure.
    virtual bool Acknowledges() const noexcept { return false; }
    virtual std::uint64_t Confirmed() noexcept { return 0; }
    virtual bool Settle() noexcept { return false; }

  protected:
    explicit TForwardLink(bool AOctetCounting = true) : FOctetCounting(AOctetCounting) {}
    // Sends bytes of the stream.
    virtual void SendBytes(std::string_view ABytes) = 0;

  private:
    bool FOctetCounting;
    std::string FWire;
};

// A link for ASettings.Transport; raises std::runtime_error for an unknown transport, and for
// "tls" when this build has no TLS ("TLS is not available in this build of silog").
std::unique_ptr<TForwardLink> MakeForwardLink(const TLinkSettings& ASettings);

// Whether this build can forward over TLS, and over RELP.
bool TlsAvailable() noexcept;
bool RelpAvailable() noexcept;

// TLS over an established TCP connection; in tls_link_openssl.cpp or tls_link_none.cpp.
std::unique_ptr<TForwardLink> MakeTlsLink(const TLinkSettings& ASettings);
// RELP through librelp; in relp_link_librelp.cpp or relp_link_none.cpp.
std::unique_ptr<TForwardLink> MakeRelpLink(const TLinkSettings& ASettings);

}  // namespace deruz::silog::collect
