// imaging-sim's automation server: Iox3server (dual, IDispatch through the registered type
// information), one connection point for the event interface, error information for failing
// calls, and a class factory that hands out the one object of the process. Every call is
// recorded in the log.

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/imaging-sim/sim_win32.h"

namespace deruz::imagingsim {

namespace {

std::wstring BstrText(BSTR Value) {
    return Value ? std::wstring(Value, SysStringLen(Value)) : std::wstring();
}

std::wstring Num(long long Value) {
    return std::to_wstring(Value);
}

std::vector<std::wstring> Split(const std::wstring& Text, std::size_t MaxParts) {
    std::vector<std::wstring> LParts;
    std::size_t LStart = 0;
    while (LParts.size() + 1 < MaxParts) {
        const std::size_t LBar = Text.find(L'|', LStart);
        if (LBar == std::wstring::npos) break;
        LParts.push_back(Text.substr(LStart, LBar - LStart));
        LStart = LBar + 1;
    }
    LParts.push_back(Text.substr(LStart));
    return LParts;
}

long ToLong(const std::wstring& Text) {
    return std::wcstol(Text.c_str(), nullptr, 10);
}

// A status code in hexadecimal ("0x8..."), or decimal.
HRESULT ToHresult(const std::wstring& Text) {
    return static_cast<HRESULT>(static_cast<unsigned long>(std::wcstoll(Text.c_str(), nullptr, 0)));
}

// One event argument, owned.
class TArg {
  public:
    TArg() { VariantInit(&FValue); }
    explicit TArg(long Value) : TArg() {
        FValue.vt = VT_I4;
        FValue.lVal = Value;
    }
    explicit TArg(const std::wstring& Value) : TArg() {
        FValue.vt = VT_BSTR;
        FValue.bstrVal = SysAllocStringLen(Value.data(), static_cast<UINT>(Value.size()));
    }
    TArg(const TArg& Other) : TArg() { VariantCopy(&FValue, const_cast<VARIANT*>(&Other.FValue)); }
    TArg& operator=(const TArg&) = delete;
    ~TArg() { VariantClear(&FValue); }
    VARIANT& Get() { return FValue; }

