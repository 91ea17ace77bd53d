// The RELP link of silog collect, through librelp (Debian's librelp-dev): rsyslog's reliable
// event logging protocol, in which the receiver answers every message. librelp keeps up to
// kWindow messages unanswered; it sends a message only when fewer are open, so once message n
// has gone out every message up to n - kWindow has been answered. That is what Confirmed()
// counts; Settle() closes the session, which ends only once every message is answered.
// librelp.h uses size_t without including what declares it, and declares C functions
// without saying so.
#include <sys/socket.h>

#include <cstddef>

extern "C" {
#include <librelp.h>
}

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>

#include "tools/silog/collect/forward_link.h"

namespace deruz::silog::collect {

namespace {

// rsyslog's omrelp uses the same window by default.
constexpr int kWindow = 128;

std::string RelpText(relpRetVal ACode) {
    switch (ACode) {
        case RELP_RET_SESSION_BROKEN:
            return "the RELP session is broken";
        case RELP_RET_SESSION_CLOSED:
            return "the receiver closed the RELP session";
        case RELP_RET_IO_ERR:
            return "input/output error on the RELP connection";
        case RELP_RET_TIMED_OUT:
            return "the receiver did not answer in time";
        case RELP_RET_RSP_STATE_ERR:
            return "the receiver refused a message";
        case RELP_RET_RQD_FEAT_MISSING:
            return "the receiver does not take syslog messages";
        case RELP_RET_ERR_TLS_SETUP:
            return "TLS could not be set up";
        case RELP_RET_ERR_TLS_HANDS:
            return "the TLS handshake failed";
        case RELP_RET_AUTH_ERR_NAME:
            return "the receiver's certificate does not carry the name";
        case RELP_RET_AUTH_NO_CERT:
            return "the receiver presented no certificate";
        case RELP_RET_AUTH_CERT_INVL:
            return "the receiver's certificate is not valid";
        case RELP_RET_ERR_NO_TLS:
            return "librelp was built without TLS";
        default:
            return "RELP error " + std::to_string(ACode);
    }
}

class TRelpLink final : public TForwardLink {
  public:
    explicit TRelpLink(const TLinkSettings& ASettings)
        : TForwardLink(false), FSettings(ASettings) {}
    ~TRelpLink() override { Close(); }

    void Connect() override {
        Close();
        Check(relpEngineConstruct(&FEngine), "cannot start librelp");
        // librelp calls its debug printer unconditionally; it has none of its own.
        relpEngineSetDbgprint(FEngine, &TRelpLink::NoDebug);
        relpEngineSetDnsLookupMode(FEngine, 0);
        relpEngineSetOnErr(FEngine, &TRelpLink::OnError);
        relpEngineSetOnAuthErr(FEngine, &TRelpLink::OnAuthError);
        relpEngineSetEnableCmd(
            FEngine, const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>("syslog")),
            eRelpCmdState_Required);
        Check(relpEngineCltConstruct(FEngine, &FClient), "cannot start librelp");
        relpCltSetUsrPtr(FClient, this);
        const unsigned LSeconds =
            static_cast<unsigned>(std::max<std::int32_t>(1, (FSettings.Timeout + 999) / 1000));
        relpCltSetTimeout(FClient, LSeconds);
        relpCltSetConnTimeout(FClient, static_cast<int>(LSeconds));
        relpCltSetWindowSize(FClient, kWindow);
        if (FSettings.RelpTls) {
            Check(relpCltEnableTLS(FClient), "TLS");
            if (!FSettings.CaFile.empty()) {
                Check(relpCltSetCACert(FClient, const_cast<char*>(FSettings.CaFile.c_str())),
                      "cannot load the certificate authorities " + FSettings.CaFile);
            }
            if (!FSettings.CertFile.empty()) {
                Check(relpCltSetOwnCert(FClient, const_cast<char*>(FSettings.CertFile.c_str())),
                      "cannot load the client certificate " + FSettings.CertFile);
                const std::string& LKey =
                    FSettings.KeyFile.empty() ? FSettings.CertFile : FSettings.KeyFile;
                Check(relpCltSetPrivKey(FClient, const_cast<char*>(LKey.c_str())),
                      "cannot load the client key " + LKey);
            }
            // The receiver's certificate must chain to the authorities and carry the name.
            const std::string LName =
                FSettings.ServerName.empty() ? FSettings.Host : FSettings.ServerName;
            Check(relpCltSetAuthMode(FClient, const_cast<char*>("name")), "TLS");
            Check(relpCltAddPermittedPeer(FClient, const_cast<char*>(LName.c_str())), "TLS");
        }
        const std::string LPort = std::to_string(FSettings.Port);
        Check(relpCltConnect(
                  FClient, AF_INET,
                  reinterpret_cast<unsigned char*>(const_cast<char*>(LPort.c_str())),
                  reinterpret_cast<unsigned char*>(const_cast<char*>(FSettings.Host.c_str()))),
              "cannot connect to " + FSettings.Host + ":" + LPort);
        FSent = 0;
        FConfirmed = 0;
    }

