// The imaging server proxy, its event sink and the conversion of COM failures into errors.
#include "server/ox3server_proxy_win32.h"

#include <oleauto.h>

#include <cstdio>
#include <new>
#include <vector>

#include "logging/base/strings.h"
#include "logging/core/si_auto.h"
#include "systools/wide_text.h"

namespace deruz::server {

TServerData CServerData = {CLSID_ox3server, IID_Iox3server, DIID_Iox3serverEvents, nullptr, 500, 0};

namespace {

constexpr char kNotConnected[] =
    "DefaultInterface is NULL. Component is not connected to Server. You must call 'Connect' or "
    "'ConnectTo' before this operation";

std::string Utf8(const wchar_t* AText, std::size_t ALength) {
    if (ALength == 0) return {};
    const int LSize = WideCharToMultiByte(CP_UTF8, 0, AText, static_cast<int>(ALength), nullptr, 0,
                                          nullptr, nullptr);
    std::string LResult(static_cast<std::size_t>(LSize), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText, static_cast<int>(ALength), LResult.data(), LSize,
                        nullptr, nullptr);
    return LResult;
}

std::string Utf8(const std::wstring& AText) {
    return Utf8(AText.data(), AText.size());
}

// Removes trailing characters of code 32 or less and trailing dots.
std::wstring TrimPunctuation(std::wstring AText) {
    while (!AText.empty() && (AText.back() <= 32 || AText.back() == L'.')) AText.pop_back();
    return AText;
}

// The system's message text for a status code, trimmed like an error description; empty when
// the system has none.
std::wstring SystemMessage(HRESULT ACode) {
    return systools::WideFromUtf8(logging::SiSystemMessage(static_cast<std::uint32_t>(ACode)));
}

std::wstring OleErrorText(HRESULT ACode) {
    std::wstring LText = SystemMessage(ACode);
    if (LText.empty()) {
        wchar_t LBuffer[32];
        swprintf(LBuffer, 32, L"OLE error %.8X", static_cast<unsigned>(ACode));
        LText = LBuffer;
    }
    return LText;
}

// An owned BSTR: in-parameters are allocated from wide text, out-parameters are freed whatever
// the call's outcome.
class TBstr {
  public:
    TBstr() = default;
    explicit TBstr(const std::wstring& AText)
        : FValue(SysAllocStringLen(AText.data(), static_cast<UINT>(AText.size()))) {
        if (FValue == nullptr) throw std::bad_alloc();
    }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    ~TBstr() { SysFreeString(FValue); }
    BSTR Get() const { return FValue; }
    BSTR* Out() { return &FValue; }
    std::wstring Text() const { return FValue ? std::wstring(FValue, SysStringLen(FValue)) : L""; }

