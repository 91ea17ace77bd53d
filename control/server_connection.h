// What the link needs of the imaging application's automation server: a connection that
// forwards calls and delivers the server's five events. On Windows the COM proxy stands
// behind it; the native tests use fakes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace deruz::control {

class TServerConnection;

// Receiver of the server's events; each gets the connection that delivered it.
class TServerEvents {
  public:
    virtual ~TServerEvents() = default;
    virtual void OnWakeup(TServerConnection& ASender) = 0;
    virtual void OnNewPhoto(TServerConnection& ASender, std::int32_t APhotoType,
                            std::int32_t ADentistId, const std::wstring& APatientId,
                            const std::wstring& APhotoId, std::int32_t AQuadrant,
                            std::int32_t AElement) = 0;
    virtual void OnCmdReady(TServerConnection& ASender, std::int32_t AResultValue,
                            const std::wstring& AResultText) = 0;
    virtual void OnAdminNotes(TServerConnection& ASender, std::int32_t ADentistId,
                              const std::wstring& APatientId, const std::wstring& AToothPosition,
                              const std::wstring& ACode, const std::wstring& ANotes) = 0;
    virtual void OnRequest(TServerConnection& ASender, const std::wstring& ACmd) = 0;
};

// A reference to the server's interface handed over by the running application.
class TServerInterface {
  public:
    virtual ~TServerInterface() = default;
};

// The proxy of the server. Every call may raise an error carrying the server's or the
// system's text. Freeing a connected proxy disconnects it.
class TServerConnection {
  public:
    virtual ~TServerConnection() = default;
    // Obtains the server (running instance, else a new one) and connects its events.
    virtual void Connect() = 0;
    // Uses an interface handed over by the application and connects its events.
    virtual void ConnectTo(std::unique_ptr<TServerInterface> AIntf) = 0;
    // Releases the event connection and the server reference.
    virtual void Disconnect() = 0;
    // Routes the five events to Handler (not owned; null: events are ignored).
    virtual void SetEvents(TServerEvents* AHandler) = 0;

    virtual std::int32_t Version() = 0;
    virtual std::int32_t AdminCommand(const std::wstring& ACmd, std::wstring& AReturnText) = 0;
    virtual void SetAppReturnWnd(std::int32_t AValue) = 0;
    virtual void SetLastAdminLinkDLLPath(const std::wstring& AValue) = 0;
    // Asks the imaging application to end its link session.
    virtual void Terminate() = 0;
};

}  // namespace deruz::control