    void Close() noexcept override {
        if (FEngine == nullptr) return;
        if (FClient != nullptr) relpEngineCltDestruct(FEngine, &FClient);
        relpEngineDestruct(&FEngine);
        FClient = nullptr;
        FEngine = nullptr;
    }

    void SendMessages(const std::vector<std::string>& AMessages) override {
        if (FClient == nullptr) Connect();
        for (const std::string& LMessage : AMessages) {
            const relpRetVal LResult = relpCltSendSyslog(
                FClient, reinterpret_cast<unsigned char*>(const_cast<char*>(LMessage.data())),
                LMessage.size());
            if (LResult != RELP_RET_OK) {
                const std::string LError = Describe(LResult);
                Close();
                throw std::runtime_error(LError);
            }
            ++FSent;
            FConfirmed = std::max(FConfirmed, FSent > kWindow ? FSent - kWindow : 0);
        }
    }

    bool PeerGone() override { return false; }
    bool Acknowledges() const noexcept override { return true; }
    std::uint64_t Confirmed() noexcept override { return FConfirmed; }

    bool Settle() noexcept override {
        if (FClient == nullptr) return FConfirmed == FSent;
        // The session's close is answered after every message before it.
        const relpRetVal LResult = relpEngineCltDestruct(FEngine, &FClient);
        FClient = nullptr;
        relpEngineDestruct(&FEngine);
        FEngine = nullptr;
        if (LResult != RELP_RET_OK) return false;
        FConfirmed = FSent;
        return true;
    }

  protected:
    void SendBytes(std::string_view) override {}

  private:
    void Check(relpRetVal ACode, const std::string& AWhat) {
        if (ACode == RELP_RET_OK) return;
        const std::string LError = AWhat + ": " + Describe(ACode);
        Close();
        throw std::runtime_error(LError);
    }
    std::string Describe(relpRetVal ACode) {
        std::string LText = RelpText(ACode);
        std::lock_guard LGuard(FErrorLock);
        if (!FLibraryError.empty()) LText += " (" + FLibraryError + ")";
        FLibraryError.clear();
        return LText;
    }
    static void OnError(void* AUser, char*, char* AMessage, relpRetVal) {
        auto* LSelf = static_cast<TRelpLink*>(AUser);
        if (LSelf == nullptr || AMessage == nullptr) return;
        std::lock_guard LGuard(LSelf->FErrorLock);
        LSelf->FLibraryError = AMessage;
    }
    static void NoDebug(char*, ...) {}
    static void OnAuthError(void* AUser, char* AInfo, char* AMessage, relpRetVal ACode) {
        OnError(AUser, AInfo, AMessage, ACode);
    }

    TLinkSettings FSettings;
    relpEngine_t* FEngine = nullptr;
    relpClt_t* FClient = nullptr;
    std::uint64_t FSent = 0;
    std::uint64_t FConfirmed = 0;
    std::mutex FErrorLock;
    std::string FLibraryError;
};

}  // namespace

bool RelpAvailable() noexcept {
    return true;
}

std::unique_ptr<TForwardLink> MakeRelpLink(const TLinkSettings& ASettings) {
    return std::make_unique<TRelpLink>(ASettings);
}

}  // namespace deruz::silog::collect
