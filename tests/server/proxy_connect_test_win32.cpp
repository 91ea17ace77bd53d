// Connecting and disconnecting the proxy against imaging-sim: running object, class
// activation, ConnectTo, the order of unadvise and release, and the connection errors.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "server/ox3server_proxy_win32.h"
#include "tests/server/sim_harness_win32.h"

namespace deruz::testing {
namespace {

using server::ComPtr;
using server::CServerData;
using server::Tox3server;

constexpr char kClassIdTail[] = ", ClassID: {56D7310D-E9A8-108B-A830-CD14D0517F8A}";

// Stands between the proxy and a real server object: it passes the connection point through,
// can hide Iox3server, and reports its last release (when the proxy drops the interface).
class TWrappedServer final : public Iox3server {
  public:
    TWrappedServer(IUnknown* AInner, bool AHideIntf, std::function<void()> AOnReleased)
        : FInner(AInner), FHideIntf(AHideIntf), FOnReleased(std::move(AOnReleased)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        *APpv = nullptr;
        if (IsEqualIID(ARiid, IID_IConnectionPointContainer)) {
            return FInner->QueryInterface(ARiid, APpv);
        }
        if (IsEqualIID(ARiid, IID_IUnknown) ||
            (!FHideIntf &&
             (IsEqualIID(ARiid, IID_IDispatch) || IsEqualIID(ARiid, IID_Iox3server)))) {
            *APpv = static_cast<Iox3server*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefCount; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG LCount = --FRefCount;
        if (LCount == 0) {
            if (FOnReleased) FOnReleased();
            delete this;
        }
        return LCount;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Version(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClosePatient(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SearchTStatus(LONG, LONG, LONG, BSTR, BSTR*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE NewPatient(LONG, LONG, LONG, BSTR, BSTR, BSTR, BSTR, DATE, BSTR, BSTR,
                                         BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE NewPhoto(LONG, LONG, LONG, BSTR, BSTR, BSTR, BSTR, BSTR, DATE, BSTR,
                                       BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR,
                                       LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SearchPhotos(LONG, LONG, LONG, BSTR, BSTR, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdminCommand(BSTR, BSTR*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AppReturnWnd(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Terminate() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LastAdminLinkDLLPath(BSTR) override { return E_NOTIMPL; }

  private:
    ~TWrappedServer() = default;

    ComPtr<IUnknown> FInner;
    bool FHideIntf;
    std::function<void()> FOnReleased;
    ULONG FRefCount = 1;
};

// A proxy whose server object is given to it instead of looked up.
class TGivenServerProxy : public Tox3server {
  public:
    explicit TGivenServerProxy(IUnknown* AServer) : FServer(AServer) {}

  protected:
    ComPtr<IUnknown> GetServer() override { return FServer; }

  private:
    ComPtr<IUnknown> FServer;
};

// A proxy whose Connect never connects.
class TNeverConnectingProxy : public Tox3server {
  public:
    void Connect() override {}
};

ComPtr<Iox3server> ServerOf(TSim& ASim) {
    ComPtr<Iox3server> LServer;
    const THandover LHandover = RequestHandover(ASim.Window());
    EXPECT_EQ(UnmarshalServer(LHandover.Data, LServer), S_OK);
    return LServer;
}

TEST(ProxyConnect, FindsTheRunningObjectAndConnectsOnlyOnce) {
    TSim LSim(TSim::TStart{});
    Tox3server LProxy;
    LProxy.Connect();
    EXPECT_EQ(LProxy.EventsConnection(), 1u);
    const ComPtr<Iox3server> LFirst = LProxy.GetDefaultInterface();
    LProxy.Connect();
    EXPECT_EQ(LProxy.GetDefaultInterface().Get(), LFirst.Get());
    EXPECT_EQ(LProxy.Get_Version(), 600);
    EXPECT_EQ(LSim.Log().Count("advise"), 1);
    EXPECT_FALSE(LSim.Log().Has("CreateInstance"));  // the running object, not a new one
}

TEST(ProxyConnect, StartsTheServerThroughItsClassWhenNoneRuns) {
    {
        const TSim LRegistrar(TSim::TStart{});  // a normal start registers the local server
    }
    TSim LSim;
    const TSimEnvironment LEnvironment(LSim.Log().Path(), L"");
    Tox3server LProxy;
    LProxy.Connect();
    const std::vector<DWORD> LPids = LSim.Log().Pids();
    ASSERT_EQ(LPids.size(), 1u) << LSim.Log().Text();
    LSim.Adopt(LPids[0]);
    EXPECT_TRUE(LSim.Log().Has("CreateInstance"));
    EXPECT_NE(LSim.Log().Lines()[0].find("Embedding"), std::string::npos) << LSim.Log().Text();
    EXPECT_EQ(LProxy.EventsConnection(), 1u);
    std::wstring LText;
    EXPECT_EQ(LProxy.AdminCommand(L"hello", LText), 0);
    EXPECT_EQ(LText, L"ok: hello");
}

TEST(ProxyConnect, ConnectToUnadvisesAndDropsTheOldServer) {
    TSim LFirst(TSim::TStart{});
    Tox3server LProxy;
    LProxy.Connect();
    ASSERT_TRUE(LFirst.Log().Has("advise cookie=1"));

    TSim LSecond(TSim::TStart{});
    ComPtr<Iox3server> LOther = ServerOf(LSecond);
    ASSERT_TRUE(LOther);
    LProxy.ConnectTo(LOther.Get());
    LOther.Reset();  // the proxy holds its own reference
    EXPECT_TRUE(LFirst.Log().Has("unadvise cookie=1"));
    EXPECT_TRUE(LSecond.Log().Has("advise cookie=1"));
    EXPECT_EQ(LProxy.EventsConnection(), 1u);

    std::wstring LText;
    EXPECT_EQ(LProxy.AdminCommand(L"to the second", LText), 0);
    EXPECT_TRUE(LSecond.Log().Has("AdminCommand cmd=to the second"));
    EXPECT_FALSE(LFirst.Log().Has("AdminCommand"));
}

TEST(ProxyConnect, DisconnectAndDestructionUnadviseBeforeReleasing) {
    for (const bool LDestroy : {false, true}) {
        SCOPED_TRACE(LDestroy ? "destruction" : "Disconnect");
        TSim LSim(TSim::TStart{});
        bool LReleased = false, LUnadvisedFirst = false;
        auto* LWrapped = new TWrappedServer(ServerOf(LSim).Get(), false, [&] {
            LReleased = true;
            LUnadvisedFirst = LSim.Log().Has("unadvise cookie=1");
        });
        auto LProxy = std::make_unique<Tox3server>();
        LProxy->ConnectTo(LWrapped);
        LWrapped->Release();
        ASSERT_TRUE(LSim.Log().Has("advise cookie=1"));
        ASSERT_FALSE(LReleased);
        if (LDestroy) {
            LProxy.reset();
        } else {
            LProxy->Disconnect();
            EXPECT_EQ(LProxy->EventsConnection(), 0u);
        }
        EXPECT_TRUE(LReleased);
        EXPECT_TRUE(LUnadvisedFirst);
    }
}

TEST(ProxyConnect, InstanceCountFollowsConstructionAndDestruction) {
    const std::int32_t LBase = CServerData.InstanceCount;
    {
        Tox3server LOne;
        EXPECT_EQ(CServerData.InstanceCount, LBase + 1);
        {
            Tox3server LTwo;
            EXPECT_EQ(CServerData.InstanceCount, LBase + 2);
        }
        EXPECT_EQ(CServerData.InstanceCount, LBase + 1);
    }
    EXPECT_EQ(CServerData.InstanceCount, LBase);
}

TEST(ProxyConnect, NoServerToBeFoundGivesTheSystemTextAndTheClassId) {
    // regclass=none: no running object, and the class registration is removed.
    TSim LSim(TSim::TStart{.Options = L"regclass=none"});
    Tox3server LProxy;
    try {
        LProxy.GetDefaultInterface();
        FAIL() << "connected";
    } catch (const server::EOleSysError& LE) {
        EXPECT_EQ(LE.ErrorCode(), REGDB_E_CLASSNOTREG);
        std::string LExpected = SystemText(REGDB_E_CLASSNOTREG);
        if (LExpected.empty()) LExpected = "OLE error 80040154";
        EXPECT_EQ(std::string(LE.what()), LExpected + kClassIdTail);
    }
    std::wstring LText = L"stale";
    EXPECT_THROW(LProxy.AdminCommand(L"x", LText), server::EOleSysError);
    EXPECT_TRUE(LText.empty());
}

TEST(ProxyConnect, ServerWithoutTheInterfaceIsRefusedAndLeftUnadvised) {
    TSim LSim(TSim::TStart{});
    auto* LWrapped = new TWrappedServer(ServerOf(LSim).Get(), true, nullptr);
    TGivenServerProxy LProxy(LWrapped);
    LWrapped->Release();
    try {
        LProxy.Connect();
        FAIL() << "connected";
    } catch (const server::EIntfCastError& LE) {
        EXPECT_STREQ(LE.what(), "Interface not supported");
    }
    EXPECT_EQ(LProxy.EventsConnection(), 0u);
    const int LAdvise = LSim.Log().Find("advise cookie=1");
    EXPECT_GE(LAdvise, 0);
    EXPECT_GT(LSim.Log().Find("unadvise cookie=1"), LAdvise);
    // Still unconnected: the next use tries again and fails the same way.
    EXPECT_THROW(LProxy.GetDefaultInterface(), server::EIntfCastError);
}

TEST(ProxyConnect, UnconnectedProxyRaisesTheAssertionText) {
    TNeverConnectingProxy LProxy;
    try {
        LProxy.Get_Version();
        FAIL() << "no error";
    } catch (const server::EAssertionFailed& LE) {
        EXPECT_STREQ(LE.what(),
                     "DefaultInterface is NULL. Component is not connected to Server. You must "
                     "call 'Connect' or 'ConnectTo' before this operation");
    }
}

}  // namespace
}  // namespace deruz::testing
