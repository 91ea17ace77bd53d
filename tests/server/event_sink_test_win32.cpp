// Events: the five events fired by imaging-sim (during a call and posted), and the sink's
// Invoke called directly with argument layouts, unknown DISPIDs, missing and unconvertible
// arguments, empty slots, and a proxy that is gone.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/ox3server_proxy_win32.h"
#include "tests/server/sim_harness_win32.h"

namespace deruz::testing {
namespace {

using server::ComPtr;
using server::Tox3server;

// Records every event of a proxy as one line of text, and every error stopped in the sink.
class TRecorder {
  public:
    void Attach(Tox3server& AProxy) {
        AProxy.OnNewPhoto = [this](Tox3server&, std::int32_t APhotoType, std::int32_t ADentistId,
                                   const std::wstring& APatientId, const std::wstring& APhotoId,
                                   std::int32_t AQuadrant, std::int32_t AElement) {
            Add("photo " + std::to_string(APhotoType) + " " + std::to_string(ADentistId) + " " +
                Utf8(APatientId) + " " + Utf8(APhotoId) + " " + std::to_string(AQuadrant) + " " +
                std::to_string(AElement));
        };
        AProxy.OnCmdReady = [this](Tox3server&, std::int32_t AResultValue,
                                   const std::wstring& AResultText) {
            Add("cmdready " + std::to_string(AResultValue) + " " + Utf8(AResultText));
        };
        AProxy.OnWakeUp = [this](Tox3server&) { Add("wakeup"); };
        AProxy.OnAdminNotes = [this](Tox3server&, std::int32_t ADentistId,
                                     const std::wstring& APatientId,
                                     const std::wstring& AToothPosition, const std::wstring& ACode,
                                     const std::wstring& ANotes) {
            Add("notes " + std::to_string(ADentistId) + " " + Utf8(APatientId) + " " +
                Utf8(AToothPosition) + " " + Utf8(ACode) + " " + Utf8(ANotes));
        };
        AProxy.OnRequest = [this](Tox3server&, const std::wstring& ACmd) {
            Add("request " + Utf8(ACmd));
        };
        AProxy.OnEventError = [this](Tox3server&, DISPID ADispId, const std::string& AMessage) {
            Errors.push_back(std::to_string(ADispId) + ": " + AMessage);
        };
    }
    void Clear() {
        Events.clear();
        Errors.clear();
    }

    std::vector<std::string> Events;
    std::vector<std::string> Errors;
    bool InCall = false;

  private:
    void Add(const std::string& AEvent) { Events.push_back(AEvent + (InCall ? " [in call]" : "")); }
};

// --- Events fired by imaging-sim ------------------------------------------------------------

class SimEventTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FRecorder.Attach(FProxy);
        FProxy.Connect();
    }
    std::int32_t Command(const std::wstring& ACmd) {
        std::wstring LText;
        FRecorder.InCall = true;
        const std::int32_t LResult = FProxy.AdminCommand(ACmd, LText);
        FRecorder.InCall = false;
        EXPECT_EQ(LText, L"ok: " + ACmd);
        return LResult;
    }

    TSim FSim{TSim::TStart{}};
    Tox3server FProxy;
    TRecorder FRecorder;
};

struct TSimEvent {
    const wchar_t* Spec;
    const char* Event;
};

const TSimEvent kSimEvents[] = {
    {L"wakeup", "wakeup"},
    {L"photo|1|22|P-7|IMG-9|3|4", "photo 1 22 P-7 IMG-9 3 4"},
    {L"notes|5|P-1|18|C1|Ünal: filling | checked", "notes 5 P-1 18 C1 Ünal: filling | checked"},
    {L"request|open|patient|42", "request open|patient|42"},
    {L"cmdready|-5|done", "cmdready -5 done"},
};

TEST_F(SimEventTest, EachEventArrivesDuringTheCallThatFiredIt) {
    for (const TSimEvent& LCase : kSimEvents) {
        SCOPED_TRACE(Utf8(LCase.Spec));
        FRecorder.Clear();
        EXPECT_EQ(Command(std::wstring(L"event|") + LCase.Spec), 0);
        EXPECT_EQ(FRecorder.Events,
                  std::vector<std::string>{std::string(LCase.Event) + " [in call]"});
        EXPECT_TRUE(FRecorder.Errors.empty());
    }
    EXPECT_TRUE(FSim.Log().Has("event OnNewPhoto sinks=1"));
}

