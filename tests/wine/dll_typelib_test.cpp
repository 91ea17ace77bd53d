// The type library carried in DeRuz64.dll, read back with LoadTypeLibEx and checked item by
// item: identifiers, names, help strings, kinds, flags, members and parameter types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/dll_harness_win32.h"

namespace deruz::testing {
namespace {

std::wstring GuidText(const GUID& AG) {
    wchar_t LText[64] = {};
    StringFromGUID2(AG, LText, 64);
    return LText;
}

struct TDoc {
    std::wstring Name;
    std::wstring Help;
};

TDoc Documentation(ITypeInfo* AInfo, MEMBERID AId) {
    BSTR LName = nullptr, LHelp = nullptr;
    EXPECT_EQ(AInfo->GetDocumentation(AId, &LName, &LHelp, nullptr, nullptr), S_OK);
    TDoc LDoc{LName ? LName : L"", LHelp ? LHelp : L""};
    SysFreeString(LName);
    SysFreeString(LHelp);
    return LDoc;
}

// The type library of the DLL, loaded without registering it.
class TypeLibTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(LoadTypeLibEx(BesideTestProgram(L"DeRuz64.dll").c_str(), REGKIND_NONE, &FLib),
                  S_OK);
    }
    void TearDown() override {
        for (auto* LI : FInfos) LI->Release();
        if (FLib) FLib->Release();
        CoUninitialize();
    }
    ITypeInfo* Info(const wchar_t* AGuid) {
        GUID LG;
        CLSIDFromString(AGuid, &LG);
        ITypeInfo* LInfo = nullptr;
        EXPECT_EQ(FLib->GetTypeInfoOfGuid(LG, &LInfo), S_OK) << AGuid;
        if (LInfo) FInfos.push_back(LInfo);
        return LInfo;
    }
    ITypeLib* FLib = nullptr;
    std::vector<ITypeInfo*> FInfos;
};

TEST_F(TypeLibTest, LibraryAttributes) {
    TLIBATTR* LAttr = nullptr;
    ASSERT_EQ(FLib->GetLibAttr(&LAttr), S_OK);
    EXPECT_EQ(GuidText(LAttr->guid), L"{7735CD72-CE30-4DB4-B3F1-4E074E899CF0}");
    EXPECT_EQ(LAttr->lcid, 1033u);
    EXPECT_EQ(LAttr->syskind, SYS_WIN64);
    EXPECT_EQ(LAttr->wMajorVerNum, 1);
    EXPECT_EQ(LAttr->wMinorVerNum, 0);
    FLib->ReleaseTLibAttr(LAttr);

    BSTR LName = nullptr, LHelp = nullptr;
    ASSERT_EQ(FLib->GetDocumentation(-1, &LName, &LHelp, nullptr, nullptr), S_OK);
    EXPECT_STREQ(LName, L"oxdde32");
    EXPECT_STREQ(LHelp, L"OndarixOleLink Library");
    SysFreeString(LName);
    SysFreeString(LHelp);
    EXPECT_EQ(FLib->GetTypeInfoCount(), 3u);
}

TEST_F(TypeLibTest, TypesWithTheirKindsFlagsAndHelpStrings) {
    struct TCase {
        const wchar_t* Guid;
        const wchar_t* Name;
        const wchar_t* Help;
        TYPEKIND Kind;
        WORD Flags;
    };
    const TCase LCases[] = {
        // The reader reports OLE-automation on the virtual-table half of a dual interface
        // only (checked with the members below).
        {L"{E3945770-8842-4941-9BE3-45E8EFA75AC9}", L"IOndarixOleLink",
         L"Dispatch interface for OndarixOleLink Object", TKIND_DISPATCH,
         TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE},
        {L"{8DE254ED-FDB3-40DD-B9A2-53FD6A1DEB2B}", L"IOndarixOleLinkEvents",
         L"Events interface for OndarixOleLink Object", TKIND_DISPATCH, 0},
        {L"{5F2A5CB3-9562-4DC6-9B09-0BA4C08160D9}", L"OndarixOleLink", L"Ondarix Ole Link Object",
         TKIND_COCLASS, TYPEFLAG_FCANCREATE},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        ITypeInfo* LInfo = Info(LC.Guid);
        ASSERT_NE(LInfo, nullptr);
        TYPEATTR* LAttr = nullptr;
        ASSERT_EQ(LInfo->GetTypeAttr(&LAttr), S_OK);
        EXPECT_EQ(LAttr->typekind, LC.Kind);
        EXPECT_EQ(LAttr->wTypeFlags & LC.Flags, LC.Flags);
        if (LC.Kind == TKIND_DISPATCH && LC.Flags == 0) {
            EXPECT_EQ(LAttr->cFuncs, 0);  // the events interface has no members
            EXPECT_EQ(LAttr->cVars, 0);
        }
        LInfo->ReleaseTypeAttr(LAttr);
        const TDoc LDoc = Documentation(LInfo, MEMBERID_NIL);
        EXPECT_EQ(LDoc.Name, LC.Name);
        EXPECT_EQ(LDoc.Help, LC.Help);
    }
}

