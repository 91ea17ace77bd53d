// Client-side proxy of the imaging application's automation server (`Iox3server`) and the
// sink that receives its events.
//
// `Tox3server` obtains the server interface (running object, new object, or an interface
// handed to `ConnectTo`), advises its event sink on the server's connection point, forwards
// the ten methods through the interface's virtual table and turns failing HRESULTs into
// EOleException. Incoming events are converted from their variants and passed to the handler
// slots `OnNewPhoto` ... `OnRequest`.
//
// Threading: a proxy, its sink and every call belong to the one thread that created the
// proxy, which must have joined a single-threaded apartment. Events arrive on that thread while
// it waits inside a call or pumps messages; nothing is locked.
//
// Ownership: the proxy owns its sink (which is reference counted, because the server holds
// references to it); the proxy itself is owned by whoever constructed it. Its own IUnknown only
// counts and never frees it.
//
// Only *_win32.cpp files include this header.
#pragma once

#include <ole2.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "server/ox3server.h"
#include "server/server_errors.h"

namespace deruz::server {

template <typename T>
using ComPtr = Microsoft::WRL::ComPtr<T>;

// The identity of the server class a proxy talks to, and the number of live proxies.
struct TServerData {
    GUID ClassID;
    GUID IntfIID;
    GUID EventIID;
    void* LicenseKey;
    std::int32_t Version;
    std::int32_t InstanceCount;  // +1 per proxy constructed, -1 per proxy destroyed
};

// The imaging server: its CLSID, `Iox3server`, `Iox3serverEvents`, version 500.
extern TServerData CServerData;

class TServerEventDispatch;

// Generic base of a server proxy: server data, connection of the event sink to the server's
// connection point, and the sink itself.
class TOleServer : public IUnknown {
  public:
    TOleServer(const TOleServer&) = delete;
    TOleServer& operator=(const TOleServer&) = delete;
    // Clears the sink's back-reference, releases the sink and counts the proxy out.
    virtual ~TOleServer();

    // IUnknown of the proxy itself: the count is kept in FRefCount and never frees the object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    // Dispatches one event; Params[0] is the event's first parameter. Errors propagate to the
    // sink, which stops them (see HandleEventError).
    virtual void InvokeEvent(DISPID ADispId, std::span<const VARIANT> AParams);

    std::int32_t RefCount() const { return FRefCount.load(); }
    // Advise cookie of the event sink, 0 when no advise is in force.
    DWORD EventsConnection() const { return FEventsConnection; }
    // The event sink as the server sees it (no new reference).
    IDispatch* EventDispatch() const;
    const TServerData& ServerData() const { return *FServerData; }

  protected:
    TOleServer();

    // Creates the sink and counts the proxy in; called once by the most derived constructor
    // after InitServerData.
    void CreateEventDispatch();
    virtual void InitServerData() = 0;
    // The server object: the running instance, else a new instance (CoCreateInstance with
    // in-process or local server). Raises EOleSysError when creation fails.
    virtual ComPtr<IUnknown> GetServer();
    // Advises the sink on the server's connection point for the event interface; failures are
    // silent and leave the proxy without events.
    void ConnectEvents(IUnknown* AServer);
    // Unadvises the sink when an advise is in force; failures are silent.
    void DisconnectEvents(IUnknown* AServer);
    // Receives an error raised while an event was dispatched (it must not reach COM). The
    // default logs it as an error on the default log session.
    virtual void HandleEventError(DISPID ADispId, const std::string& AMessage) noexcept;

    TServerData* FServerData = nullptr;

  private:
    friend class TServerEventDispatch;

    std::atomic<std::int32_t> FRefCount{0};
    TServerEventDispatch* FEventDispatch = nullptr;
    DWORD FEventsConnection = 0;
};

// The proxy of the imaging server.
class Tox3server : public TOleServer {
  public:
    Tox3server();
    // Disconnects (unadvising before releasing the interface); never throws.
    ~Tox3server() override;