TEST_F(SimEventTest, PostedEventsArriveWhileMessagesArePumped) {
    for (const TSimEvent& LCase : kSimEvents) {
        SCOPED_TRACE(Utf8(LCase.Spec));
        FRecorder.Clear();
        EXPECT_EQ(Command(std::wstring(L"post|") + LCase.Spec), 0);
        // The server fires it after answering; it usually arrives while the caller pumps, but
        // may already be dispatched while COM takes the answer in (the caller then is still
        // inside the call): either way it arrives once, with its arguments.
        EXPECT_TRUE(PumpUntil([&] { return !FRecorder.Events.empty(); }));
        ASSERT_EQ(FRecorder.Events.size(), 1u);
        std::string LEvent = FRecorder.Events[0];
        const std::string LInCall = " [in call]";
        if (LEvent.size() > LInCall.size() &&
            LEvent.compare(LEvent.size() - LInCall.size(), LInCall.size(), LInCall) == 0) {
            LEvent.resize(LEvent.size() - LInCall.size());
        }
        EXPECT_EQ(LEvent, LCase.Event);
    }
}

TEST_F(SimEventTest, ArgumentsSentAsOtherTypesAreConvertedOrRefused) {
    struct TCase {
        const wchar_t* Spec;
        std::vector<std::string> Events;
        std::vector<std::string> Errors;
    };
    const TCase LCases[] = {
        {L"raw|2|s:42|r:2", {"cmdready 42 2"}, {}},
        {L"raw|3|i:1|i:2", {"wakeup"}, {}},  // more arguments than parameters
        {L"raw|2|i:7", {}, {"2: Range check error"}},
        {L"raw|2|s:abc|s:x",
         {},
         {"2: Could not convert variant of type (OleStr) into type (Integer)"}},
        {L"raw|2|r:3e9|s:x",
         {},
         {"2: Overflow while converting variant of type (Double) into type (Integer)"}},
        {L"raw|5|null", {}, {"5: Could not convert variant of type (Null) into type (OleStr)"}},
        {L"raw|0|i:1", {}, {}},
        {L"raw|6|i:1|s:x", {}, {}},
        {L"raw|-1", {}, {}},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(Utf8(LCase.Spec));
        FRecorder.Clear();
        EXPECT_EQ(Command(std::wstring(L"event|") + LCase.Spec), 0);
        std::vector<std::string> LExpected;
        for (const std::string& LEvent : LCase.Events) LExpected.push_back(LEvent + " [in call]");
        EXPECT_EQ(FRecorder.Events, LExpected);
        EXPECT_EQ(FRecorder.Errors, LCase.Errors);
    }
    EXPECT_FALSE(FSim.Log().Has("event raw cookie"));  // the sink answered S_OK every time
}

// --- The sink called directly ----------------------------------------------------------------

// An owned VARIANT for building DISPPARAMS.
class TVar {
  public:
    TVar() { VariantInit(&FValue); }
    TVar(const TVar& AOther) : TVar() {
        VariantCopy(&FValue, const_cast<VARIANT*>(&AOther.FValue));
    }
    TVar& operator=(const TVar&) = delete;
    ~TVar() { VariantClear(&FValue); }