  private:
    BSTR FValue = nullptr;
};

// Stale error information of an earlier call must not be taken for this call's.
void PrepareCall() {
    SetErrorInfo(0, nullptr);
}

// Raises EOleException for a failing status code with the error information the server set.
[[noreturn]] void RaiseOleException(HRESULT ACode) {
    std::wstring LDescription, LSource, LHelpFile;
    DWORD LHelpContext = 0;
    ComPtr<IErrorInfo> LInfo;
    if (GetErrorInfo(0, &LInfo) == S_OK && LInfo) {
        TBstr LText;
        if (SUCCEEDED(LInfo->GetDescription(LText.Out()))) LDescription = LText.Text();
        TBstr LSrc;
        if (SUCCEEDED(LInfo->GetSource(LSrc.Out()))) LSource = LSrc.Text();
        TBstr LFile;
        if (SUCCEEDED(LInfo->GetHelpFile(LFile.Out()))) LHelpFile = LFile.Text();
        if (FAILED(LInfo->GetHelpContext(&LHelpContext))) LHelpContext = 0;
    }
    std::wstring LMessage = TrimPunctuation(LDescription);
    if (LMessage.empty()) LMessage = OleErrorText(ACode);
    throw EOleException(Utf8(LMessage), static_cast<std::int32_t>(ACode), Utf8(LSource),
                        Utf8(LHelpFile), static_cast<std::int32_t>(LHelpContext));
}

void OleCheck(HRESULT ACode) {
    if (FAILED(ACode)) RaiseOleException(ACode);
}

std::wstring GuidToString(const GUID& AGuid) {
    wchar_t LText[40] = {};
    StringFromGUID2(AGuid, LText, 40);
    return LText;
}

// Names of variant types in conversion errors.
std::string VarTypeName(VARTYPE AType) {
    static const char* const LNames[] = {
        "Empty",    "Null",     "Smallint", "Integer",  "Single",  "Double",  "Currency", "Date",
        "OleStr",   "Dispatch", "Error",    "Boolean",  "Variant", "Unknown", "Decimal",  nullptr,
        "ShortInt", "Byte",     "Word",     "LongWord", "Int64",   "UInt64"};
    const VARTYPE LBase = AType & VT_TYPEMASK;
    std::string LName;
    if (LBase < std::size(LNames) && LNames[LBase] != nullptr) {
        LName = LNames[LBase];
    } else {
        char LBuffer[16];
        std::snprintf(LBuffer, sizeof LBuffer, "$%.4X", static_cast<unsigned>(LBase));
        LName = LBuffer;
    }
    if ((AType & VT_ARRAY) != 0) LName = "Array " + LName;
    if ((AType & VT_BYREF) != 0) LName = "ByRef " + LName;
    return LName;
}

[[noreturn]] void RaiseConvertError(VARTYPE AFrom, const char* ATo, bool AOverflow) {
    const std::string LText = (AOverflow ? "Overflow while converting variant of type ("
                                         : "Could not convert variant of type (") +
                              VarTypeName(AFrom) + ") into type (" + ATo + ")";
    throw EVariantError(LText);
}

// Converts into Target with the system's variant rules; raises the conversion errors.
void ChangeType(VARIANT& AResult, const VARIANT& AValue, VARTYPE ATarget, const char* ATargetName) {
    // Null and error values have no value to convert (the system would accept some of them).
    const VARTYPE LType = AValue.vt & VT_TYPEMASK;
    if ((AValue.vt & VT_ARRAY) != 0 || LType == VT_NULL || LType == VT_ERROR) {
        RaiseConvertError(AValue.vt, ATargetName, false);
    }
    const HRESULT LResult = VariantChangeTypeEx(&AResult, const_cast<VARIANT*>(&AValue),
                                                LOCALE_USER_DEFAULT, 0, ATarget);
    if (FAILED(LResult)) RaiseConvertError(AValue.vt, ATargetName, LResult == DISP_E_OVERFLOW);
}

class TVariantHolder {
  public:
    TVariantHolder() { VariantInit(&FValue); }
    TVariantHolder(const TVariantHolder&) = delete;
    TVariantHolder& operator=(const TVariantHolder&) = delete;
    ~TVariantHolder() { VariantClear(&FValue); }
    VARIANT& Get() { return FValue; }

  private:
    VARIANT FValue;
};

// Event arguments by position, raising "Range check error" for a missing one.
std::int32_t IntArg(std::span<const VARIANT> AParams, std::size_t APosition) {
    if (APosition >= AParams.size()) throw ERangeError();
    return VariantToInt32(AParams[APosition]);
}

std::wstring TextArg(std::span<const VARIANT> AParams, std::size_t APosition) {
    if (APosition >= AParams.size()) throw ERangeError();
    return VariantToWide(AParams[APosition]);
}

}  // namespace

std::int32_t VariantToInt32(const VARIANT& AValue) {
    if (AValue.vt == VT_I4) return AValue.lVal;
    TVariantHolder LResult;
    ChangeType(LResult.Get(), AValue, VT_I4, "Integer");
    return LResult.Get().lVal;
}

std::wstring VariantToWide(const VARIANT& AValue) {
    if (AValue.vt == VT_BSTR) {
        return AValue.bstrVal ? std::wstring(AValue.bstrVal, SysStringLen(AValue.bstrVal)) : L"";
    }
    TVariantHolder LResult;
    ChangeType(LResult.Get(), AValue, VT_BSTR, "OleStr");
    const BSTR LText = LResult.Get().bstrVal;
    return LText ? std::wstring(LText, SysStringLen(LText)) : L"";
}

// --- Event sink -----------------------------------------------------------------------------

// The IDispatch that the server calls for events. Its reference count starts at 1 (the proxy's
// own reference); while the back-reference is set, every AddRef and Release is mirrored on the
// proxy's count. It frees itself when the count reaches 0, which may be after the proxy is gone
// when the server still holds it (events then are accepted and ignored).
class TServerEventDispatch final : public IDispatch {
  public:
    explicit TServerEventDispatch(TOleServer* AServer) : FServer(AServer) {}

