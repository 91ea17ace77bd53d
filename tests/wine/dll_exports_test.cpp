// The built DLL under Wine: its exports by their exact names, the early results of the link
// and the COM entry points.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "tests/wine/dll_harness_win32.h"
#include "tests/wine/link_e2e_win32.h"

namespace deruz::testing {
namespace {

using TInit = std::int32_t(WINAPI*)(void*);
using TGetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

TEST(DllExports, EveryExportResolvesByItsExactName) {
    TLoadedDll LDll;
    for (const char* LName :
         {"ONDA_INIT", "ONDA_INITI", "ONDA_INIT2W", "ONDA_COMMAND", "ONDA_EXIT", "ONDA_GETVER",
          "ONDA_GETERRORSTR", "ONDA_GETERRORSTRBUF", "DllGetClassObject", "DllCanUnloadNow",
          "DllRegisterServer", "DllUnregisterServer"}) {
        EXPECT_NE(GetProcAddress(LDll.Handle(), LName), nullptr) << LName;
    }
    // Only the names above: no decorated or internal names leak out.
    for (const char* LName : {"OndaInit", "OndaGetVersion", "_ONDA_GETVER@0", "DllMain"}) {
        EXPECT_EQ(GetProcAddress(LDll.Handle(), LName), nullptr) << LName;
    }
}

TEST(DllExports, EarlyResultsOfALinkWithoutServer) {
    // A copy of the library whose configuration turns detection off: nothing is started
    // during the initialisations, and a command finds no imaging application to start.
    TTempFolder LFolder;
    const std::wstring LDll = LFolder.File(L"DeRuz64.dll");
    ASSERT_TRUE(CopyFileW(BesideTestProgram(L"DeRuz64.dll").c_str(), LDll.c_str(), FALSE));
    WriteTextFile(LFolder.File(L"deruz64.ini"),
                  "[OndarixDDE]\r\nDetectOndarix=0\r\noxprogram=Z:\\no\\such\\app.exe\r\n");
    TLinkHost LLink(LDll);
    auto LGetver = LLink.Export<TNoArgs>("ONDA_GETVER");
    auto LInit = LLink.Export<TInit>("ONDA_INIT");

    EXPECT_EQ(LGetver(), 262);
    EXPECT_EQ(LLink.Exit(), 0);  // nothing to close
    EXPECT_EQ(LLink.InitI(L"C:\\", reinterpret_cast<HWND>(0x1234)), 0);
    EXPECT_EQ(LLink.Init2W(L"", nullptr), 0);
    EXPECT_EQ(LInit(nullptr), 0);
    EXPECT_EQ(LGetver(), 262);
    EXPECT_TRUE(LLink.Boxes.empty());
    // The first command tries to start the application; its failure is shown and the
    // command gets no connection.
    EXPECT_EQ(LLink.Command("openpatient|1~5"), -1001);
    EXPECT_EQ(LLink.ErrorStr(), "");
    ASSERT_EQ(LLink.Boxes.size(), 1u);
    EXPECT_EQ(LLink.BoxMessages()[0].rfind(L"Could not run \"z:\\no\\such\\app.exe -dde\"", 0), 0u)
        << Utf8(LLink.BoxMessages()[0]);
    EXPECT_EQ(LLink.Exit(), 0);
}

TEST(DllExports, ErrorTextBufferWritesOnlyTheTerminatorForAnEmptyText) {
    TLoadedDll LDll;
    auto LGetbuf = LDll.Export<TGetStrBuf>("ONDA_GETERRORSTRBUF");
    for (std::int32_t LLen : {4, 0, -1}) {
        char LBuf[8];
        std::memset(LBuf, 'X', sizeof LBuf);
        EXPECT_EQ(LGetbuf(LBuf, LLen), 0) << LLen;
        EXPECT_EQ(LBuf[0], '\0') << LLen;
        EXPECT_EQ(LBuf[1], 'X') << LLen;
    }
    EXPECT_EQ(LGetbuf(nullptr, 4), 0);  // a null buffer is refused, not written
}

TEST(DllComEntryPoints, AServerWithoutClasses) {
    TLoadedDll LDll;
    auto LGetClassObject = LDll.Export<TGetClassObject>("DllGetClassObject");
    const CLSID LOleLink = {
        0x5F2A5CB3, 0x9562, 0x4DC6, {0x9B, 0x09, 0x0B, 0xA4, 0xC0, 0x81, 0x60, 0xD9}};
    const CLSID LNull = {};
    for (const CLSID* LClsid : {&LOleLink, &LNull}) {
        void* LObject = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(LGetClassObject(*LClsid, IID_IClassFactory, &LObject), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(LObject, nullptr);
    }
    EXPECT_EQ(LGetClassObject(LOleLink, IID_IClassFactory, nullptr), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(LDll.Export<TNoArgs>("DllCanUnloadNow")(), S_OK);

    // Registration changes nothing in the registry: the type library stays unregistered.
    auto LTypeLibKey = [] {
        HKEY LKey = nullptr;
        const LONG LR =
            RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{7735CD72-CE30-4DB4-B3F1-4E074E899CF0}", 0,
                          KEY_READ, &LKey);
        if (LKey != nullptr) RegCloseKey(LKey);
        return LR == ERROR_SUCCESS;
    };
    EXPECT_EQ(LDll.Export<TNoArgs>("DllRegisterServer")(), S_OK);
    EXPECT_FALSE(LTypeLibKey());
    EXPECT_EQ(LDll.Export<TNoArgs>("DllUnregisterServer")(), S_OK);
    EXPECT_FALSE(LTypeLibKey());
}

}  // namespace
}  // namespace deruz::testing