    static TVar Int(LONG AValue) {
        TVar LVar;
        LVar.FValue.vt = VT_I4;
        LVar.FValue.lVal = AValue;
        return LVar;
    }
    static TVar Text(const wchar_t* AValue) {
        TVar LVar;
        LVar.FValue.vt = VT_BSTR;
        LVar.FValue.bstrVal = AValue ? SysAllocString(AValue) : nullptr;
        return LVar;
    }
    static TVar Real(double AValue) {
        TVar LVar;
        LVar.FValue.vt = VT_R8;
        LVar.FValue.dblVal = AValue;
        return LVar;
    }
    static TVar Bool(bool AValue) {
        TVar LVar;
        LVar.FValue.vt = VT_BOOL;
        LVar.FValue.boolVal = AValue ? VARIANT_TRUE : VARIANT_FALSE;
        return LVar;
    }
    static TVar OfType(VARTYPE AType) {
        TVar LVar;
        LVar.FValue.vt = AType;
        if (AType == VT_ERROR) LVar.FValue.scode = DISP_E_PARAMNOTFOUND;
        return LVar;
    }
    // A reference to a LONG that outlives the call.
    static TVar IntRef(LONG* AValue) {
        TVar LVar;
        LVar.FValue.vt = VT_BYREF | VT_I4;
        LVar.FValue.plVal = AValue;
        return LVar;
    }
    static TVar IntArray() {
        TVar LVar;
        LVar.FValue.vt = VT_ARRAY | VT_I4;
        LVar.FValue.parray = SafeArrayCreateVector(VT_I4, 0, 2);
        return LVar;
    }
    const VARIANT& Get() const { return FValue; }

  private:
    VARIANT FValue;
};

// Invokes with the arguments as they stand in DISPPARAMS (rgvarg order) and the named ids.
HRESULT Invoke(IDispatch* ASink, DISPID ADispId, const std::vector<TVar>& ARgs,
               std::vector<DISPID> ANamed = {}) {
    std::vector<VARIANT> LArgs;
    for (const TVar& LArg : ARgs) LArgs.push_back(LArg.Get());  // borrowed, not owned
    DISPPARAMS LParams = {LArgs.empty() ? nullptr : LArgs.data(),
                          ANamed.empty() ? nullptr : ANamed.data(), static_cast<UINT>(LArgs.size()),
                          static_cast<UINT>(ANamed.size())};
    return ASink->Invoke(ADispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &LParams, nullptr,
                         nullptr, nullptr);
}

class SinkTest : public ::testing::Test {
  protected:
    void SetUp() override { FRecorder.Attach(FProxy); }

    Tox3server FProxy;
    TRecorder FRecorder;
    IDispatch* FSink = FProxy.EventDispatch();
};

TEST_F(SinkTest, ArgumentsComeInReverseOrderOrAtTheirNamedPositions) {
    struct TCase {
        const char* Name;
        DISPID DispID;
        std::vector<TVar> Args;
        std::vector<DISPID> Named;
        const char* Event;
    };
    const TCase LCases[] = {
        {"positional", 2, {TVar::Text(L"text"), TVar::Int(9)}, {}, "cmdready 9 text"},
        {"named in order", 2, {TVar::Int(9), TVar::Text(L"text")}, {0, 1}, "cmdready 9 text"},
        {"named reversed", 2, {TVar::Text(L"text"), TVar::Int(9)}, {1, 0}, "cmdready 9 text"},
        {"named then positional",
         1,
         {TVar::Int(6), TVar::Int(5), TVar::Text(L"PH"), TVar::Text(L"P"), TVar::Int(2),
          TVar::Int(1)},
         {5, 4},
         "photo 1 2 P PH 5 6"},
        {"all five of the notes",
         4,
         {TVar::Text(L"n"), TVar::Text(L"c"), TVar::Text(L"t"), TVar::Text(L"p"), TVar::Int(3)},
         {},
         "notes 3 p t c n"},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        FRecorder.Clear();
        EXPECT_EQ(Invoke(FSink, LCase.DispID, LCase.Args, LCase.Named), S_OK);
        EXPECT_EQ(FRecorder.Events, std::vector<std::string>{LCase.Event});
        EXPECT_TRUE(FRecorder.Errors.empty());
    }
}

TEST_F(SinkTest, UnknownDispidsAreAcceptedAndIgnored) {
    for (const DISPID LDispID : {DISPID_UNKNOWN, 0, 6, 100, -5}) {
        SCOPED_TRACE(LDispID);
        EXPECT_EQ(Invoke(FSink, LDispID, {TVar::Text(L"x"), TVar::Int(1)}), S_OK);
    }
    EXPECT_TRUE(FRecorder.Events.empty());
    EXPECT_TRUE(FRecorder.Errors.empty());
}

