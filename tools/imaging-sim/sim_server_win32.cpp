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

std::wstring BstrText(BSTR AValue) {
    return AValue ? std::wstring(AValue, SysStringLen(AValue)) : std::wstring();
}

std::wstring Num(long long AValue) {
    return std::to_wstring(AValue);
}

std::vector<std::wstring> Split(const std::wstring& AText, std::size_t AMaxParts) {
    std::vector<std::wstring> LParts;
    std::size_t LStart = 0;
    while (LParts.size() + 1 < AMaxParts) {
        const std::size_t LBar = AText.find(L'|', LStart);
        if (LBar == std::wstring::npos) break;
        LParts.push_back(AText.substr(LStart, LBar - LStart));
        LStart = LBar + 1;
    }
    LParts.push_back(AText.substr(LStart));
    return LParts;
}

long ToLong(const std::wstring& AText) {
    return std::wcstol(AText.c_str(), nullptr, 10);
}

// A status code in hexadecimal ("0x8..."), or decimal.
HRESULT ToHresult(const std::wstring& AText) {
    return static_cast<HRESULT>(
        static_cast<unsigned long>(std::wcstoll(AText.c_str(), nullptr, 0)));
}

// One event argument, owned.
class TArg {
  public:
    TArg() { VariantInit(&FValue); }
    explicit TArg(long AValue) : TArg() {
        FValue.vt = VT_I4;
        FValue.lVal = AValue;
    }
    explicit TArg(const std::wstring& AValue) : TArg() {
        FValue.vt = VT_BSTR;
        FValue.bstrVal = SysAllocStringLen(AValue.data(), static_cast<UINT>(AValue.size()));
    }
    TArg(const TArg& AOther) : TArg() {
        VariantCopy(&FValue, const_cast<VARIANT*>(&AOther.FValue));
    }
    TArg& operator=(const TArg&) = delete;
    ~TArg() { VariantClear(&FValue); }
    VARIANT& Get() { return FValue; }

  private:
    VARIANT FValue;
};