  private:
    VARIANT FValue;
};

// One raw argument of "raw": i:N, s:TEXT, r:REAL, null, empty.
TArg RawArg(const std::wstring& Text) {
    if (Text.rfind(L"i:", 0) == 0) return TArg(ToLong(Text.substr(2)));
    if (Text.rfind(L"s:", 0) == 0) return TArg(Text.substr(2));
    TArg LArg;
    if (Text.rfind(L"r:", 0) == 0) {
        LArg.Get().vt = VT_R8;
        LArg.Get().dblVal = std::wcstod(Text.c_str() + 2, nullptr);
    } else if (Text == L"null") {
        LArg.Get().vt = VT_NULL;
    }
    return LArg;
}

class TSimConnectionPoint;

}  // namespace

class TSimServer final : public Iox3server,
                         public IConnectionPointContainer,
                         public ISupportErrorInfo {
  public:
    explicit TSimServer(ITypeInfo* TypeInfo) : FTypeInfo(TypeInfo) {
        if (FTypeInfo) FTypeInfo->AddRef();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_Iox3server)) {
            *ppv = static_cast<Iox3server*>(this);
        } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
            *ppv = static_cast<IConnectionPointContainer*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FRefCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }

    // IDispatch, through the type information of the registered library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) return E_POINTER;
        *pctinfo = FTypeInfo ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo == nullptr) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0 || !FTypeInfo) return DISP_E_BADINDEX;
        FTypeInfo->AddRef();
        *ppTInfo = FTypeInfo;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override {
        if (!FTypeInfo) return E_NOTIMPL;
        return DispGetIDsOfNames(FTypeInfo, rgszNames, cNames, rgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        if (!FTypeInfo) return E_NOTIMPL;
        return DispInvoke(static_cast<Iox3server*>(this), FTypeInfo, dispIdMember, wFlags,
                          pDispParams, pVarResult, pExcepInfo, puArgErr);
    }

    // Iox3server
    HRESULT STDMETHODCALLTYPE get_Version(LONG* Value) override {
        if (Value == nullptr) return E_POINTER;
        LogLine(L"Version");
        ExitIfAsked(L"Version");
        if (Options().VersionFails) return E_FAIL;
        *Value = SIM_VERSION_NUMBER;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClosePatient(LONG* Result) override {
        if (Result == nullptr) return E_POINTER;
        LogLine(L"ClosePatient");
        ExitIfAsked(L"ClosePatient");
        *Result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SearchTStatus(LONG Flags, LONG Index, LONG DentistID, BSTR PatientID,
                                            BSTR* TStatus, LONG* Result) override {
        if (TStatus == nullptr || Result == nullptr) return E_POINTER;
        LogLine(L"SearchTStatus flags=" + Num(Flags) + L" index=" + Num(Index) + L" dentist=" +
                Num(DentistID) + L" patient=" + BstrText(PatientID));
        ExitIfAsked(L"SearchTStatus");
        *TStatus = SysAllocString((L"status of " + BstrText(PatientID)).c_str());
        *Result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NewPatient(LONG Flags, LONG Index, LONG DentistID, BSTR PatientID,
                                         BSTR PatientIDSrc, BSTR FirstName, BSTR LastName,
                                         DATE BirthDate, BSTR Gender, BSTR Street, BSTR PostalCode,
                                         BSTR City, BSTR Country, BSTR Telephone, BSTR Telefax,
                                         BSTR Email, BSTR Notes, LONG* Result) override {
        if (Result == nullptr) return E_POINTER;
        LogLine(L"NewPatient" + PatientFields(Flags, Index, DentistID, PatientID, nullptr,
                                              PatientIDSrc, FirstName, LastName, BirthDate, Gender,
                                              Street, PostalCode, City, Country, Telephone, Telefax,
                                              Email, Notes));
        ExitIfAsked(L"NewPatient");
        *Result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NewPhoto(LONG Flags, LONG Index, LONG DentistID, BSTR PatientID,
                                       BSTR ToothPosition, BSTR PatientIDSrc, BSTR FirstName,
                                       BSTR LastName, DATE BirthDate, BSTR Gender, BSTR Street,
                                       BSTR PostalCode, BSTR City, BSTR Country, BSTR Telephone,
                                       BSTR Telefax, BSTR Email, BSTR Notes,
                                       LONG* Result) override {
        if (Result == nullptr) return E_POINTER;
        LogLine(L"NewPhoto" + PatientFields(Flags, Index, DentistID, PatientID, ToothPosition,
                                            PatientIDSrc, FirstName, LastName, BirthDate, Gender,
                                            Street, PostalCode, City, Country, Telephone, Telefax,
                                            Email, Notes));
        ExitIfAsked(L"NewPhoto");
        *Result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SearchPhotos(LONG Flags, LONG Index, LONG DentistID, BSTR PatientID,
                                           BSTR ToothPosition, LONG* Result) override {
        if (Result == nullptr) return E_POINTER;
        LogLine(L"SearchPhotos flags=" + Num(Flags) + L" index=" + Num(Index) + L" dentist=" +
                Num(DentistID) + L" patient=" + BstrText(PatientID) + L" tooth=" +
                BstrText(ToothPosition));
        ExitIfAsked(L"SearchPhotos");
        *Result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdminCommand(BSTR Cmd, BSTR* ReturnText, LONG* Result) override {
        if (ReturnText == nullptr || Result == nullptr) return E_POINTER;
        *ReturnText = nullptr;
        const std::wstring LCmd = BstrText(Cmd);
        LogLine(L"AdminCommand cmd=" + LCmd);
        ExitIfAsked(L"AdminCommand");
        std::wstring LText;
        const HRESULT LStatus = RunCommand(LCmd, *Result, LText);
        if (SUCCEEDED(LStatus)) {
            *ReturnText = SysAllocStringLen(LText.data(), static_cast<UINT>(LText.size()));
        }
        return LStatus;
    }
    HRESULT STDMETHODCALLTYPE put_AppReturnWnd(LONG Value) override {
        LogLine(L"AppReturnWnd value=" + Num(Value));
        ExitIfAsked(L"AppReturnWnd");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Terminate() override {
        LogLine(L"Terminate");
        // A client ends its session with Terminate and then unadvises: the program waits for
        // that (briefly) before it goes, so no client is left calling a vanished server.
        RequestExitAfterClients(FSinks.empty());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_LastAdminLinkDLLPath(BSTR Value) override {
        LogLine(L"LastAdminLinkDLLPath value=" + BstrText(Value));
        ExitIfAsked(L"LastAdminLinkDLLPath");
        return S_OK;
    }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID_Iox3server) ? S_OK : S_FALSE;
    }

    // Connection point
    HRESULT Advise(IUnknown* Sink, DWORD* Cookie) {
        if (Sink == nullptr || Cookie == nullptr) return E_POINTER;
        *Cookie = 0;
        IDispatch* LDispatch = nullptr;
        if (FAILED(Sink->QueryInterface(DIID_Iox3serverEvents,
                                        reinterpret_cast<void**>(&LDispatch))) &&
            FAILED(Sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&LDispatch)))) {
            LogLine(L"advise refused");
            return CONNECT_E_CANNOTCONNECT;
        }
        *Cookie = ++FLastCookie;
        FSinks.push_back({*Cookie, LDispatch});
        LogLine(L"advise cookie=" + Num(*Cookie));
        return S_OK;
    }
    HRESULT Unadvise(DWORD Cookie) {
        for (auto it = FSinks.begin(); it != FSinks.end(); ++it) {
            if (it->Cookie == Cookie) {
                IDispatch* LSink = it->Sink;
                FSinks.erase(it);
                LogLine(L"unadvise cookie=" + Num(Cookie));
                LSink->Release();
                if (Terminating() && FSinks.empty()) RequestExit();
                return S_OK;
            }
        }
        LogLine(L"unadvise cookie=" + Num(Cookie) + L" unknown");
        return CONNECT_E_NOCONNECTION;
    }

    // Calls every advised sink (a copy of the list: a sink may unadvise while it is called).
    void Fire(DISPID DispID, const wchar_t* Name, std::vector<TArg> Args) {
        std::vector<TSink> LSinks = FSinks;
        for (auto& LSink : LSinks) LSink.Sink->AddRef();
        LogLine(std::wstring(L"event ") + Name + L" sinks=" +
                Num(static_cast<long long>(LSinks.size())));
        // Arguments go in reverse order: the last parameter first.
        std::vector<VARIANT> LReversed;
        for (auto it = Args.rbegin(); it != Args.rend(); ++it) LReversed.push_back(it->Get());
        DISPPARAMS LParams = {LReversed.empty() ? nullptr : LReversed.data(), nullptr,
                              static_cast<UINT>(LReversed.size()), 0};
        for (auto& LSink : LSinks) {
            const HRESULT LResult =
                LSink.Sink->Invoke(DispID, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &LParams,
                                   nullptr, nullptr, nullptr);
            if (FAILED(LResult)) {
                LogLine(std::wstring(L"event ") + Name + L" cookie=" + Num(LSink.Cookie) +
                        L" failed=" + Hex(static_cast<unsigned long>(LResult)));
            }
            LSink.Sink->Release();
        }
    }

    bool FireSpec(const std::wstring& Spec) {
        const std::vector<std::wstring> LHead = Split(Spec, 2);
        const std::wstring& LKind = LHead[0];
        const std::wstring LRest = LHead.size() > 1 ? LHead[1] : L"";
        if (LKind == L"wakeup") {
            Fire(3, L"OnWakeUp", {});
        } else if (LKind == L"photo") {
            auto p = Split(LRest, 6);
            p.resize(6);
            Fire(1, L"OnNewPhoto",
                 {TArg(ToLong(p[0])), TArg(ToLong(p[1])), TArg(p[2]), TArg(p[3]),
                  TArg(ToLong(p[4])), TArg(ToLong(p[5]))});
        } else if (LKind == L"notes") {
            auto p = Split(LRest, 5);
            p.resize(5);
            Fire(4, L"OnAdminNotes",
                 {TArg(ToLong(p[0])), TArg(p[1]), TArg(p[2]), TArg(p[3]), TArg(p[4])});
        } else if (LKind == L"request") {
            Fire(5, L"OnRequest", {TArg(LRest)});
        } else if (LKind == L"cmdready") {
            auto p = Split(LRest, 2);
            p.resize(2);
            Fire(2, L"OnCmdReady", {TArg(ToLong(p[0])), TArg(p[1])});
        } else if (LKind == L"raw") {
            auto p = Split(LRest, 64);
            std::vector<TArg> LArgs;
            for (std::size_t i = 1; i < p.size(); ++i) LArgs.push_back(RawArg(p[i]));
            Fire(ToLong(p[0]), L"raw", std::move(LArgs));
        } else {
            return false;
        }
        return true;
    }

    void DropSinks() {
        std::vector<TSink> LSinks;
        LSinks.swap(FSinks);
        for (auto& LSink : LSinks) LSink.Sink->Release();
    }

  private:
    struct TSink {
        DWORD Cookie;
        IDispatch* Sink;
    };

    ~TSimServer() {
        DropSinks();
        if (FTypeInfo) FTypeInfo->Release();
    }

    static std::wstring PatientFields(LONG Flags, LONG Index, LONG DentistID, BSTR PatientID,
                                      BSTR ToothPosition, BSTR PatientIDSrc, BSTR FirstName,
                                      BSTR LastName, DATE BirthDate, BSTR Gender, BSTR Street,
                                      BSTR PostalCode, BSTR City, BSTR Country, BSTR Telephone,
                                      BSTR Telefax, BSTR Email, BSTR Notes) {
        wchar_t LDate[64];
        swprintf(LDate, 64, L"%.4f", BirthDate);
        std::wstring LText = L" flags=" + Num(Flags) + L" index=" + Num(Index) + L" dentist=" +
                             Num(DentistID) + L" patient=" + BstrText(PatientID);
        if (ToothPosition != nullptr) LText += L" tooth=" + BstrText(ToothPosition);
        LText += L" src=" + BstrText(PatientIDSrc) + L" first=" + BstrText(FirstName) + L" last=" +
                 BstrText(LastName) + L" birth=" + LDate + L" gender=" + BstrText(Gender) +
                 L" street=" + BstrText(Street) + L" postal=" + BstrText(PostalCode) + L" city=" +
                 BstrText(City) + L" country=" + BstrText(Country) + L" phone=" +
                 BstrText(Telephone) + L" fax=" + BstrText(Telefax) + L" email=" + BstrText(Email) +
                 L" notes=" + BstrText(Notes);
        return LText;
    }

    static void ExitIfAsked(const wchar_t* Method) {
        if (Options().ExitAfter == Method) RequestExit();
    }

    // The AdminCommand language (README.md). Returns the call's status code.
    HRESULT RunCommand(const std::wstring& Cmd, LONG& Result, std::wstring& Text) {
        const std::vector<std::wstring> LHead = Split(Cmd, 2);
        const std::wstring& LVerb = LHead[0];
        const std::wstring LRest = LHead.size() > 1 ? LHead[1] : L"";
        Result = 0;
        Text = L"ok: " + Cmd;
        if (LVerb == L"result") {
            auto p = Split(LRest, 2);
            p.resize(2);
            Result = ToLong(p[0]);
            Text = p[1];
        } else if (LVerb == L"event") {
            if (!FireSpec(LRest)) {
                Result = -1;
                Text = L"error: unknown event " + LRest;
            }
        } else if (LVerb == L"post") {
            auto* LSpec = new std::wstring(LRest);
            if (!PostMessageW(MainWindow(), WM_SIM_POSTED_EVENT, 0,
                              reinterpret_cast<LPARAM>(LSpec))) {
                delete LSpec;
                Result = -1;
                Text = L"error: could not post";
            }
        } else if (LVerb == L"fail") {
            return Fail(LRest);
        } else if (LVerb == L"exit") {
            RequestExit();
        } else if (LVerb == L"openpatient") {
            FPatient = Field(LRest, L"1");
            Text = L"patient " + FPatient + L" opened";
        } else if (LVerb == L"takeimage") {
            // The image arrives a moment later, as a photo event after the call.
            const std::wstring LImage = L"IMG" + std::to_wstring(++FImages);
            std::wstring LDentist = Field(LRest, L"50");
            if (LDentist.empty()) LDentist = L"0";
            auto* LSpec = new std::wstring(L"photo|1|" + LDentist + L"|" + FPatient + L"|" +
                                           LImage + L"|1|6");
            if (!PostMessageW(MainWindow(), WM_SIM_POSTED_EVENT, 0,
                              reinterpret_cast<LPARAM>(LSpec))) {
                delete LSpec;
            }
            Text = L"image " + LImage + L" taken for patient " + FPatient;
        }
        return S_OK;
    }

    // The value of the field "Key~value" among the "|"-separated fields of Fields.
    static std::wstring Field(const std::wstring& Fields, const std::wstring& Key) {
        for (const auto& LField : Split(Fields, 64)) {
            if (LField.rfind(Key + L"~", 0) == 0) return LField.substr(Key.size() + 1);
        }
        return {};
    }

    // fail|HRESULT[|DESCRIPTION[|SOURCE[|HELPFILE[|HELPCONTEXT]]]]: without a description field
    // no error information is set.
    static HRESULT Fail(const std::wstring& Spec) {
        const std::vector<std::wstring> p = Split(Spec, 5);
        const HRESULT LCode = ToHresult(p[0]);
        if (p.size() < 2) {
            SetErrorInfo(0, nullptr);
            return LCode;
        }
        ICreateErrorInfo* LCreate = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&LCreate))) {
            LCreate->SetGUID(IID_Iox3server);
            LCreate->SetDescription(const_cast<LPOLESTR>(p[1].c_str()));
            LCreate->SetSource(const_cast<LPOLESTR>(p.size() > 2 ? p[2].c_str() : L"imaging-sim"));
            if (p.size() > 3) LCreate->SetHelpFile(const_cast<LPOLESTR>(p[3].c_str()));
            if (p.size() > 4) LCreate->SetHelpContext(static_cast<DWORD>(ToLong(p[4])));
            IErrorInfo* LInfo = nullptr;
            if (SUCCEEDED(
                    LCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&LInfo)))) {
                SetErrorInfo(0, LInfo);
                LInfo->Release();
            }
            LCreate->Release();
        }
        return LCode;
    }

    std::atomic<long> FRefCount{1};
    ITypeInfo* FTypeInfo;
    std::vector<TSink> FSinks;
    DWORD FLastCookie = 0;
    std::wstring FPatient;  // the patient opened last
    int FImages = 0;
};