TEST_F(SinkTest, ConvertsWithTheVariantRules) {
    LONG LReferenced = 77;
    struct TCase {
        const char* Name;
        DISPID DispID;
        std::vector<TVar> Args;  // rgvarg order: last parameter first
        const char* Event;
    };
    const TCase LCases[] = {
        {"text to integer", 2, {TVar::Text(L"x"), TVar::Text(L" 42")}, "cmdready 42 x"},
        {"integer to text", 5, {TVar::Int(-12)}, "request -12"},
        {"real rounds", 2, {TVar::Real(2), TVar::Real(2.6)}, "cmdready 3 2"},
        {"boolean", 2, {TVar::Text(L"b"), TVar::Bool(true)}, "cmdready -1 b"},
        {"empty", 2, {TVar(), TVar()}, "cmdready 0 "},
        {"null string", 5, {TVar::Text(nullptr)}, "request "},
        {"by reference", 2, {TVar::Text(L"r"), TVar::IntRef(&LReferenced)}, "cmdready 77 r"},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        FRecorder.Clear();
        EXPECT_EQ(Invoke(FSink, LCase.DispID, LCase.Args), S_OK);
        EXPECT_EQ(FRecorder.Events, std::vector<std::string>{LCase.Event});
        EXPECT_TRUE(FRecorder.Errors.empty()) << FRecorder.Errors[0];
    }
    EXPECT_EQ(LReferenced, 77);
}

TEST_F(SinkTest, MissingOrUnconvertibleArgumentsStopTheEventBeforeItsHandler) {
    struct TCase {
        const char* Name;
        DISPID DispID;
        std::vector<TVar> Args;
        std::vector<DISPID> Named;
        const char* Error;
    };
    const TCase LCases[] = {
        {"one of two", 2, {TVar::Int(1)}, {}, "2: Range check error"},
        {"five of six",
         1,
         {TVar::Int(3), TVar::Text(L"ph"), TVar::Text(L"p"), TVar::Int(2), TVar::Int(1)},
         {},
         "1: Range check error"},
        {"none of one", 5, {}, {}, "5: Range check error"},
        {"named position outside",
         2,
         {TVar::Int(1), TVar::Text(L"t")},
         {0, 7},
         "2: Range check error"},
        {"text that is no number",
         2,
         {TVar::Text(L"t"), TVar::Text(L"12x")},
         {},
         "2: Could not convert variant of type (OleStr) into type (Integer)"},
        {"too large",
         2,
         {TVar::Text(L"t"), TVar::Real(1e10)},
         {},
         "2: Overflow while converting variant of type (Double) into type (Integer)"},
        {"null as text",
         2,
         {TVar::OfType(VT_NULL), TVar::Int(1)},
         {},
         "2: Could not convert variant of type (Null) into type (OleStr)"},
        {"error value",
         4,
         {TVar::Text(L"n"), TVar::Text(L"c"), TVar::Text(L"t"), TVar::Text(L"p"),
          TVar::OfType(VT_ERROR)},
         {},
         "4: Could not convert variant of type (Error) into type (Integer)"},
        {"array",
         2,
         {TVar::Text(L"t"), TVar::IntArray()},
         {},
         "2: Could not convert variant of type (Array Integer) into type (Integer)"},
        // The first argument that fails decides, in parameter order.
        {"first failure wins",
         2,
         {TVar::OfType(VT_NULL), TVar::Text(L"x")},
         {},
         "2: Could not convert variant of type (OleStr) into type (Integer)"},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        FRecorder.Clear();
        EXPECT_EQ(Invoke(FSink, LCase.DispID, LCase.Args, LCase.Named), S_OK);
        EXPECT_TRUE(FRecorder.Events.empty());
        EXPECT_EQ(FRecorder.Errors, std::vector<std::string>{LCase.Error});
    }
}