TEST_F(TypeLibTest, ClassImplementsTheInterfaceAndTheEventSource) {
    ITypeInfo* LCls = Info(L"{5F2A5CB3-9562-4DC6-9B09-0BA4C08160D9}");
    ASSERT_NE(LCls, nullptr);
    struct TImpl {
        const wchar_t* Name;
        int Flags;
    };
    const TImpl LExpected[] = {
        {L"IOndarixOleLink", IMPLTYPEFLAG_FDEFAULT},
        {L"IOndarixOleLinkEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    };
    for (UINT LI = 0; LI < 2; ++LI) {
        HREFTYPE LRef = 0;
        ASSERT_EQ(LCls->GetRefTypeOfImplType(LI, &LRef), S_OK);
        ITypeInfo* LImpl = nullptr;
        ASSERT_EQ(LCls->GetRefTypeInfo(LRef, &LImpl), S_OK);
        FInfos.push_back(LImpl);
        EXPECT_EQ(Documentation(LImpl, MEMBERID_NIL).Name, LExpected[LI].Name);
        INT LFlags = 0;
        ASSERT_EQ(LCls->GetImplTypeFlags(LI, &LFlags), S_OK);
        EXPECT_EQ(LFlags, LExpected[LI].Flags);
    }
}

// One parameter as the table gives it: its type (through one pointer level for out
// parameters) and its direction flags.
struct TParam {
    VARTYPE Type;
    bool ByRef;
    USHORT Flags;
};

struct TMember {
    MEMBERID Id;
    const wchar_t* Name;
    INVOKEKIND Kind;
    std::vector<TParam> Params;
};

TEST_F(TypeLibTest, InterfaceMembersInVirtualTableOrder) {
    ITypeInfo* LDisp = Info(L"{E3945770-8842-4941-9BE3-45E8EFA75AC9}");
    ASSERT_NE(LDisp, nullptr);
    // The virtual-table half of the dual interface.
    HREFTYPE LRef = 0;
    ASSERT_EQ(LDisp->GetRefTypeOfImplType(-1, &LRef), S_OK);
    ITypeInfo* LVt = nullptr;
    ASSERT_EQ(LDisp->GetRefTypeInfo(LRef, &LVt), S_OK);
    FInfos.push_back(LVt);

    const TParam LInUI4{VT_UI4, false, PARAMFLAG_FIN};
    const TParam LInBstr{VT_BSTR, false, PARAMFLAG_FIN};
    const USHORT LRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    const TMember LExpected[] = {
        {201, L"OndaInit", INVOKE_FUNC, {LInUI4}},
        {202, L"OndaExit", INVOKE_FUNC, {}},
        {203, L"NewPatient", INVOKE_FUNC, {LInBstr, LInBstr, LInBstr, LInBstr, LInBstr}},
        {204, L"ReturnWnd", INVOKE_PROPERTYGET, {{VT_UI4, true, LRetval}}},
        {204, L"ReturnWnd", INVOKE_PROPERTYPUT, {LInUI4}},
        {205, L"Version", INVOKE_PROPERTYGET, {{VT_I4, true, LRetval}}},
        {206, L"ErrorString", INVOKE_PROPERTYGET, {{VT_BSTR, true, LRetval}}},
        {207, L"ClosePatient", INVOKE_FUNC, {}},
    };

    TYPEATTR* LAttr = nullptr;
    ASSERT_EQ(LVt->GetTypeAttr(&LAttr), S_OK);
    EXPECT_EQ(LAttr->typekind, TKIND_INTERFACE);
    const WORD LDual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(LAttr->wTypeFlags & LDual, LDual);
    EXPECT_EQ(LAttr->cFuncs, 8);
    // IUnknown and IDispatch come first: 7 slots, then the 8 members.
    EXPECT_EQ(LAttr->cbSizeVft, (7 + 8) * sizeof(void*));
    LVt->ReleaseTypeAttr(LAttr);

    for (UINT LI = 0; LI < 8; ++LI) {
        const TMember& LM = LExpected[LI];
        SCOPED_TRACE(std::to_wstring(LI));
        FUNCDESC* LF = nullptr;
        ASSERT_EQ(LVt->GetFuncDesc(LI, &LF), S_OK);
        EXPECT_EQ(LF->memid, LM.Id);
        EXPECT_EQ(LF->invkind, LM.Kind);
        EXPECT_EQ(LF->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(LF->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(LF->oVft, static_cast<SHORT>((7 + LI) * sizeof(void*)));
        ASSERT_EQ(LF->cParams, static_cast<SHORT>(LM.Params.size()));
        for (SHORT LP = 0; LP < LF->cParams; ++LP) {
            const ELEMDESC& LE = LF->lprgelemdescParam[LP];
            const TParam& LWant = LM.Params[static_cast<std::size_t>(LP)];
            if (LWant.ByRef) {
                ASSERT_EQ(LE.tdesc.vt, VT_PTR);
                EXPECT_EQ(LE.tdesc.lptdesc->vt, LWant.Type);
            } else {
                EXPECT_EQ(LE.tdesc.vt, LWant.Type);
            }
            EXPECT_EQ(LE.paramdesc.wParamFlags, LWant.Flags);
        }
        LVt->ReleaseFuncDesc(LF);
        EXPECT_EQ(Documentation(LVt, LM.Id).Name, LM.Name);
    }

    // Parameter names of the members that the table names.
    struct TNames {
        MEMBERID Id;
        std::vector<std::wstring> Names;
    };
    const TNames LNames[] = {
        {201, {L"OndaInit", L"ReturnWnd"}},
        {203, {L"NewPatient", L"PatientID", L"FirstName", L"LastName", L"DateOfBirth", L"Gender"}},
        {205, {L"Version", L"Value"}},
    };
    for (const auto& LN : LNames) {
        BSTR LGot[8] = {};
        UINT LCount = 0;
        ASSERT_EQ(LVt->GetNames(LN.Id, LGot, 8, &LCount), S_OK);
        std::vector<std::wstring> LHave;
        for (UINT LK = 0; LK < LCount; ++LK) {
            LHave.emplace_back(LGot[LK]);
            SysFreeString(LGot[LK]);
        }
        EXPECT_EQ(LHave, LN.Names) << LN.Id;
    }
}

}  // namespace
}  // namespace deruz::testing