namespace {

class TSimConnectionPoint final : public IConnectionPoint {
  public:
    explicit TSimConnectionPoint(TSimServer* Server) : FServer(Server) { FServer->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FRefCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override {
        if (pIID == nullptr) return E_POINTER;
        *pIID = DIID_Iox3serverEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
        if (ppCPC == nullptr) return E_POINTER;
        return FServer->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(ppCPC));
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
        return FServer->Advise(pUnkSink, pdwCookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override {
        return FServer->Unadvise(dwCookie);
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override {
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

  private:
    ~TSimConnectionPoint() { FServer->Release(); }

    TSimServer* FServer;
    std::atomic<long> FRefCount{1};
};

class TSimClassFactory final : public IClassFactory {
  public:
    explicit TSimClassFactory(TSimServer* Server) : FServer(Server) {
        ServerInterface(FServer)->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FRefCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        LogLine(L"CreateInstance");
        return ServerInterface(FServer)->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    ~TSimClassFactory() { ServerInterface(FServer)->Release(); }

    TSimServer* FServer;
    std::atomic<long> FRefCount{1};
};

}  // namespace

HRESULT TSimServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (ppCP == nullptr) return E_POINTER;
    *ppCP = nullptr;
    if (!IsEqualIID(riid, DIID_Iox3serverEvents)) return CONNECT_E_NOCONNECTION;
    *ppCP = new TSimConnectionPoint(this);
    return S_OK;
}

TSimServer* CreateSimServer(ITypeInfo* TypeInfo) {
    return new TSimServer(TypeInfo);
}

Iox3server* ServerInterface(TSimServer* Server) {
    return static_cast<Iox3server*>(Server);
}

bool FireEventSpec(TSimServer* Server, const std::wstring& Spec) {
    return Server->FireSpec(Spec);
}

void DropSinks(TSimServer* Server) {
    Server->DropSinks();
}

IClassFactory* CreateSimClassFactory(TSimServer* Server) {
    return new TSimClassFactory(Server);
}

}  // namespace deruz::imagingsim