TEST_F(SinkTest, EmptySlotsAcceptAnything) {
    Tox3server LBare;
    std::vector<std::string> LErrors;
    LBare.OnEventError = [&](Tox3server&, DISPID, const std::string& AMessage) {
        LErrors.push_back(AMessage);
    };
    IDispatch* LSink = LBare.EventDispatch();
    for (DISPID LDispID = 1; LDispID <= 5; ++LDispID) {
        EXPECT_EQ(Invoke(LSink, LDispID, {}), S_OK);
        EXPECT_EQ(Invoke(LSink, LDispID, {TVar::OfType(VT_NULL), TVar::IntArray()}), S_OK);
    }
    EXPECT_TRUE(LErrors.empty());
}

TEST_F(SinkTest, ErrorsOfHandlersStayInsideTheSink) {
    FProxy.OnWakeUp = [](Tox3server&) { throw std::runtime_error("handler failed"); };
    FProxy.OnRequest = [](Tox3server&, const std::wstring&) { throw 42; };
    EXPECT_EQ(Invoke(FSink, 3, {}), S_OK);
    EXPECT_EQ(Invoke(FSink, 5, {TVar::Text(L"x")}), S_OK);
    EXPECT_EQ(FRecorder.Errors,
              (std::vector<std::string>{"3: handler failed", "5: Unknown error"}));
}

TEST_F(SinkTest, MalformedParametersAreRefusedAndNoneMeansNoArguments) {
    DISPPARAMS LNoArray = {nullptr, nullptr, 2, 0};
    EXPECT_EQ(FSink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &LNoArray, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    VARIANT LOne;
    VariantInit(&LOne);
    DISPPARAMS LMoreNamedThanArgs = {&LOne, nullptr, 1, 2};
    EXPECT_EQ(FSink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &LMoreNamedThanArgs, nullptr, nullptr,
                            nullptr),
              E_INVALIDARG);
    EXPECT_EQ(FSink->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(FRecorder.Events, std::vector<std::string>{"wakeup"});
}

TEST_F(SinkTest, AnswersItsInterfacesAndMirrorsItsCountOnTheProxy) {
    EXPECT_EQ(FProxy.RefCount(), 0);
    for (const IID& LIid : {IID_IUnknown, IID_IDispatch, DIID_Iox3serverEvents}) {
        ComPtr<IUnknown> LUnknown;
        ASSERT_EQ(FSink->QueryInterface(LIid, reinterpret_cast<void**>(LUnknown.GetAddressOf())),
                  S_OK);
        EXPECT_EQ(LUnknown.Get(), static_cast<IUnknown*>(FSink));
        EXPECT_EQ(FProxy.RefCount(), 1);
    }
    EXPECT_EQ(FProxy.RefCount(), 0);
    void* LOther = reinterpret_cast<void*>(1);
    EXPECT_EQ(FSink->QueryInterface(IID_IConnectionPoint, &LOther), E_NOINTERFACE);
    EXPECT_EQ(LOther, nullptr);

    UINT LCount = 7;
    EXPECT_EQ(FSink->GetTypeInfoCount(&LCount), S_OK);
    EXPECT_EQ(LCount, 0u);
    ITypeInfo* LInfo = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(FSink->GetTypeInfo(0, 0, &LInfo), E_NOTIMPL);
    EXPECT_EQ(LInfo, nullptr);
    LPOLESTR LName = const_cast<LPOLESTR>(L"OnWakeUp");
    DISPID LDispID = 0;
    EXPECT_EQ(FSink->GetIDsOfNames(IID_NULL, &LName, 1, 0, &LDispID), E_NOTIMPL);
}

TEST(Sink, EventsAfterTheProxyIsGoneAreAcceptedAndIgnored) {
    bool LCalled = false;
    auto LProxy = std::make_unique<Tox3server>();
    LProxy->OnWakeUp = [&](Tox3server&) { LCalled = true; };
    ComPtr<IDispatch> LSink = LProxy->EventDispatch();  // a reference of our own, as a server's
    LProxy.reset();
    EXPECT_EQ(Invoke(LSink.Get(), 3, {}), S_OK);
    EXPECT_FALSE(LCalled);
    ComPtr<IUnknown> LEvents;
    EXPECT_EQ(LSink->QueryInterface(DIID_Iox3serverEvents,
                                    reinterpret_cast<void**>(LEvents.GetAddressOf())),
              E_NOINTERFACE);
}

}  // namespace
}  // namespace deruz::testing