    void ClearServer() { FServer = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpvObject) override {
        if (APpvObject == nullptr) return E_POINTER;
        *APpvObject = nullptr;
        if (IsEqualIID(ARiid, IID_IUnknown) || IsEqualIID(ARiid, IID_IDispatch) ||
            (FServer != nullptr && FServer->FServerData != nullptr &&
             IsEqualIID(ARiid, FServer->FServerData->EventIID))) {
            *APpvObject = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        const ULONG LCount = static_cast<ULONG>(++FRefCount);
        if (FServer != nullptr) FServer->AddRef();
        return LCount;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        if (FServer != nullptr) FServer->Release();
        const std::int32_t LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* APctinfo) override {
        if (APctinfo == nullptr) return E_POINTER;
        *APctinfo = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** APpTInfo) override {
        if (APpTInfo != nullptr) *APpTInfo = nullptr;
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID ADispIdMember, REFIID, LCID, WORD,
                                     DISPPARAMS* APDispParams, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        const UINT LCount = APDispParams ? APDispParams->cArgs : 0;
        const UINT LNamed = APDispParams ? APDispParams->cNamedArgs : 0;
        // Parameters that cannot be read safely are refused rather than followed.
        if ((LCount > 0 && APDispParams->rgvarg == nullptr) || LNamed > LCount ||
            (LNamed > 0 && APDispParams->rgdispidNamedArgs == nullptr)) {
            return E_INVALIDARG;
        }
        // A handler may drop the proxy, whose release then drops the sink's last reference.
        AddRef();
        try {
            std::vector<VARIANT> LArgs(LCount);
            for (auto& LArg : LArgs) VariantInit(&LArg);
            struct TClear {
                std::vector<VARIANT>& Args;
                ~TClear() {
                    for (auto& LArg : Args) VariantClear(&LArg);
                }
            } LClear{LArgs};
            for (UINT LI = 0; LI < LCount; ++LI) {
                // Named arguments go to the positions they name, the positional ones (which
                // follow them in reverse order) to the first positions.
                const LONG LPosition = LI < LNamed ? APDispParams->rgdispidNamedArgs[LI]
                                                   : static_cast<LONG>(LCount - 1 - LI);
                if (LPosition < 0 || static_cast<UINT>(LPosition) >= LCount) throw ERangeError();
                VARIANT& LTarget = LArgs[static_cast<std::size_t>(LPosition)];
                VariantClear(&LTarget);
                if (FAILED(VariantCopyInd(&LTarget, &APDispParams->rgvarg[LI]))) {
                    // A value that cannot be copied cannot be converted either.
                    LTarget.vt = VT_ERROR;
                    LTarget.scode = DISP_E_BADVARTYPE;
                }
            }
            if (FServer != nullptr) FServer->InvokeEvent(ADispIdMember, LArgs);
        } catch (const std::exception& LE) {
            if (FServer != nullptr) FServer->HandleEventError(ADispIdMember, LE.what());
        } catch (...) {
            if (FServer != nullptr) FServer->HandleEventError(ADispIdMember, "Unknown error");
        }
        Release();
        return S_OK;
    }

  private:
    ~TServerEventDispatch() = default;

    TOleServer* FServer;
    std::atomic<std::int32_t> FRefCount{1};
};

// --- TOleServer -----------------------------------------------------------------------------

TOleServer::TOleServer() = default;

TOleServer::~TOleServer() {
    if (FEventDispatch != nullptr) {
        // A server that died while advised never releases the sink; the references COM
        // holds for it are dropped here, so the sink cannot be called (or released) after
        // the code that implements it is unloaded.
        CoDisconnectObject(static_cast<IDispatch*>(FEventDispatch), 0);
        FEventDispatch->ClearServer();
        FEventDispatch->Release();
        FEventDispatch = nullptr;
        if (FServerData != nullptr) --FServerData->InstanceCount;
    }
}

void TOleServer::CreateEventDispatch() {
    FEventDispatch = new TServerEventDispatch(this);
    ++FServerData->InstanceCount;
}

HRESULT TOleServer::QueryInterface(REFIID ARiid, void** APpvObject) {
    if (APpvObject == nullptr) return E_POINTER;
    *APpvObject = nullptr;
    if (!IsEqualIID(ARiid, IID_IUnknown)) return E_NOINTERFACE;
    *APpvObject = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
}

ULONG TOleServer::AddRef() {
    return static_cast<ULONG>(++FRefCount);
}

ULONG TOleServer::Release() {
    return static_cast<ULONG>(--FRefCount);
}

void TOleServer::InvokeEvent(DISPID, std::span<const VARIANT>) {}

IDispatch* TOleServer::EventDispatch() const {
    return FEventDispatch;
}

ComPtr<IUnknown> TOleServer::GetServer() {
    ComPtr<IUnknown> LServer;
    if (SUCCEEDED(GetActiveObject(FServerData->ClassID, nullptr, &LServer)) && LServer) {
        return LServer;
    }
    LServer.Reset();
    const HRESULT LResult =
        CoCreateInstance(FServerData->ClassID, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                         IID_IUnknown, reinterpret_cast<void**>(LServer.GetAddressOf()));
    if (FAILED(LResult)) {
        throw EOleSysError(
            Utf8(OleErrorText(LResult) + L", ClassID: " + GuidToString(FServerData->ClassID)),
            static_cast<std::int32_t>(LResult));
    }
    return LServer;
}

void TOleServer::ConnectEvents(IUnknown* AServer) {
    FEventsConnection = 0;
    if (AServer == nullptr) return;
    ComPtr<IConnectionPointContainer> LContainer;
    if (FAILED(AServer->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(LContainer.GetAddressOf())))) {
        return;
    }
    ComPtr<IConnectionPoint> LPoint;
    if (FAILED(LContainer->FindConnectionPoint(FServerData->EventIID, &LPoint)) || !LPoint) return;
    DWORD LCookie = 0;
    if (SUCCEEDED(LPoint->Advise(static_cast<IUnknown*>(FEventDispatch), &LCookie))) {
        FEventsConnection = LCookie;
    }
}

void TOleServer::DisconnectEvents(IUnknown* AServer) {
    if (FEventsConnection == 0 || AServer == nullptr) return;
    ComPtr<IConnectionPointContainer> LContainer;
    if (FAILED(AServer->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(LContainer.GetAddressOf())))) {
        return;
    }
    ComPtr<IConnectionPoint> LPoint;
    if (FAILED(LContainer->FindConnectionPoint(FServerData->EventIID, &LPoint)) || !LPoint) return;
    if (SUCCEEDED(LPoint->Unadvise(FEventsConnection))) FEventsConnection = 0;
}

