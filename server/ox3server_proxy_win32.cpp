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

std::string Utf8(const wchar_t* Text, std::size_t Length) {
    if (Length == 0) return {};
    const int LSize = WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), nullptr, 0,
                                          nullptr, nullptr);
    std::string LResult(static_cast<std::size_t>(LSize), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), LResult.data(), LSize, nullptr,
                        nullptr);
    return LResult;
}

std::string Utf8(const std::wstring& Text) {
    return Utf8(Text.data(), Text.size());
}

// Removes trailing characters of code 32 or less and trailing dots.
std::wstring TrimPunctuation(std::wstring Text) {
    while (!Text.empty() && (Text.back() <= 32 || Text.back() == L'.')) Text.pop_back();
    return Text;
}

// The system's message text for a status code, trimmed like an error description; empty when
// the system has none.
std::wstring SystemMessage(HRESULT Code) {
    return systools::WideFromUtf8(logging::SiSystemMessage(static_cast<std::uint32_t>(Code)));
}

std::wstring OleErrorText(HRESULT Code) {
    std::wstring LText = SystemMessage(Code);
    if (LText.empty()) {
        wchar_t LBuffer[32];
        swprintf(LBuffer, 32, L"OLE error %.8X", static_cast<unsigned>(Code));
        LText = LBuffer;
    }
    return LText;
}

