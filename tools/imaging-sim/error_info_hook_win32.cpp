#include "tools/imaging-sim/error_info_hook_win32.h"

#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace deruz::imagingsim {

namespace {

// Identifies this hook's data in a call's reply.
constexpr GUID kExtent = {
    0x6f0c7a52, 0x1d3e, 0x4b8a, {0x9c, 0x41, 0x2e, 0x7d, 0x5b, 0x90, 0xa3, 0x16}};
constexpr std::uint32_t kMagic = 0x464E4945;  // "EINF"

// Wire form: magic, help context, GUID, then description, source and help file, each as a
// 32-bit count of UTF-16 units followed by the units; padded to 8 bytes.
class TWriter {
  public:
    void Put(const void* Data, std::size_t Size) {
        const auto* LBytes = static_cast<const BYTE*>(Data);
        FBytes.insert(FBytes.end(), LBytes, LBytes + Size);
    }
    void PutText(BSTR Text) {
        const std::uint32_t LLength = Text ? SysStringLen(Text) : 0;
        Put(&LLength, sizeof LLength);
        Put(Text, LLength * sizeof(wchar_t));
    }
    std::vector<BYTE> Take() {
        while (FBytes.size() % 8 != 0) FBytes.push_back(0);
        return std::move(FBytes);
    }

  private:
    std::vector<BYTE> FBytes;
};

class TReader {
  public:
    TReader(const void* Data, std::size_t Size)
        : FData(static_cast<const BYTE*>(Data)), FSize(Size) {}
    bool Get(void* Target, std::size_t Size) {
        if (FSize - FOffset < Size) return false;
        std::memcpy(Target, FData + FOffset, Size);
        FOffset += Size;
        return true;
    }
    bool GetText(std::wstring& Text) {
        std::uint32_t LLength = 0;
        if (!Get(&LLength, sizeof LLength) || (FSize - FOffset) / sizeof(wchar_t) < LLength) {
            return false;
        }
        Text.resize(LLength);
        return Get(Text.data(), LLength * sizeof(wchar_t));
    }

  private:
    const BYTE* FData;
    std::size_t FSize;
    std::size_t FOffset = 0;
};

// The error information of the call being answered on this thread, taken when the reply's
// size is asked for and written when its buffer is filled.
thread_local std::vector<BYTE> tPending;

std::vector<BYTE> Serialize(IErrorInfo* Info) {
    TWriter LWriter;
    LWriter.Put(&kMagic, sizeof kMagic);
    DWORD LContext = 0;
    Info->GetHelpContext(&LContext);
    LWriter.Put(&LContext, sizeof LContext);
    GUID LGuid = GUID_NULL;
    Info->GetGUID(&LGuid);
    LWriter.Put(&LGuid, sizeof LGuid);
    for (auto LGetter :
         {&IErrorInfo::GetDescription, &IErrorInfo::GetSource, &IErrorInfo::GetHelpFile}) {
        BSTR LText = nullptr;
        (Info->*LGetter)(&LText);
        LWriter.PutText(LText);
        SysFreeString(LText);
    }
    return LWriter.Take();
}

void Restore(const void* Data, ULONG Size) {
    TReader LReader(Data, Size);
    std::uint32_t LMagic = 0;
    DWORD LContext = 0;
    GUID LGuid = GUID_NULL;
    std::wstring LDescription, LSource, LHelpFile;
    if (!LReader.Get(&LMagic, sizeof LMagic) || LMagic != kMagic ||
        !LReader.Get(&LContext, sizeof LContext) || !LReader.Get(&LGuid, sizeof LGuid) ||
        !LReader.GetText(LDescription) || !LReader.GetText(LSource) ||
        !LReader.GetText(LHelpFile)) {
        return;
    }
    ICreateErrorInfo* LCreate = nullptr;
    if (FAILED(CreateErrorInfo(&LCreate))) return;
    LCreate->SetGUID(LGuid);
    LCreate->SetDescription(LDescription.data());
    LCreate->SetSource(LSource.data());
    LCreate->SetHelpFile(LHelpFile.data());
    LCreate->SetHelpContext(LContext);
    IErrorInfo* LInfo = nullptr;
    if (SUCCEEDED(LCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&LInfo)))) {
        SetErrorInfo(0, LInfo);
        LInfo->Release();
    }
    LCreate->Release();
}

class TErrorInfoHook final : public IChannelHook {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IChannelHook)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IChannelHook*>(this);
        return S_OK;
    }
    // A process-wide object that lives as long as the program.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    void STDMETHODCALLTYPE ClientGetSize(REFGUID, REFIID, ULONG* pDataSize) override {
        *pDataSize = 0;
    }
    void STDMETHODCALLTYPE ClientFillBuffer(REFGUID, REFIID, ULONG* pDataSize, void*) override {
        *pDataSize = 0;
    }
    void STDMETHODCALLTYPE ClientNotify(REFGUID, REFIID, ULONG cbDataSize, void* pDataBuffer, DWORD,
                                        HRESULT) override {
        if (pDataBuffer != nullptr && cbDataSize > 0) Restore(pDataBuffer, cbDataSize);
    }
    void STDMETHODCALLTYPE ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}
    void STDMETHODCALLTYPE ServerGetSize(REFGUID, REFIID, HRESULT, ULONG* pDataSize) override {
        tPending.clear();
        IErrorInfo* LInfo = nullptr;
        if (GetErrorInfo(0, &LInfo) == S_OK && LInfo != nullptr) {
            // Taken, so that it travels with this reply only (where the system carries it too,
            // whichever of the two runs first delivers it).
            tPending = Serialize(LInfo);
            LInfo->Release();
        }
        *pDataSize = static_cast<ULONG>(tPending.size());
    }
    void STDMETHODCALLTYPE ServerFillBuffer(REFGUID, REFIID, ULONG* pDataSize, void* pDataBuffer,
                                            HRESULT) override {
        const ULONG LSize = std::min<ULONG>(*pDataSize, static_cast<ULONG>(tPending.size()));
        if (pDataBuffer != nullptr && LSize > 0) std::memcpy(pDataBuffer, tPending.data(), LSize);
        *pDataSize = LSize;
        tPending.clear();
    }
};

TErrorInfoHook gHook;

}  // namespace

HRESULT RegisterErrorInfoHook() {
    static const HRESULT LResult = CoRegisterChannelHook(kExtent, &gHook);
    return LResult;
}

}  // namespace deruz::imagingsim