void TOleServer::HandleEventError(DISPID ADispId, const std::string& AMessage) noexcept {
    try {
        logging::SiMain->LogError("Error in imaging server event " + std::to_string(ADispId) +
                                  ": " + AMessage);
    } catch (...) {
        // Nothing may leave the event dispatch.
    }
}

// --- Tox3server -----------------------------------------------------------------------------

Tox3server::Tox3server() {
    InitServerData();
    CreateEventDispatch();
}

Tox3server::~Tox3server() {
    try {
        Disconnect();
    } catch (...) {
        // Releasing a server that is gone must not end the program.
    }
    FIntf.Reset();
}

void Tox3server::InitServerData() {
    FServerData = &CServerData;
}

void Tox3server::Connect() {
    if (FIntf) return;
    ComPtr<IUnknown> LServer = GetServer();
    if (!LServer) throw EIntfCastError();
    ConnectEvents(LServer.Get());
    ComPtr<Iox3server> LIntf;
    if (FAILED(LServer->QueryInterface(FServerData->IntfIID,
                                       reinterpret_cast<void**>(LIntf.GetAddressOf()))) ||
        !LIntf) {
        // The object is dropped, so the advise on it is withdrawn too.
        DisconnectEvents(LServer.Get());
        throw EIntfCastError();
    }
    FIntf = LIntf;
}

