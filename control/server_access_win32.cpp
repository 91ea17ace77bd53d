// Reaching the imaging application's automation server on Windows: the shared-memory
// hand-over of the server interface, and the COM proxy behind the control's connection.
#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

#include "control/control_platform.h"
#include "control/ondarix_control.h"
#include "logging/base/strings.h"
#include "server/ox3server_proxy_win32.h"
#include "systools/wide_text.h"

namespace deruz::control {

namespace {

using Microsoft::WRL::ComPtr;

// Closes a kernel handle, unmaps a view or frees global memory on every way out.
struct THandleCloser {
    HANDLE Handle;
    ~THandleCloser() { CloseHandle(Handle); }
};
struct TViewUnmapper {
    const void* View;
    ~TViewUnmapper() { UnmapViewOfFile(View); }
};
struct TGlobalFree {
    HGLOBAL Memory;
    ~TGlobalFree() { GlobalFree(Memory); }
};

std::wstring SystemText(DWORD ACode) {
    return systools::WideFromUtf8(logging::SiSystemMessage(ACode));
}

// An interface reference unmarshalled from the block.
class TWinServerInterface final : public TServerInterface {
  public:
    ComPtr<Iox3server> Intf;
};

// The connection over the COM proxy. Events are forwarded with this connection as sender.
class TOx3Connection final : public TServerConnection {
  public:
    void Connect() override { FProxy->Connect(); }
    void ConnectTo(std::unique_ptr<TServerInterface> AIntf) override {
        auto* LHanded = dynamic_cast<TWinServerInterface*>(AIntf.get());
        FProxy->ConnectTo(LHanded != nullptr ? LHanded->Intf.Get() : nullptr);
        // The local reference goes with Intf; the proxy holds its own.
    }
    void Disconnect() override { FProxy->Disconnect(); }
    void SetEvents(TServerEvents* AHandler) override {
        server::Tox3server& LProxy = *FProxy;
        if (AHandler == nullptr) {
            LProxy.OnWakeUp = nullptr;
            LProxy.OnCmdReady = nullptr;
            LProxy.OnAdminNotes = nullptr;
            LProxy.OnNewPhoto = nullptr;
            LProxy.OnRequest = nullptr;
            return;
        }
        LProxy.OnWakeUp = [this, AHandler](server::Tox3server&) { AHandler->OnWakeup(*this); };
        LProxy.OnCmdReady = [this, AHandler](server::Tox3server&, std::int32_t AValue,
                                             const std::wstring& AText) {
            AHandler->OnCmdReady(*this, AValue, AText);
        };
        LProxy.OnAdminNotes = [this, AHandler](server::Tox3server&, std::int32_t ADentistId,
                                               const std::wstring& APatientId,
                                               const std::wstring& AToothPosition,
                                               const std::wstring& ACode,
                                               const std::wstring& ANotes) {
            AHandler->OnAdminNotes(*this, ADentistId, APatientId, AToothPosition, ACode, ANotes);
        };
        LProxy.OnNewPhoto =
            [this, AHandler](server::Tox3server&, std::int32_t APhotoType, std::int32_t ADentistId,
                             const std::wstring& APatientId, const std::wstring& APhotoId,
                             std::int32_t AQuadrant, std::int32_t AElement) {
                AHandler->OnNewPhoto(*this, APhotoType, ADentistId, APatientId, APhotoId, AQuadrant,
                                     AElement);
            };
        LProxy.OnRequest = [this, AHandler](server::Tox3server&, const std::wstring& ACmd) {
            AHandler->OnRequest(*this, ACmd);
        };
    }
    std::int32_t Version() override { return FProxy->Get_Version(); }
    std::int32_t AdminCommand(const std::wstring& ACmd, std::wstring& AReturnText) override {
        return FProxy->AdminCommand(ACmd, AReturnText);
    }
    void SetAppReturnWnd(std::int32_t AValue) override { FProxy->Set_AppReturnWnd(AValue); }
    void SetLastAdminLinkDLLPath(const std::wstring& AValue) override {
        FProxy->Set_LastAdminLinkDLLPath(AValue);
    }
    void Terminate() override { FProxy->Terminate(); }