// One raw argument of "raw": i:N, s:TEXT, r:REAL, null, empty.
TArg RawArg(const std::wstring& AText) {
    if (AText.rfind(L"i:", 0) == 0) return TArg(ToLong(AText.substr(2)));
    if (AText.rfind(L"s:", 0) == 0) return TArg(AText.substr(2));
    TArg LArg;
    if (AText.rfind(L"r:", 0) == 0) {
        LArg.Get().vt = VT_R8;
        LArg.Get().dblVal = std::wcstod(AText.c_str() + 2, nullptr);
    } else if (AText == L"null") {
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
    explicit TSimServer(ITypeInfo* ATypeInfo) : FTypeInfo(ATypeInfo) {
        if (FTypeInfo) FTypeInfo->AddRef();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        if (APpv == nullptr) return E_POINTER;
        *APpv = nullptr;
        if (IsEqualIID(ARiid, IID_IUnknown) || IsEqualIID(ARiid, IID_IDispatch) ||
            IsEqualIID(ARiid, IID_Iox3server)) {
            *APpv = static_cast<Iox3server*>(this);
        } else if (IsEqualIID(ARiid, IID_IConnectionPointContainer)) {
            *APpv = static_cast<IConnectionPointContainer*>(this);
        } else if (IsEqualIID(ARiid, IID_ISupportErrorInfo)) {
            *APpv = static_cast<ISupportErrorInfo*>(this);
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
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* APctinfo) override {
        if (APctinfo == nullptr) return E_POINTER;
        *APctinfo = FTypeInfo ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT AITInfo, LCID, ITypeInfo** APpTInfo) override {
        if (APpTInfo == nullptr) return E_POINTER;
        *APpTInfo = nullptr;
        if (AITInfo != 0 || !FTypeInfo) return DISP_E_BADINDEX;
        FTypeInfo->AddRef();
        *APpTInfo = FTypeInfo;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* ARgszNames, UINT ACNames, LCID,
                                            DISPID* ARgDispId) override {
        if (!FTypeInfo) return E_NOTIMPL;
        return DispGetIDsOfNames(FTypeInfo, ARgszNames, ACNames, ARgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID ADispIdMember, REFIID, LCID, WORD AWFlags,
                                     DISPPARAMS* APDispParams, VARIANT* APVarResult,
                                     EXCEPINFO* APExcepInfo, UINT* APuArgErr) override {
        if (!FTypeInfo) return E_NOTIMPL;
        return DispInvoke(static_cast<Iox3server*>(this), FTypeInfo, ADispIdMember, AWFlags,
                          APDispParams, APVarResult, APExcepInfo, APuArgErr);
    }

    // Iox3server
    HRESULT STDMETHODCALLTYPE get_Version(LONG* AValue) override {
        if (AValue == nullptr) return E_POINTER;
        LogLine(L"Version");
        ExitIfAsked(L"Version");
        if (Options().VersionFails) return E_FAIL;
        *AValue = SIM_VERSION_NUMBER;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClosePatient(LONG* AResult) override {
        if (AResult == nullptr) return E_POINTER;
        LogLine(L"ClosePatient");
        ExitIfAsked(L"ClosePatient");
        *AResult = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SearchTStatus(LONG AFlags, LONG AIndex, LONG ADentistId,
                                            BSTR APatientId, BSTR* ATStatus,
                                            LONG* AResult) override {
        if (ATStatus == nullptr || AResult == nullptr) return E_POINTER;
        LogLine(L"SearchTStatus flags=" + Num(AFlags) + L" index=" + Num(AIndex) + L" dentist=" +
                Num(ADentistId) + L" patient=" + BstrText(APatientId));
        ExitIfAsked(L"SearchTStatus");
        *ATStatus = SysAllocString((L"status of " + BstrText(APatientId)).c_str());
        *AResult = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NewPatient(LONG AFlags, LONG AIndex, LONG ADentistId, BSTR APatientId,
                                         BSTR APatientIdSrc, BSTR AFirstName, BSTR ALastName,
                                         DATE ABirthDate, BSTR AGender, BSTR AStreet,
                                         BSTR APostalCode, BSTR ACity, BSTR ACountry,
                                         BSTR ATelephone, BSTR ATelefax, BSTR AEmail, BSTR ANotes,
                                         LONG* AResult) override {
        if (AResult == nullptr) return E_POINTER;
        LogLine(L"NewPatient" + PatientFields(AFlags, AIndex, ADentistId, APatientId, nullptr,
                                              APatientIdSrc, AFirstName, ALastName, ABirthDate,
                                              AGender, AStreet, APostalCode, ACity, ACountry,
                                              ATelephone, ATelefax, AEmail, ANotes));
        ExitIfAsked(L"NewPatient");
        *AResult = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NewPhoto(LONG AFlags, LONG AIndex, LONG ADentistId, BSTR APatientId,
                                       BSTR AToothPosition, BSTR APatientIdSrc, BSTR AFirstName,
                                       BSTR ALastName, DATE ABirthDate, BSTR AGender, BSTR AStreet,
                                       BSTR APostalCode, BSTR ACity, BSTR ACountry, BSTR ATelephone,
                                       BSTR ATelefax, BSTR AEmail, BSTR ANotes,
                                       LONG* AResult) override {
        if (AResult == nullptr) return E_POINTER;
        LogLine(L"NewPhoto" + PatientFields(AFlags, AIndex, ADentistId, APatientId, AToothPosition,
                                            APatientIdSrc, AFirstName, ALastName, ABirthDate,
                                            AGender, AStreet, APostalCode, ACity, ACountry,
                                            ATelephone, ATelefax, AEmail, ANotes));
        ExitIfAsked(L"NewPhoto");
        *AResult = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SearchPhotos(LONG AFlags, LONG AIndex, LONG ADentistId,
                                           BSTR APatientId, BSTR AToothPosition,
                                           LONG* AResult) override {
        if (AResult == nullptr) return E_POINTER;
        LogLine(L"SearchPhotos flags=" + Num(AFlags) + L" index=" + Num(AIndex) + L" dentist=" +
                Num(ADentistId) + L" patient=" + BstrText(APatientId) + L" tooth=" +
                BstrText(AToothPosition));
        ExitIfAsked(L"SearchPhotos");
        *AResult = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdminCommand(BSTR ACmd, BSTR* AReturnText, LONG* AResult) override {
        if (AReturnText == nullptr || AResult == nullptr) return E_POINTER;
        *AReturnText = nullptr;
        const std::wstring LCmd = BstrText(ACmd);
        LogLine(L"AdminCommand cmd=" + LCmd);
        ExitIfAsked(L"AdminCommand");
        std::wstring LText;
        const HRESULT LStatus = RunCommand(LCmd, *AResult, LText);
        if (SUCCEEDED(LStatus)) {
            *AReturnText = SysAllocStringLen(LText.data(), static_cast<UINT>(LText.size()));
        }
        return LStatus;
    }
    HRESULT STDMETHODCALLTYPE put_AppReturnWnd(LONG AValue) override {
        LogLine(L"AppReturnWnd value=" + Num(AValue));
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
    HRESULT STDMETHODCALLTYPE put_LastAdminLinkDLLPath(BSTR AValue) override {
        LogLine(L"LastAdminLinkDLLPath value=" + BstrText(AValue));
        ExitIfAsked(L"LastAdminLinkDLLPath");
        return S_OK;
    }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** APpEnum) override {
        if (APpEnum != nullptr) *APpEnum = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID ARiid, IConnectionPoint** APpCp) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID ARiid) override {
        return IsEqualIID(ARiid, IID_Iox3server) ? S_OK : S_FALSE;
    }

    // Connection point
    HRESULT Advise(IUnknown* ASink, DWORD* ACookie) {
        if (ASink == nullptr || ACookie == nullptr) return E_POINTER;
        *ACookie = 0;
        IDispatch* LDispatch = nullptr;
        if (FAILED(ASink->QueryInterface(DIID_Iox3serverEvents,
                                         reinterpret_cast<void**>(&LDispatch))) &&
            FAILED(ASink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&LDispatch)))) {
            LogLine(L"advise refused");
            return CONNECT_E_CANNOTCONNECT;
        }
        *ACookie = ++FLastCookie;
        FSinks.push_back({*ACookie, LDispatch});
        LogLine(L"advise cookie=" + Num(*ACookie));
        return S_OK;
    }
    HRESULT Unadvise(DWORD ACookie) {
        for (auto LIt = FSinks.begin(); LIt != FSinks.end(); ++LIt) {
            if (LIt->Cookie == ACookie) {
                IDispatch* LSink = LIt->Sink;
                FSinks.erase(LIt);
                LogLine(L"unadvise cookie=" + Num(ACookie));
                LSink->Release();
                if (Terminating() && FSinks.empty()) RequestExit();
                return S_OK;
            }
        }
        LogLine(L"unadvise cookie=" + Num(ACookie) + L" unknown");
        return CONNECT_E_NOCONNECTION;
    }

    // Calls every advised sink (a copy of the list: a sink may unadvise while it is called).
    void Fire(DISPID ADispId, const wchar_t* AName, std::vector<TArg> ARgs) {
        std::vector<TSink> LSinks = FSinks;
        for (auto& LSink : LSinks) LSink.Sink->AddRef();
        LogLine(std::wstring(L"event ") + AName + L" sinks=" +
                Num(static_cast<long long>(LSinks.size())));
        // Arguments go in reverse order: the last parameter first.
        std::vector<VARIANT> LReversed;
        for (auto LIt = ARgs.rbegin(); LIt != ARgs.rend(); ++LIt) LReversed.push_back(LIt->Get());
        DISPPARAMS LParams = {LReversed.empty() ? nullptr : LReversed.data(), nullptr,
                              static_cast<UINT>(LReversed.size()), 0};
        for (auto& LSink : LSinks) {
            const HRESULT LResult =
                LSink.Sink->Invoke(ADispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                   &LParams, nullptr, nullptr, nullptr);
            if (FAILED(LResult)) {
                LogLine(std::wstring(L"event ") + AName + L" cookie=" + Num(LSink.Cookie) +
                        L" failed=" + Hex(static_cast<unsigned long>(LResult)));
            }
            LSink.Sink->Release();
        }
    }

    bool FireSpec(const std::wstring& ASpec) {
        const std::vector<std::wstring> LHead = Split(ASpec, 2);
        const std::wstring& LKind = LHead[0];
        const std::wstring LRest = LHead.size() > 1 ? LHead[1] : L"";
        if (LKind == L"wakeup") {
            Fire(3, L"OnWakeUp", {});
        } else if (LKind == L"photo") {
            auto LP = Split(LRest, 6);
            LP.resize(6);
            Fire(1, L"OnNewPhoto",
                 {TArg(ToLong(LP[0])), TArg(ToLong(LP[1])), TArg(LP[2]), TArg(LP[3]),
                  TArg(ToLong(LP[4])), TArg(ToLong(LP[5]))});
        } else if (LKind == L"notes") {
            auto LP = Split(LRest, 5);
            LP.resize(5);
            Fire(4, L"OnAdminNotes",
                 {TArg(ToLong(LP[0])), TArg(LP[1]), TArg(LP[2]), TArg(LP[3]), TArg(LP[4])});
        } else if (LKind == L"request") {
            Fire(5, L"OnRequest", {TArg(LRest)});
        } else if (LKind == L"cmdready") {
            auto LP = Split(LRest, 2);
            LP.resize(2);
            Fire(2, L"OnCmdReady", {TArg(ToLong(LP[0])), TArg(LP[1])});
        } else if (LKind == L"raw") {
            auto LP = Split(LRest, 64);
            std::vector<TArg> LArgs;
            for (std::size_t LI = 1; LI < LP.size(); ++LI) LArgs.push_back(RawArg(LP[LI]));
            Fire(ToLong(LP[0]), L"raw", std::move(LArgs));
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

    static std::wstring PatientFields(LONG AFlags, LONG AIndex, LONG ADentistId, BSTR APatientId,
                                      BSTR AToothPosition, BSTR APatientIdSrc, BSTR AFirstName,
                                      BSTR ALastName, DATE ABirthDate, BSTR AGender, BSTR AStreet,
                                      BSTR APostalCode, BSTR ACity, BSTR ACountry, BSTR ATelephone,
                                      BSTR ATelefax, BSTR AEmail, BSTR ANotes) {
        wchar_t LDate[64];
        swprintf(LDate, 64, L"%.4f", ABirthDate);
        std::wstring LText = L" flags=" + Num(AFlags) + L" index=" + Num(AIndex) + L" dentist=" +
                             Num(ADentistId) + L" patient=" + BstrText(APatientId);
        if (AToothPosition != nullptr) LText += L" tooth=" + BstrText(AToothPosition);
        LText += L" src=" + BstrText(APatientIdSrc) + L" first=" + BstrText(AFirstName) +
                 L" last=" + BstrText(ALastName) + L" birth=" + LDate + L" gender=" +
                 BstrText(AGender) + L" street=" + BstrText(AStreet) + L" postal=" +
                 BstrText(APostalCode) + L" city=" + BstrText(ACity) + L" country=" +
                 BstrText(ACountry) + L" phone=" + BstrText(ATelephone) + L" fax=" +
                 BstrText(ATelefax) + L" email=" + BstrText(AEmail) + L" notes=" + BstrText(ANotes);
        return LText;
    }

    static void ExitIfAsked(const wchar_t* AMethod) {
        if (Options().ExitAfter == AMethod) RequestExit();
    }

    // The AdminCommand language (README.md). Returns the call's status code.
    HRESULT RunCommand(const std::wstring& ACmd, LONG& AResult, std::wstring& AText) {
        const std::vector<std::wstring> LHead = Split(ACmd, 2);
        const std::wstring& LVerb = LHead[0];
        const std::wstring LRest = LHead.size() > 1 ? LHead[1] : L"";
        AResult = 0;
        AText = L"ok: " + ACmd;
        if (LVerb == L"result") {
            auto LP = Split(LRest, 2);
            LP.resize(2);
            AResult = ToLong(LP[0]);
            AText = LP[1];
        } else if (LVerb == L"event") {
            if (!FireSpec(LRest)) {
                AResult = -1;
                AText = L"error: unknown event " + LRest;
            }
        } else if (LVerb == L"post") {
            auto* LSpec = new std::wstring(LRest);
            if (!PostMessageW(MainWindow(), WM_SIM_POSTED_EVENT, 0,
                              reinterpret_cast<LPARAM>(LSpec))) {
                delete LSpec;
                AResult = -1;
                AText = L"error: could not post";
            }
        } else if (LVerb == L"fail") {
            return Fail(LRest);
        } else if (LVerb == L"exit") {
            RequestExit();
        } else if (LVerb == L"openpatient") {
            FPatient = Field(LRest, L"1");
            AText = L"patient " + FPatient + L" opened";
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
            AText = L"image " + LImage + L" taken for patient " + FPatient;
        }
        return S_OK;
    }

    // The value of the field "Key~value" among the "|"-separated fields of Fields.
    static std::wstring Field(const std::wstring& AFields, const std::wstring& AKey) {
        for (const auto& LField : Split(AFields, 64)) {
            if (LField.rfind(AKey + L"~", 0) == 0) return LField.substr(AKey.size() + 1);
        }
        return {};
    }

    // fail|HRESULT[|DESCRIPTION[|SOURCE[|HELPFILE[|HELPCONTEXT]]]]: without a description field
    // no error information is set.
    static HRESULT Fail(const std::wstring& ASpec) {
        const std::vector<std::wstring> LP = Split(ASpec, 5);
        const HRESULT LCode = ToHresult(LP[0]);
        if (LP.size() < 2) {
            SetErrorInfo(0, nullptr);
            return LCode;
        }
        ICreateErrorInfo* LCreate = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&LCreate))) {
            LCreate->SetGUID(IID_Iox3server);
            LCreate->SetDescription(const_cast<LPOLESTR>(LP[1].c_str()));
            LCreate->SetSource(
                const_cast<LPOLESTR>(LP.size() > 2 ? LP[2].c_str() : L"imaging-sim"));
            if (LP.size() > 3) LCreate->SetHelpFile(const_cast<LPOLESTR>(LP[3].c_str()));
            if (LP.size() > 4) LCreate->SetHelpContext(static_cast<DWORD>(ToLong(LP[4])));
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
    explicit TSimConnectionPoint(TSimServer* AServer) : FServer(AServer) { FServer->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        if (APpv == nullptr) return E_POINTER;
        *APpv = nullptr;
        if (!IsEqualIID(ARiid, IID_IUnknown) && !IsEqualIID(ARiid, IID_IConnectionPoint)) {
            return E_NOINTERFACE;
        }
        *APpv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FRefCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* APIid) override {
        if (APIid == nullptr) return E_POINTER;
        *APIid = DIID_Iox3serverEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** APpCpc) override {
        if (APpCpc == nullptr) return E_POINTER;
        return FServer->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(APpCpc));
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* APUnkSink, DWORD* APdwCookie) override {
        return FServer->Advise(APUnkSink, APdwCookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD ADwCookie) override {
        return FServer->Unadvise(ADwCookie);
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** APpEnum) override {
        if (APpEnum != nullptr) *APpEnum = nullptr;
        return E_NOTIMPL;
    }

  private:
    ~TSimConnectionPoint() { FServer->Release(); }

    TSimServer* FServer;
    std::atomic<long> FRefCount{1};
};

class TSimClassFactory final : public IClassFactory {
  public:
    explicit TSimClassFactory(TSimServer* AServer) : FServer(AServer) {
        ServerInterface(FServer)->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        if (APpv == nullptr) return E_POINTER;
        *APpv = nullptr;
        if (!IsEqualIID(ARiid, IID_IUnknown) && !IsEqualIID(ARiid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *APpv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FRefCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long LCount = --FRefCount;
        if (LCount == 0) delete this;
        return static_cast<ULONG>(LCount);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* APUnkOuter, REFIID ARiid,
                                             void** APpv) override {
        if (APpv == nullptr) return E_POINTER;
        *APpv = nullptr;
        if (APUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        LogLine(L"CreateInstance");
        return ServerInterface(FServer)->QueryInterface(ARiid, APpv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    ~TSimClassFactory() { ServerInterface(FServer)->Release(); }

    TSimServer* FServer;
    std::atomic<long> FRefCount{1};
};

}  // namespace

HRESULT TSimServer::FindConnectionPoint(REFIID ARiid, IConnectionPoint** APpCp) {
    if (APpCp == nullptr) return E_POINTER;
    *APpCp = nullptr;
    if (!IsEqualIID(ARiid, DIID_Iox3serverEvents)) return CONNECT_E_NOCONNECTION;
    *APpCp = new TSimConnectionPoint(this);
    return S_OK;
}

TSimServer* CreateSimServer(ITypeInfo* ATypeInfo) {
    return new TSimServer(ATypeInfo);
}

Iox3server* ServerInterface(TSimServer* AServer) {
    return static_cast<Iox3server*>(AServer);
}

bool FireEventSpec(TSimServer* AServer, const std::wstring& ASpec) {
    return AServer->FireSpec(ASpec);
}

void DropSinks(TSimServer* AServer) {
    AServer->DropSinks();
}

IClassFactory* CreateSimClassFactory(TSimServer* AServer) {
    return new TSimClassFactory(AServer);
}

}  // namespace deruz::imagingsim