void Tox3server::ConnectTo(Iox3server* ASvrIntf) {
    Disconnect();
    FIntf = ASvrIntf;
    ConnectEvents(FIntf.Get());
}

void Tox3server::Disconnect() {
    if (!FIntf) return;
    DisconnectEvents(FIntf.Get());
    FIntf.Reset();
}

ComPtr<Iox3server> Tox3server::GetDefaultInterface() {
    if (!FIntf) Connect();
    if (!FIntf) throw EAssertionFailed(kNotConnected);
    return FIntf;
}

std::int32_t Tox3server::Get_Version() {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->get_Version(&LResult));
    return LResult;
}

std::int32_t Tox3server::ClosePatient() {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->ClosePatient(&LResult));
    return LResult;
}

std::int32_t Tox3server::SearchTStatus(std::int32_t AFlags, std::int32_t AIndex,
                                       std::int32_t ADentistId, const std::wstring& APatientId,
                                       std::wstring& ATStatus) {
    ATStatus.clear();
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(APatientId);
    TBstr LStatus;
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->SearchTStatus(AFlags, AIndex, ADentistId, LPatientID.Get(), LStatus.Out(),
                                  &LResult));
    ATStatus = LStatus.Text();
    return LResult;
}

std::int32_t Tox3server::NewPatient(std::int32_t AFlags, std::int32_t AIndex,
                                    std::int32_t ADentistId, const std::wstring& APatientId,
                                    const std::wstring& APatientIdSrc,
                                    const std::wstring& AFirstName, const std::wstring& ALastName,
                                    double ABirthDate, const std::wstring& AGender,
                                    const std::wstring& AStreet, const std::wstring& APostalCode,
                                    const std::wstring& ACity, const std::wstring& ACountry,
                                    const std::wstring& ATelephone, const std::wstring& ATelefax,
                                    const std::wstring& AEmail, const std::wstring& ANotes) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(APatientId), LPatientIDSrc(APatientIdSrc), LFirstName(AFirstName),
        LLastName(ALastName), LGender(AGender), LStreet(AStreet), LPostalCode(APostalCode),
        LCity(ACity), LCountry(ACountry), LTelephone(ATelephone), LTelefax(ATelefax),
        LEmail(AEmail), LNotes(ANotes);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->NewPatient(
        AFlags, AIndex, ADentistId, LPatientID.Get(), LPatientIDSrc.Get(), LFirstName.Get(),
        LLastName.Get(), ABirthDate, LGender.Get(), LStreet.Get(), LPostalCode.Get(), LCity.Get(),
        LCountry.Get(), LTelephone.Get(), LTelefax.Get(), LEmail.Get(), LNotes.Get(), &LResult));
    return LResult;
}

std::int32_t Tox3server::NewPhoto(std::int32_t AFlags, std::int32_t AIndex, std::int32_t ADentistId,
                                  const std::wstring& APatientId,
                                  const std::wstring& AToothPosition,
                                  const std::wstring& APatientIdSrc, const std::wstring& AFirstName,
                                  const std::wstring& ALastName, double ABirthDate,
                                  const std::wstring& AGender, const std::wstring& AStreet,
                                  const std::wstring& APostalCode, const std::wstring& ACity,
                                  const std::wstring& ACountry, const std::wstring& ATelephone,
                                  const std::wstring& ATelefax, const std::wstring& AEmail,
                                  const std::wstring& ANotes) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(APatientId), LToothPosition(AToothPosition),
        LPatientIDSrc(APatientIdSrc), LFirstName(AFirstName), LLastName(ALastName),
        LGender(AGender), LStreet(AStreet), LPostalCode(APostalCode), LCity(ACity),
        LCountry(ACountry), LTelephone(ATelephone), LTelefax(ATelefax), LEmail(AEmail),
        LNotes(ANotes);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->NewPhoto(AFlags, AIndex, ADentistId, LPatientID.Get(), LToothPosition.Get(),
                             LPatientIDSrc.Get(), LFirstName.Get(), LLastName.Get(), ABirthDate,
                             LGender.Get(), LStreet.Get(), LPostalCode.Get(), LCity.Get(),
                             LCountry.Get(), LTelephone.Get(), LTelefax.Get(), LEmail.Get(),
                             LNotes.Get(), &LResult));
    return LResult;
}

