// The connections of silog collect to its destinations: TCP (syslog with octet counting, JSON
// lines), UDP (syslog, one message a datagram) and TLS over TCP (syslog, RFC 5425).
//
// Errors raise std::runtime_error (ESiError for socket failures) with the reason.
// Thread safety: a link is used by one thread (its destination's sender).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace deruz::silog::collect {

struct TLinkSettings {
    std::string Host = "127.0.0.1";
    std::uint16_t Port = 514;
    // "tcp", "udp" or "tls".
    std::string Transport = "tcp";
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
    // Sends bytes on a stream link; sends one datagram on a datagram link.
    virtual void Send(std::string_view ABytes) = 0;
    // Whether the receiver has closed the connection (found without waiting).
    virtual bool PeerGone() = 0;
    // Whether each Send is a message of its own (UDP) rather than part of a byte stream.
    virtual bool Datagrams() const noexcept { return false; }
};

// A link for ASettings.Transport; raises std::runtime_error for an unknown transport, and for
// "tls" when this build has no TLS ("TLS is not available in this build of silog").
std::unique_ptr<TForwardLink> MakeForwardLink(const TLinkSettings& ASettings);

// Whether this build can forward over TLS.
bool TlsAvailable() noexcept;

// TLS over an established TCP connection; in tls_link_openssl.cpp or tls_link_none.cpp.
std::unique_ptr<TForwardLink> MakeTlsLink(const TLinkSettings& ASettings);

}  // namespace deruz::silog::collect
