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
    TLoadedDll dll;
    for (const char* name :
         {"ONDA_INIT", "ONDA_INITI", "ONDA_INIT2W", "ONDA_COMMAND", "ONDA_EXIT", "ONDA_GETVER",
          "ONDA_GETERRORSTR", "ONDA_GETERRORSTRBUF", "DllGetClassObject", "DllCanUnloadNow",
          "DllRegisterServer", "DllUnregisterServer"}) {
        EXPECT_NE(GetProcAddress(dll.Handle(), name), nullptr) << name;
    }
    // Only the names above: no decorated or internal names leak out.
    for (const char* name : {"OndaInit", "OndaGetVersion", "_ONDA_GETVER@0", "DllMain"}) {
        EXPECT_EQ(GetProcAddress(dll.Handle(), name), nullptr) << name;
    }
}

TEST(DllExports, EarlyResultsOfALinkWithoutServer) {
    // A copy of the library whose configuration turns detection off: nothing is started
    // during the initialisations, and a command finds no imaging application to start.
    TTempFolder folder;
    const std::wstring dll = folder.File(L"DeRuz64.dll");
    ASSERT_TRUE(CopyFileW(BesideTestProgram(L"DeRuz64.dll").c_str(), dll.c_str(), FALSE));
    WriteTextFile(folder.File(L"deruz64.ini"),
                  "[OndarixDDE]\r\nDetectOndarix=0\r\noxprogram=Z:\\no\\such\\app.exe\r\n");
    TLinkHost link(dll);
    auto getver = link.Export<TNoArgs>("ONDA_GETVER");
    auto init = link.Export<TInit>("ONDA_INIT");

    EXPECT_EQ(getver(), 262);
    EXPECT_EQ(link.Exit(), 0);  // nothing to close
    EXPECT_EQ(link.InitI(L"C:\\", reinterpret_cast<HWND>(0x1234)), 0);
    EXPECT_EQ(link.Init2W(L"", nullptr), 0);
    EXPECT_EQ(init(nullptr), 0);
    EXPECT_EQ(getver(), 262);
    EXPECT_TRUE(link.Boxes.empty());
    // The first command tries to start the application; its failure is shown and the
    // command gets no connection.
    EXPECT_EQ(link.Command("openpatient|1~5"), -1001);
    EXPECT_EQ(link.ErrorStr(), "");
    ASSERT_EQ(link.Boxes.size(), 1u);
    EXPECT_EQ(link.BoxMessages()[0].rfind(L"Could not run \"z:\\no\\such\\app.exe -dde\"", 0), 0u)
        << Utf8(link.BoxMessages()[0]);
    EXPECT_EQ(link.Exit(), 0);
}

TEST(DllExports, ErrorTextBufferWritesOnlyTheTerminatorForAnEmptyText) {
    TLoadedDll dll;
    auto getbuf = dll.Export<TGetStrBuf>("ONDA_GETERRORSTRBUF");
    for (std::int32_t len : {4, 0, -1}) {
        char buf[8];
        std::memset(buf, 'X', sizeof buf);
        EXPECT_EQ(getbuf(buf, len), 0) << len;
        EXPECT_EQ(buf[0], '\0') << len;
        EXPECT_EQ(buf[1], 'X') << len;
    }
    EXPECT_EQ(getbuf(nullptr, 4), 0);  // a null buffer is refused, not written
}

TEST(DllComEntryPoints, AServerWithoutClasses) {
    TLoadedDll dll;
    auto getClassObject = dll.Export<TGetClassObject>("DllGetClassObject");
    const CLSID kOleLink = {
        0x5F2A5CB3, 0x9562, 0x4DC6, {0x9B, 0x09, 0x0B, 0xA4, 0xC0, 0x81, 0x60, 0xD9}};
    const CLSID kNull = {};
    for (const CLSID* clsid : {&kOleLink, &kNull}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(getClassObject(kOleLink, IID_IClassFactory, nullptr), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(dll.Export<TNoArgs>("DllCanUnloadNow")(), S_OK);

    // Registration changes nothing in the registry: the type library stays unregistered.
    auto typeLibKey = [] {
        HKEY key = nullptr;
        const LONG r =
            RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{7735CD72-CE30-4DB4-B3F1-4E074E899CF0}", 0,
                          KEY_READ, &key);
        if (key != nullptr) RegCloseKey(key);
        return r == ERROR_SUCCESS;
    };
    EXPECT_EQ(dll.Export<TNoArgs>("DllRegisterServer")(), S_OK);
    EXPECT_FALSE(typeLibKey());
    EXPECT_EQ(dll.Export<TNoArgs>("DllUnregisterServer")(), S_OK);
    EXPECT_FALSE(typeLibKey());
}

}  // namespace
}  // namespace deruz::testing