std::int32_t Tox3server::SearchPhotos(std::int32_t AFlags, std::int32_t AIndex,
                                      std::int32_t ADentistId, const std::wstring& APatientId,
                                      const std::wstring& AToothPosition) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(APatientId), LToothPosition(AToothPosition);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->SearchPhotos(AFlags, AIndex, ADentistId, LPatientID.Get(), LToothPosition.Get(),
                                 &LResult));
    return LResult;
}

std::int32_t Tox3server::AdminCommand(const std::wstring& ACmd, std::wstring& AReturnText) {
    AReturnText.clear();
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LCmd(ACmd);
    TBstr LReturnText;
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->AdminCommand(LCmd.Get(), LReturnText.Out(), &LResult));
    AReturnText = LReturnText.Text();
    return LResult;
}

void Tox3server::Set_AppReturnWnd(std::int32_t AValue) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    PrepareCall();
    OleCheck(LIntf->put_AppReturnWnd(AValue));
}

void Tox3server::Terminate() {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    PrepareCall();
    OleCheck(LIntf->Terminate());
}

void Tox3server::Set_LastAdminLinkDLLPath(const std::wstring& AValue) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LValue(AValue);
    PrepareCall();
    OleCheck(LIntf->put_LastAdminLinkDLLPath(LValue.Get()));
}

void Tox3server::InvokeEvent(DISPID ADispId, std::span<const VARIANT> AParams) {
    // Arguments are converted in position order before the handler runs, so a missing or
    // unconvertible argument stops the event before the handler sees any of it.
    switch (ADispId) {
        case 1:
            if (OnNewPhoto) {
                const std::int32_t LPhotoType = IntArg(AParams, 0);
                const std::int32_t LDentistID = IntArg(AParams, 1);
                const std::wstring LPatientID = TextArg(AParams, 2);
                const std::wstring LPhotoID = TextArg(AParams, 3);
                const std::int32_t LQuadrant = IntArg(AParams, 4);
                const std::int32_t LElement = IntArg(AParams, 5);
                OnNewPhoto(*this, LPhotoType, LDentistID, LPatientID, LPhotoID, LQuadrant,
                           LElement);
            }
            break;
        case 2:
            if (OnCmdReady) {
                const std::int32_t LResultValue = IntArg(AParams, 0);
                const std::wstring LResultText = TextArg(AParams, 1);
                OnCmdReady(*this, LResultValue, LResultText);
            }
            break;
        case 3:
            if (OnWakeUp) OnWakeUp(*this);
            break;
        case 4:
            if (OnAdminNotes) {
                const std::int32_t LDentistID = IntArg(AParams, 0);
                const std::wstring LPatientID = TextArg(AParams, 1);
                const std::wstring LToothPosition = TextArg(AParams, 2);
                const std::wstring LCode = TextArg(AParams, 3);
                const std::wstring LNotes = TextArg(AParams, 4);
                OnAdminNotes(*this, LDentistID, LPatientID, LToothPosition, LCode, LNotes);
            }
            break;
        case 5:
            if (OnRequest) {
                const std::wstring LCmd = TextArg(AParams, 0);
                OnRequest(*this, LCmd);
            }
            break;
        default:  // DISPID_UNKNOWN (-1), 0 and unknown events
            break;
    }
}

void Tox3server::HandleEventError(DISPID ADispId, const std::string& AMessage) noexcept {
    if (!OnEventError) {
        TOleServer::HandleEventError(ADispId, AMessage);
        return;
    }
    try {
        OnEventError(*this, ADispId, AMessage);
    } catch (...) {
        // An error about an error is dropped: nothing may leave the event dispatch.
    }
}

}  // namespace deruz::server