    // Obtains the server object, advises the sink, then queries `Iox3server`. Does nothing when
    // connected. Raises EOleSysError (creation) or EIntfCastError (no `Iox3server`).
    void Connect() override;
    // Disconnects, takes its own reference to SvrIntf and advises the sink on it.
    void ConnectTo(Iox3server* ASvrIntf);
    // Unadvises the sink and releases the interface; does nothing when unconnected.
    void Disconnect() override;
    // A new reference to the interface; connects first when unconnected. Raises
    // EAssertionFailed when there is still no interface.
    ComPtr<Iox3server> GetDefaultInterface();

    // Forwarding calls. Each connects implicitly and raises EOleException on a failing
    // HRESULT. Out strings are emptied before the call.
    std::int32_t Get_Version();
    std::int32_t ClosePatient();
    std::int32_t SearchTStatus(std::int32_t AFlags, std::int32_t AIndex, std::int32_t ADentistId,
                               const std::wstring& APatientId, std::wstring& ATStatus);
    std::int32_t NewPatient(std::int32_t AFlags, std::int32_t AIndex, std::int32_t ADentistId,
                            const std::wstring& APatientId, const std::wstring& APatientIdSrc,
                            const std::wstring& AFirstName, const std::wstring& ALastName,
                            double ABirthDate, const std::wstring& AGender,
                            const std::wstring& AStreet, const std::wstring& APostalCode,
                            const std::wstring& ACity, const std::wstring& ACountry,
                            const std::wstring& ATelephone, const std::wstring& ATelefax,
                            const std::wstring& AEmail, const std::wstring& ANotes);
    std::int32_t NewPhoto(std::int32_t AFlags, std::int32_t AIndex, std::int32_t ADentistId,
                          const std::wstring& APatientId, const std::wstring& AToothPosition,
                          const std::wstring& APatientIdSrc, const std::wstring& AFirstName,
                          const std::wstring& ALastName, double ABirthDate,
                          const std::wstring& AGender, const std::wstring& AStreet,
                          const std::wstring& APostalCode, const std::wstring& ACity,
                          const std::wstring& ACountry, const std::wstring& ATelephone,
                          const std::wstring& ATelefax, const std::wstring& AEmail,
                          const std::wstring& ANotes);
    std::int32_t SearchPhotos(std::int32_t AFlags, std::int32_t AIndex, std::int32_t ADentistId,
                              const std::wstring& APatientId, const std::wstring& AToothPosition);
    std::int32_t AdminCommand(const std::wstring& ACmd, std::wstring& AReturnText);
    void Set_AppReturnWnd(std::int32_t AValue);
    void Terminate();
    void Set_LastAdminLinkDLLPath(const std::wstring& AValue);

    // Handler slots (empty = no handler); each gets the proxy first.
    std::function<void(Tox3server& ASender, std::int32_t APhotoType, std::int32_t ADentistId,
                       const std::wstring& APatientId, const std::wstring& APhotoId,
                       std::int32_t AQuadrant, std::int32_t AElement)>
        OnNewPhoto;
    std::function<void(Tox3server& ASender, std::int32_t AResultValue,
                       const std::wstring& AResultText)>
        OnCmdReady;
    std::function<void(Tox3server& ASender)> OnWakeUp;
    std::function<void(Tox3server& ASender, std::int32_t ADentistId, const std::wstring& APatientId,
                       const std::wstring& AToothPosition, const std::wstring& ACode,
                       const std::wstring& ANotes)>
        OnAdminNotes;
    std::function<void(Tox3server& ASender, const std::wstring& ACmd)> OnRequest;
    // Receives the message of an error raised while an event was dispatched (a missing or
    // unconvertible argument, or an error thrown by a handler). When empty, the error is logged
    // on the default log session. An error thrown by this handler is dropped.
    std::function<void(Tox3server& ASender, DISPID ADispId, const std::string& AMessage)>
        OnEventError;

    void InvokeEvent(DISPID ADispId, std::span<const VARIANT> AParams) override;

  protected:
    void InitServerData() override;
    void HandleEventError(DISPID ADispId, const std::string& AMessage) noexcept override;

  private:
    ComPtr<Iox3server> FIntf;
};

// Variant conversions used for event arguments; they raise EVariantError with the exact texts
// ("Could not convert variant of type (%s) into type (%s)", "Overflow while converting ...").
std::int32_t VariantToInt32(const VARIANT& AValue);
std::wstring VariantToWide(const VARIANT& AValue);

}  // namespace deruz::server
