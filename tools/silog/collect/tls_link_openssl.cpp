// TLS links through OpenSSL (RFC 5425): the receiver's certificate must chain to the given
// certificate authorities (the system's when none are given) and carry the expected name.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "logging/protocols/tcp_client.h"
#include "logging/system/socket.h"
#include "tools/silog/collect/forward_link.h"

namespace deruz::silog::collect {

namespace {

using namespace deruz::logging;

std::string OpenSslError(const std::string& AWhat) {
    std::string LText = AWhat;
    while (const unsigned long LCode = ERR_get_error()) {
        char LBuffer[256];
        ERR_error_string_n(LCode, LBuffer, sizeof LBuffer);
        LText += ": ";
        LText += LBuffer;
    }
    return LText;
}

bool IsIpAddress(const std::string& AText) {
    return !AText.empty() && AText.find_first_not_of("0123456789.") == std::string::npos;
}

class TTlsLink final : public TForwardLink {
  public:
    explicit TTlsLink(const TLinkSettings& ASettings)
        : TForwardLink(ASettings.OctetCounting),
          FSettings(ASettings),
          FClient(ASettings.Host, ASettings.Port) {
        FContext = SSL_CTX_new(TLS_client_method());
        if (FContext == nullptr) throw std::runtime_error(OpenSslError("TLS context"));
        SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
        SSL_CTX_set_verify(FContext, SSL_VERIFY_PEER, nullptr);
        const bool LLoaded =
            FSettings.CaFile.empty()
                ? SSL_CTX_set_default_verify_paths(FContext) == 1
                : SSL_CTX_load_verify_locations(FContext, FSettings.CaFile.c_str(), nullptr) == 1;
        if (!LLoaded) {
            Free();
            throw std::runtime_error(
                OpenSslError("cannot load the certificate authorities " + FSettings.CaFile));
        }
        if (!FSettings.CertFile.empty() &&
            (SSL_CTX_use_certificate_chain_file(FContext, FSettings.CertFile.c_str()) != 1 ||
             SSL_CTX_use_PrivateKey_file(
                 FContext,
                 (FSettings.KeyFile.empty() ? FSettings.CertFile : FSettings.KeyFile).c_str(),
                 SSL_FILETYPE_PEM) != 1)) {
            Free();
            throw std::runtime_error(
                OpenSslError("cannot load the client certificate " + FSettings.CertFile));
        }
    }
    ~TTlsLink() override {
        Close();
        Free();
    }

    void Connect() override {
        Close();
        FClient.Connect(FSettings.Timeout);
        FClient.SetTimeout(FSettings.Timeout);
        ERR_clear_error();
        FSsl = SSL_new(FContext);
        if (FSsl == nullptr) {
            Close();
            throw std::runtime_error(OpenSslError("TLS session"));
        }
        const std::string LName =
            FSettings.ServerName.empty() ? FSettings.Host : FSettings.ServerName;
        X509_VERIFY_PARAM* LParam = SSL_get0_param(FSsl);
        if (IsIpAddress(LName)) {
            X509_VERIFY_PARAM_set1_ip_asc(LParam, LName.c_str());
        } else {
            X509_VERIFY_PARAM_set_hostflags(LParam, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            SSL_set1_host(FSsl, LName.c_str());
            SSL_set_tlsext_host_name(FSsl, LName.c_str());
        }
        SSL_set_fd(FSsl, static_cast<int>(FClient.Socket()));
        if (SSL_connect(FSsl) != 1) {
            const long LVerify = SSL_get_verify_result(FSsl);
            std::string LError = OpenSslError("TLS handshake with " + FSettings.Host + ":" +
                                              std::to_string(FSettings.Port) + " failed");
            if (LVerify != X509_V_OK) {
                LError += std::string(": certificate: ") + X509_verify_cert_error_string(LVerify);
            }
            Close();
            throw std::runtime_error(LError);
        }
    }

    void Close() noexcept override {
        if (FSsl != nullptr) {
            // One close_notify, without waiting for the receiver's.
            SSL_shutdown(FSsl);
            SSL_free(FSsl);
            FSsl = nullptr;
        }
        FClient.Disconnect();
    }

    void SendBytes(std::string_view ABytes) override {
        if (FSsl == nullptr) throw std::runtime_error("No socket connection established");
        std::size_t LDone = 0;
        while (LDone < ABytes.size()) {
            const int LChunk =
                static_cast<int>(std::min<std::size_t>(ABytes.size() - LDone, 1 << 20));
            const int LWritten = SSL_write(FSsl, ABytes.data() + LDone, LChunk);
            if (LWritten <= 0) {
                const std::string LError = OpenSslError("TLS send failed");
                Close();
                throw std::runtime_error(LError);
            }
            LDone += static_cast<std::size_t>(LWritten);
        }
    }

    // A syslog receiver sends no data, but TLS does (session tickets after the handshake):
    // what is readable is read without waiting, and only its close_notify, an alert or the end
    // of the connection count as gone.
    bool PeerGone() override {
        if (FSsl == nullptr) return true;
        if (!FClient.PeerGone()) return false;
        const TSiSocket LSocket = FClient.Socket();
        SiSocketSetBlocking(LSocket, false);
        char LScratch[256];
        bool LGone = false;
        for (;;) {
            ERR_clear_error();
            const int LRead = SSL_read(FSsl, LScratch, sizeof LScratch);
            if (LRead > 0) continue;
            const int LError = SSL_get_error(FSsl, LRead);
            LGone = LError != SSL_ERROR_WANT_READ && LError != SSL_ERROR_WANT_WRITE;
            break;
        }
        SiSocketSetBlocking(LSocket, true);
        return LGone;
    }

  private:
    void Free() noexcept {
        if (FContext != nullptr) {
            SSL_CTX_free(FContext);
            FContext = nullptr;
        }
    }

    TLinkSettings FSettings;
    TSiTcpClient FClient;
    SSL_CTX* FContext = nullptr;
    SSL* FSsl = nullptr;
};

}  // namespace

bool TlsAvailable() noexcept {
    return true;
}

std::unique_ptr<TForwardLink> MakeTlsLink(const TLinkSettings& ASettings) {
    return std::make_unique<TTlsLink>(ASettings);
}

}  // namespace deruz::silog::collect
