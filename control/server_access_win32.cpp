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

std::wstring SystemText(DWORD Code) {
    return systools::WideFromUtf8(logging::SiSystemMessage(Code));
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
    void ConnectTo(std::unique_ptr<TServerInterface> Intf) override {
        auto* handed = dynamic_cast<TWinServerInterface*>(Intf.get());
        FProxy->ConnectTo(handed != nullptr ? handed->Intf.Get() : nullptr);
        // The local reference goes with Intf; the proxy holds its own.
    }
    void Disconnect() override { FProxy->Disconnect(); }
    void SetEvents(TServerEvents* Handler) override {
        server::Tox3server& proxy = *FProxy;
        if (Handler == nullptr) {
            proxy.OnWakeUp = nullptr;
            proxy.OnCmdReady = nullptr;
            proxy.OnAdminNotes = nullptr;
            proxy.OnNewPhoto = nullptr;
            proxy.OnRequest = nullptr;
            return;
        }
        proxy.OnWakeUp = [this, Handler](server::Tox3server&) { Handler->OnWakeup(*this); };
        proxy.OnCmdReady = [this, Handler](server::Tox3server&, std::int32_t Value,
                                           const std::wstring& Text) {
            Handler->OnCmdReady(*this, Value, Text);
        };
        proxy.OnAdminNotes = [this, Handler](server::Tox3server&, std::int32_t DentistID,
                                             const std::wstring& PatientID,
                                             const std::wstring& ToothPosition,
                                             const std::wstring& Code, const std::wstring& Notes) {
            Handler->OnAdminNotes(*this, DentistID, PatientID, ToothPosition, Code, Notes);
        };
        proxy.OnNewPhoto = [this, Handler](server::Tox3server&, std::int32_t PhotoType,
                                           std::int32_t DentistID, const std::wstring& PatientID,
                                           const std::wstring& PhotoID, std::int32_t Quadrant,
                                           std::int32_t Element) {
            Handler->OnNewPhoto(*this, PhotoType, DentistID, PatientID, PhotoID, Quadrant, Element);
        };
        proxy.OnRequest = [this, Handler](server::Tox3server&, const std::wstring& Cmd) {
            Handler->OnRequest(*this, Cmd);
        };
    }
    std::int32_t Version() override { return FProxy->Get_Version(); }
    std::int32_t AdminCommand(const std::wstring& Cmd, std::wstring& ReturnText) override {
        return FProxy->AdminCommand(Cmd, ReturnText);
    }
    void SetAppReturnWnd(std::int32_t Value) override { FProxy->Set_AppReturnWnd(Value); }
    void SetLastAdminLinkDLLPath(const std::wstring& Value) override {
        FProxy->Set_LastAdminLinkDLLPath(Value);
    }
    void Terminate() override { FProxy->Terminate(); }

  private:
    std::unique_ptr<server::Tox3server> FProxy = std::make_unique<server::Tox3server>();
};

class TWinServerAccess final : public TServerAccess {
  public:
    std::unique_ptr<TServerInterface> FetchMarshalled(TWindowHandle OxWnd,
                                                      std::uint32_t Pid) override {
        const std::wstring name = L"Ox3Server" + std::to_wstring(Pid);
        const HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                SharedBlockSize, name.c_str());
        if (block == nullptr) throw EControlError(L"Failed to create shared memory");
        THandleCloser closeBlock{block};

        const LRESULT answer = SendMessageW(reinterpret_cast<HWND>(OxWnd), WM_GETOX3SERVER, Pid, 0);
        if (answer < INT32_MIN || answer > INT32_MAX) throw RangeCheckError();
        if (answer < 0) {
            throw EControlError(L"Ondarix returned error " +
                                SystemText(static_cast<DWORD>(static_cast<std::int32_t>(answer))));
        }

        const void* view = MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) throw EControlError(L"Failed to map shared memory");
        TViewUnmapper unmapView{view};

        // The block may be smaller than asked for: a mapping of that name that already
        // existed (made by another process) is opened as it is. What can be read is what
        // the view really spans, at most the block's size.
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(view, &region, sizeof region) < sizeof region || region.RegionSize < 2) {
            throw EControlError(L"Failed to map shared memory");
        }
        const std::size_t capacity = std::min<std::size_t>(SharedBlockSize, region.RegionSize) - 2;

        const auto* bytes = static_cast<const std::uint8_t*>(view);
        const std::size_t size = bytes[0] | (static_cast<std::size_t>(bytes[1]) << 8);
        if (size == 0) throw EControlError(L"Error: shared memory does not contain data");
        // The count comes from another process: more than the block holds is refused
        // rather than read past the block's end.
        if (size > capacity) {
            throw EControlError(L"Error: shared memory announces " + std::to_wstring(size) +
                                L" bytes of data, more than its " + std::to_wstring(capacity) +
                                L" bytes can hold");
        }

        const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        if (memory == nullptr) {
            throw EControlError(L"Failed to allocate memory for reading interface pointer");
        }
        TGlobalFree freeMemory{memory};
        void* target = GlobalLock(memory);
        if (target == nullptr) {
            throw EControlError(L"Failed to allocate memory for reading interface pointer");
        }
        std::memcpy(target, bytes + 2, size);
        GlobalUnlock(memory);

        ComPtr<IStream> stream;
        if (FAILED(CreateStreamOnHGlobal(memory, FALSE, &stream))) {
            throw EControlError(L"Failed preparing to load interface pointer");
        }
        auto result = std::make_unique<TWinServerInterface>();
        if (FAILED(CoUnmarshalInterface(stream.Get(), IID_Iox3server,
                                        reinterpret_cast<void**>(result->Intf.GetAddressOf())))) {
            throw EControlError(L"Failed to load interface pointer");
        }
        // The stream goes first, then the memory, the view and the block, in that order.
        stream.Reset();
        return result;
    }

    std::unique_ptr<TServerConnection> NewProxy() override {
        return std::make_unique<TOx3Connection>();
    }
};

}  // namespace

TServerAccess& WindowsServerAccess() {
    static TWinServerAccess access;
    return access;
}

}  // namespace deruz::control
