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
    void Put(const void* AData, std::size_t ASize) {
        const auto* LBytes = static_cast<const BYTE*>(AData);
        FBytes.insert(FBytes.end(), LBytes, LBytes + ASize);
    }
    void PutText(BSTR AText) {
        const std::uint32_t LLength = AText ? SysStringLen(AText) : 0;
        Put(&LLength, sizeof LLength);
        Put(AText, LLength * sizeof(wchar_t));
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
    TReader(const void* AData, std::size_t ASize)
        : FData(static_cast<const BYTE*>(AData)), FSize(ASize) {}
    bool Get(void* ATarget, std::size_t ASize) {
        if (FSize - FOffset < ASize) return false;
        std::memcpy(ATarget, FData + FOffset, ASize);
        FOffset += ASize;
        return true;
    }
    bool GetText(std::wstring& AText) {
        std::uint32_t LLength = 0;
        if (!Get(&LLength, sizeof LLength) || (FSize - FOffset) / sizeof(wchar_t) < LLength) {
            return false;
        }
        AText.resize(LLength);
        return Get(AText.data(), LLength * sizeof(wchar_t));
    }

  private:
    const BYTE* FData;
    std::size_t FSize;
    std::size_t FOffset = 0;
};

// The error information of the call being answered on this thread, taken when the reply's
// size is asked for and written when its buffer is filled.
thread_local std::vector<BYTE> tPending;

std::vector<BYTE> Serialize(IErrorInfo* AInfo) {
    TWriter LWriter;
    LWriter.Put(&kMagic, sizeof kMagic);
    DWORD LContext = 0;
    AInfo->GetHelpContext(&LContext);
    LWriter.Put(&LContext, sizeof LContext);
    GUID LGuid = GUID_NULL;
    AInfo->GetGUID(&LGuid);
    LWriter.Put(&LGuid, sizeof LGuid);
    for (auto LGetter :
         {&IErrorInfo::GetDescription, &IErrorInfo::GetSource, &IErrorInfo::GetHelpFile}) {
        BSTR LText = nullptr;
        (AInfo->*LGetter)(&LText);
        LWriter.PutText(LText);
        SysFreeString(LText);
    }
    return LWriter.Take();
}

void Restore(const void* AData, ULONG ASize) {
    TReader LReader(AData, ASize);
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
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        if (APpv == nullptr) return E_POINTER;
        *APpv = nullptr;
        if (!IsEqualIID(ARiid, IID_IUnknown) && !IsEqualIID(ARiid, IID_IChannelHook)) {
            return E_NOINTERFACE;
        }
        *APpv = static_cast<IChannelHook*>(this);
        return S_OK;
    }
    // A process-wide object that lives as long as the program.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    void STDMETHODCALLTYPE ClientGetSize(REFGUID, REFIID, ULONG* APDataSize) override {
        *APDataSize = 0;
    }
    void STDMETHODCALLTYPE ClientFillBuffer(REFGUID, REFIID, ULONG* APDataSize, void*) override {
        *APDataSize = 0;
    }
    void STDMETHODCALLTYPE ClientNotify(REFGUID, REFIID, ULONG ACbDataSize, void* APDataBuffer,
                                        DWORD, HRESULT) override {
        if (APDataBuffer != nullptr && ACbDataSize > 0) Restore(APDataBuffer, ACbDataSize);
    }
    void STDMETHODCALLTYPE ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}
    void STDMETHODCALLTYPE ServerGetSize(REFGUID, REFIID, HRESULT, ULONG* APDataSize) override {
        tPending.clear();
        IErrorInfo* LInfo = nullptr;
        if (GetErrorInfo(0, &LInfo) == S_OK && LInfo != nullptr) {
            // Taken, so that it travels with this reply only (where the system carries it too,
            // whichever of the two runs first delivers it).
            tPending = Serialize(LInfo);
            LInfo->Release();
        }
        *APDataSize = static_cast<ULONG>(tPending.size());
    }
    void STDMETHODCALLTYPE ServerFillBuffer(REFGUID, REFIID, ULONG* APDataSize, void* APDataBuffer,
                                            HRESULT) override {
        const ULONG LSize = std::min<ULONG>(*APDataSize, static_cast<ULONG>(tPending.size()));
        if (APDataBuffer != nullptr && LSize > 0) std::memcpy(APDataBuffer, tPending.data(), LSize);
        *APDataSize = LSize;
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