  private:
    std::unique_ptr<server::Tox3server> FProxy = std::make_unique<server::Tox3server>();
};

class TWinServerAccess final : public TServerAccess {
  public:
    std::unique_ptr<TServerInterface> FetchMarshalled(TWindowHandle AOxWnd,
                                                      std::uint32_t APid) override {
        const std::wstring LName = L"Ox3Server" + std::to_wstring(APid);
        const HANDLE LBlock = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 SharedBlockSize, LName.c_str());
        if (LBlock == nullptr) throw EControlError(L"Failed to create shared memory");
        THandleCloser LCloseBlock{LBlock};

        const LRESULT LAnswer =
            SendMessageW(reinterpret_cast<HWND>(AOxWnd), WM_GETOX3SERVER, APid, 0);
        if (LAnswer < INT32_MIN || LAnswer > INT32_MAX) throw RangeCheckError();
        if (LAnswer < 0) {
            throw EControlError(L"Ondarix returned error " +
                                SystemText(static_cast<DWORD>(static_cast<std::int32_t>(LAnswer))));
        }

        const void* LView = MapViewOfFile(LBlock, FILE_MAP_READ, 0, 0, 0);
        if (LView == nullptr) throw EControlError(L"Failed to map shared memory");
        TViewUnmapper LUnmapView{LView};

        // The block may be smaller than asked for: a mapping of that name that already
        // existed (made by another process) is opened as it is. What can be read is what
        // the view really spans, at most the block's size.
        MEMORY_BASIC_INFORMATION LRegion{};
        if (VirtualQuery(LView, &LRegion, sizeof LRegion) < sizeof LRegion ||
            LRegion.RegionSize < 2) {
            throw EControlError(L"Failed to map shared memory");
        }
        const std::size_t LCapacity =
            std::min<std::size_t>(SharedBlockSize, LRegion.RegionSize) - 2;

        const auto* LBytes = static_cast<const std::uint8_t*>(LView);
        const std::size_t LSize = LBytes[0] | (static_cast<std::size_t>(LBytes[1]) << 8);
        if (LSize == 0) throw EControlError(L"Error: shared memory does not contain data");
        // The count comes from another process: more than the block holds is refused
        // rather than read past the block's end.
        if (LSize > LCapacity) {
            throw EControlError(L"Error: shared memory announces " + std::to_wstring(LSize) +
                                L" bytes of data, more than its " + std::to_wstring(LCapacity) +
                                L" bytes can hold");
        }

        const HGLOBAL LMemory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, LSize);
        if (LMemory == nullptr) {
            throw EControlError(L"Failed to allocate memory for reading interface pointer");
        }
        TGlobalFree LFreeMemory{LMemory};
        void* LTarget = GlobalLock(LMemory);
        if (LTarget == nullptr) {
            throw EControlError(L"Failed to allocate memory for reading interface pointer");
        }
        std::memcpy(LTarget, LBytes + 2, LSize);
        GlobalUnlock(LMemory);

        ComPtr<IStream> LStream;
        if (FAILED(CreateStreamOnHGlobal(LMemory, FALSE, &LStream))) {
            throw EControlError(L"Failed preparing to load interface pointer");
        }
        auto LResult = std::make_unique<TWinServerInterface>();
        if (FAILED(CoUnmarshalInterface(LStream.Get(), IID_Iox3server,
                                        reinterpret_cast<void**>(LResult->Intf.GetAddressOf())))) {
            throw EControlError(L"Failed to load interface pointer");
        }
        // The stream goes first, then the memory, the view and the block, in that order.
        LStream.Reset();
        return LResult;
    }

    std::unique_ptr<TServerConnection> NewProxy() override {
        return std::make_unique<TOx3Connection>();
    }
};

}  // namespace

TServerAccess& WindowsServerAccess() {
    static TWinServerAccess LAccess;
    return LAccess;
}

}  // namespace deruz::control