// An owned BSTR: in-parameters are allocated from wide text, out-parameters are freed whatever
// the call's outcome.
class TBstr {
  public:
    TBstr() = default;
    explicit TBstr(const std::wstring& Text)
        : FValue(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {
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
[[noreturn]] void RaiseOleException(HRESULT Code) {
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
    if (LMessage.empty()) LMessage = OleErrorText(Code);
    throw EOleException(Utf8(LMessage), static_cast<std::int32_t>(Code), Utf8(LSource),
                        Utf8(LHelpFile), static_cast<std::int32_t>(LHelpContext));
}

void OleCheck(HRESULT Code) {
    if (FAILED(Code)) RaiseOleException(Code);
}

std::wstring GuidToString(const GUID& Guid) {
    wchar_t LText[40] = {};
    StringFromGUID2(Guid, LText, 40);
    return LText;
}

// Names of variant types in conversion errors.
std::string VarTypeName(VARTYPE Type) {
    static const char* const kNames[] = {
        "Empty",    "Null",     "Smallint", "Integer",  "Single",  "Double",  "Currency", "Date",
        "OleStr",   "Dispatch", "Error",    "Boolean",  "Variant", "Unknown", "Decimal",  nullptr,
        "ShortInt", "Byte",     "Word",     "LongWord", "Int64",   "UInt64"};
    const VARTYPE LBase = Type & VT_TYPEMASK;
    std::string LName;
    if (LBase < std::size(kNames) && kNames[LBase] != nullptr) {
        LName = kNames[LBase];
    } else {
        char LBuffer[16];
        std::snprintf(LBuffer, sizeof LBuffer, "$%.4X", static_cast<unsigned>(LBase));
        LName = LBuffer;
    }
    if ((Type & VT_ARRAY) != 0) LName = "Array " + LName;
    if ((Type & VT_BYREF) != 0) LName = "ByRef " + LName;
    return LName;
}

[[noreturn]] void RaiseConvertError(VARTYPE From, const char* To, bool Overflow) {
    const std::string LText = (Overflow ? "Overflow while converting variant of type ("
                                        : "Could not convert variant of type (") +
                              VarTypeName(From) + ") into type (" + To + ")";
    throw EVariantError(LText);
}

// Converts into Target with the system's variant rules; raises the conversion errors.
void ChangeType(VARIANT& Result, const VARIANT& Value, VARTYPE Target, const char* TargetName) {
    // Null and error values have no value to convert (the system would accept some of them).
    const VARTYPE LType = Value.vt & VT_TYPEMASK;
    if ((Value.vt & VT_ARRAY) != 0 || LType == VT_NULL || LType == VT_ERROR) {
        RaiseConvertError(Value.vt, TargetName, false);
    }
    const HRESULT LResult =
        VariantChangeTypeEx(&Result, const_cast<VARIANT*>(&Value), LOCALE_USER_DEFAULT, 0, Target);
    if (FAILED(LResult)) RaiseConvertError(Value.vt, TargetName, LResult == DISP_E_OVERFLOW);
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
std::int32_t IntArg(std::span<const VARIANT> Params, std::size_t Position) {
    if (Position >= Params.size()) throw ERangeError();
    return VariantToInt32(Params[Position]);
}

std::wstring TextArg(std::span<const VARIANT> Params, std::size_t Position) {
    if (Position >= Params.size()) throw ERangeError();
    return VariantToWide(Params[Position]);
}

}  // namespace

std::int32_t VariantToInt32(const VARIANT& Value) {
    if (Value.vt == VT_I4) return Value.lVal;
    TVariantHolder LResult;
    ChangeType(LResult.Get(), Value, VT_I4, "Integer");
    return LResult.Get().lVal;
}

std::wstring VariantToWide(const VARIANT& Value) {
    if (Value.vt == VT_BSTR) {
        return Value.bstrVal ? std::wstring(Value.bstrVal, SysStringLen(Value.bstrVal)) : L"";
    }
    TVariantHolder LResult;
    ChangeType(LResult.Get(), Value, VT_BSTR, "OleStr");
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
    explicit TServerEventDispatch(TOleServer* Server) : FServer(Server) {}

    void ClearServer() { FServer = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            (FServer != nullptr && FServer->FServerData != nullptr &&
             IsEqualIID(riid, FServer->FServerData->EventIID))) {
            *ppvObject = static_cast<IDispatch*>(this);
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

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo != nullptr) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD,
                                     DISPPARAMS* pDispParams, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        const UINT LCount = pDispParams ? pDispParams->cArgs : 0;
        const UINT LNamed = pDispParams ? pDispParams->cNamedArgs : 0;
        // Parameters that cannot be read safely are refused rather than followed.
        if ((LCount > 0 && pDispParams->rgvarg == nullptr) || LNamed > LCount ||
            (LNamed > 0 && pDispParams->rgdispidNamedArgs == nullptr)) {
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
            for (UINT i = 0; i < LCount; ++i) {
                // Named arguments go to the positions they name, the positional ones (which
                // follow them in reverse order) to the first positions.
                const LONG LPosition = i < LNamed ? pDispParams->rgdispidNamedArgs[i]
                                                  : static_cast<LONG>(LCount - 1 - i);
                if (LPosition < 0 || static_cast<UINT>(LPosition) >= LCount) throw ERangeError();
                VARIANT& LTarget = LArgs[static_cast<std::size_t>(LPosition)];
                VariantClear(&LTarget);
                if (FAILED(VariantCopyInd(&LTarget, &pDispParams->rgvarg[i]))) {
                    // A value that cannot be copied cannot be converted either.
                    LTarget.vt = VT_ERROR;
                    LTarget.scode = DISP_E_BADVARTYPE;
                }
            }
            if (FServer != nullptr) FServer->InvokeEvent(dispIdMember, LArgs);
        } catch (const std::exception& E) {
            if (FServer != nullptr) FServer->HandleEventError(dispIdMember, E.what());
        } catch (...) {
            if (FServer != nullptr) FServer->HandleEventError(dispIdMember, "Unknown error");
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

HRESULT TOleServer::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppvObject = static_cast<IUnknown*>(this);
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

void TOleServer::ConnectEvents(IUnknown* Server) {
    FEventsConnection = 0;
    if (Server == nullptr) return;
    ComPtr<IConnectionPointContainer> LContainer;
    if (FAILED(Server->QueryInterface(IID_IConnectionPointContainer,
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

void TOleServer::DisconnectEvents(IUnknown* Server) {
    if (FEventsConnection == 0 || Server == nullptr) return;
    ComPtr<IConnectionPointContainer> LContainer;
    if (FAILED(Server->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void**>(LContainer.GetAddressOf())))) {
        return;
    }
    ComPtr<IConnectionPoint> LPoint;
    if (FAILED(LContainer->FindConnectionPoint(FServerData->EventIID, &LPoint)) || !LPoint) return;
    if (SUCCEEDED(LPoint->Unadvise(FEventsConnection))) FEventsConnection = 0;
}

void TOleServer::HandleEventError(DISPID DispID, const std::string& Message) noexcept {
    try {
        logging::SiMain->LogError("Error in imaging server event " + std::to_string(DispID) + ": " +
                                  Message);
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

void Tox3server::ConnectTo(Iox3server* SvrIntf) {
    Disconnect();
    FIntf = SvrIntf;
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

std::int32_t Tox3server::SearchTStatus(std::int32_t Flags, std::int32_t Index,
                                       std::int32_t DentistID, const std::wstring& PatientID,
                                       std::wstring& TStatus) {
    TStatus.clear();
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(PatientID);
    TBstr LStatus;
    LONG LResult = 0;
    PrepareCall();
    OleCheck(
        LIntf->SearchTStatus(Flags, Index, DentistID, LPatientID.Get(), LStatus.Out(), &LResult));
    TStatus = LStatus.Text();
    return LResult;
}

std::int32_t Tox3server::NewPatient(std::int32_t Flags, std::int32_t Index, std::int32_t DentistID,
                                    const std::wstring& PatientID, const std::wstring& PatientIDSrc,
                                    const std::wstring& FirstName, const std::wstring& LastName,
                                    double BirthDate, const std::wstring& Gender,
                                    const std::wstring& Street, const std::wstring& PostalCode,
                                    const std::wstring& City, const std::wstring& Country,
                                    const std::wstring& Telephone, const std::wstring& Telefax,
                                    const std::wstring& Email, const std::wstring& Notes) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(PatientID), LPatientIDSrc(PatientIDSrc), LFirstName(FirstName),
        LLastName(LastName), LGender(Gender), LStreet(Street), LPostalCode(PostalCode), LCity(City),
        LCountry(Country), LTelephone(Telephone), LTelefax(Telefax), LEmail(Email), LNotes(Notes);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->NewPatient(
        Flags, Index, DentistID, LPatientID.Get(), LPatientIDSrc.Get(), LFirstName.Get(),
        LLastName.Get(), BirthDate, LGender.Get(), LStreet.Get(), LPostalCode.Get(), LCity.Get(),
        LCountry.Get(), LTelephone.Get(), LTelefax.Get(), LEmail.Get(), LNotes.Get(), &LResult));
    return LResult;
}

std::int32_t Tox3server::NewPhoto(std::int32_t Flags, std::int32_t Index, std::int32_t DentistID,
                                  const std::wstring& PatientID, const std::wstring& ToothPosition,
                                  const std::wstring& PatientIDSrc, const std::wstring& FirstName,
                                  const std::wstring& LastName, double BirthDate,
                                  const std::wstring& Gender, const std::wstring& Street,
                                  const std::wstring& PostalCode, const std::wstring& City,
                                  const std::wstring& Country, const std::wstring& Telephone,
                                  const std::wstring& Telefax, const std::wstring& Email,
                                  const std::wstring& Notes) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(PatientID), LToothPosition(ToothPosition), LPatientIDSrc(PatientIDSrc),
        LFirstName(FirstName), LLastName(LastName), LGender(Gender), LStreet(Street),
        LPostalCode(PostalCode), LCity(City), LCountry(Country), LTelephone(Telephone),
        LTelefax(Telefax), LEmail(Email), LNotes(Notes);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->NewPhoto(Flags, Index, DentistID, LPatientID.Get(), LToothPosition.Get(),
                             LPatientIDSrc.Get(), LFirstName.Get(), LLastName.Get(), BirthDate,
                             LGender.Get(), LStreet.Get(), LPostalCode.Get(), LCity.Get(),
                             LCountry.Get(), LTelephone.Get(), LTelefax.Get(), LEmail.Get(),
                             LNotes.Get(), &LResult));
    return LResult;
}

std::int32_t Tox3server::SearchPhotos(std::int32_t Flags, std::int32_t Index,
                                      std::int32_t DentistID, const std::wstring& PatientID,
                                      const std::wstring& ToothPosition) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LPatientID(PatientID), LToothPosition(ToothPosition);
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->SearchPhotos(Flags, Index, DentistID, LPatientID.Get(), LToothPosition.Get(),
                                 &LResult));
    return LResult;
}

std::int32_t Tox3server::AdminCommand(const std::wstring& Cmd, std::wstring& ReturnText) {
    ReturnText.clear();
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LCmd(Cmd);
    TBstr LReturnText;
    LONG LResult = 0;
    PrepareCall();
    OleCheck(LIntf->AdminCommand(LCmd.Get(), LReturnText.Out(), &LResult));
    ReturnText = LReturnText.Text();
    return LResult;
}

void Tox3server::Set_AppReturnWnd(std::int32_t Value) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    PrepareCall();
    OleCheck(LIntf->put_AppReturnWnd(Value));
}

void Tox3server::Terminate() {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    PrepareCall();
    OleCheck(LIntf->Terminate());
}

void Tox3server::Set_LastAdminLinkDLLPath(const std::wstring& Value) {
    const ComPtr<Iox3server> LIntf = GetDefaultInterface();
    const TBstr LValue(Value);
    PrepareCall();
    OleCheck(LIntf->put_LastAdminLinkDLLPath(LValue.Get()));
}

void Tox3server::InvokeEvent(DISPID DispID, std::span<const VARIANT> Params) {
    // Arguments are converted in position order before the handler runs, so a missing or
    // unconvertible argument stops the event before the handler sees any of it.
    switch (DispID) {
        case 1:
            if (OnNewPhoto) {
                const std::int32_t LPhotoType = IntArg(Params, 0);
                const std::int32_t LDentistID = IntArg(Params, 1);
                const std::wstring LPatientID = TextArg(Params, 2);
                const std::wstring LPhotoID = TextArg(Params, 3);
                const std::int32_t LQuadrant = IntArg(Params, 4);
                const std::int32_t LElement = IntArg(Params, 5);
                OnNewPhoto(*this, LPhotoType, LDentistID, LPatientID, LPhotoID, LQuadrant,
                           LElement);
            }
            break;
        case 2:
            if (OnCmdReady) {
                const std::int32_t LResultValue = IntArg(Params, 0);
                const std::wstring LResultText = TextArg(Params, 1);
                OnCmdReady(*this, LResultValue, LResultText);
            }
            break;
        case 3:
            if (OnWakeUp) OnWakeUp(*this);
            break;
        case 4:
            if (OnAdminNotes) {
                const std::int32_t LDentistID = IntArg(Params, 0);
                const std::wstring LPatientID = TextArg(Params, 1);
                const std::wstring LToothPosition = TextArg(Params, 2);
                const std::wstring LCode = TextArg(Params, 3);
                const std::wstring LNotes = TextArg(Params, 4);
                OnAdminNotes(*this, LDentistID, LPatientID, LToothPosition, LCode, LNotes);
            }
            break;
        case 5:
            if (OnRequest) {
                const std::wstring LCmd = TextArg(Params, 0);
                OnRequest(*this, LCmd);
            }
            break;
        default:  // DISPID_UNKNOWN (-1), 0 and unknown events
            break;
    }
}

void Tox3server::HandleEventError(DISPID DispID, const std::string& Message) noexcept {
    if (!OnEventError) {
        TOleServer::HandleEventError(DispID, Message);
        return;
    }
    try {
        OnEventError(*this, DispID, Message);
    } catch (...) {
        // An error about an error is dropped: nothing may leave the event dispatch.
    }
}

}  // namespace deruz::server
