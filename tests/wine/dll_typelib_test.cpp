// The type library carried in DeRuz64.dll, read back with LoadTypeLibEx and checked item by
// item: identifiers, names, help strings, kinds, flags, members and parameter types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/dll_harness_win32.h"

namespace deruz::testing {
namespace {

std::wstring GuidText(const GUID& g) {
    wchar_t text[64] = {};
    StringFromGUID2(g, text, 64);
    return text;
}

struct TDoc {
    std::wstring Name;
    std::wstring Help;
};

TDoc Documentation(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr, help = nullptr;
    EXPECT_EQ(info->GetDocumentation(id, &name, &help, nullptr, nullptr), S_OK);
    TDoc doc{name ? name : L"", help ? help : L""};
    SysFreeString(name);
    SysFreeString(help);
    return doc;
}

// The type library of the DLL, loaded without registering it.
class TypeLibTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(LoadTypeLibEx(BesideTestProgram(L"DeRuz64.dll").c_str(), REGKIND_NONE, &lib),
                  S_OK);
    }
    void TearDown() override {
        for (auto* i : infos) i->Release();
        if (lib) lib->Release();
        CoUninitialize();
    }
    ITypeInfo* Info(const wchar_t* guid) {
        GUID g;
        CLSIDFromString(guid, &g);
        ITypeInfo* info = nullptr;
        EXPECT_EQ(lib->GetTypeInfoOfGuid(g, &info), S_OK) << guid;
        if (info) infos.push_back(info);
        return info;
    }
    ITypeLib* lib = nullptr;
    std::vector<ITypeInfo*> infos;
};

TEST_F(TypeLibTest, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(GuidText(attr->guid), L"{7735CD72-CE30-4DB4-B3F1-4E074E899CF0}");
    EXPECT_EQ(attr->lcid, 1033u);
    EXPECT_EQ(attr->syskind, SYS_WIN64);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"oxdde32");
    EXPECT_STREQ(help, L"OndarixOleLink Library");
    SysFreeString(name);
    SysFreeString(help);
    EXPECT_EQ(lib->GetTypeInfoCount(), 3u);
}

TEST_F(TypeLibTest, TypesWithTheirKindsFlagsAndHelpStrings) {
    struct TCase {
        const wchar_t* Guid;
        const wchar_t* Name;
        const wchar_t* Help;
        TYPEKIND Kind;
        WORD Flags;
    };
    const TCase cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ITypeInfo* info = Info(c.Guid);
        ASSERT_NE(info, nullptr);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, c.Kind);
        EXPECT_EQ(attr->wTypeFlags & c.Flags, c.Flags);
        if (c.Kind == TKIND_DISPATCH && c.Flags == 0) {
            EXPECT_EQ(attr->cFuncs, 0);  // the events interface has no members
            EXPECT_EQ(attr->cVars, 0);
        }
        info->ReleaseTypeAttr(attr);
        const TDoc doc = Documentation(info, MEMBERID_NIL);
        EXPECT_EQ(doc.Name, c.Name);
        EXPECT_EQ(doc.Help, c.Help);
    }
}

TEST_F(TypeLibTest, ClassImplementsTheInterfaceAndTheEventSource) {
    ITypeInfo* cls = Info(L"{5F2A5CB3-9562-4DC6-9B09-0BA4C08160D9}");
    ASSERT_NE(cls, nullptr);
    struct TImpl {
        const wchar_t* Name;
        int Flags;
    };
    const TImpl expected[] = {
        {L"IOndarixOleLink", IMPLTYPEFLAG_FDEFAULT},
        {L"IOndarixOleLinkEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    };
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE ref = 0;
        ASSERT_EQ(cls->GetRefTypeOfImplType(i, &ref), S_OK);
        ITypeInfo* impl = nullptr;
        ASSERT_EQ(cls->GetRefTypeInfo(ref, &impl), S_OK);
        infos.push_back(impl);
        EXPECT_EQ(Documentation(impl, MEMBERID_NIL).Name, expected[i].Name);
        INT flags = 0;
        ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, expected[i].Flags);
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
    ITypeInfo* disp = Info(L"{E3945770-8842-4941-9BE3-45E8EFA75AC9}");
    ASSERT_NE(disp, nullptr);
    // The virtual-table half of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_EQ(disp->GetRefTypeOfImplType(-1, &ref), S_OK);
    ITypeInfo* vt = nullptr;
    ASSERT_EQ(disp->GetRefTypeInfo(ref, &vt), S_OK);
    infos.push_back(vt);

    const TParam inUI4{VT_UI4, false, PARAMFLAG_FIN};
    const TParam inBstr{VT_BSTR, false, PARAMFLAG_FIN};
    const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    const TMember expected[] = {
        {201, L"OndaInit", INVOKE_FUNC, {inUI4}},
        {202, L"OndaExit", INVOKE_FUNC, {}},
        {203, L"NewPatient", INVOKE_FUNC, {inBstr, inBstr, inBstr, inBstr, inBstr}},
        {204, L"ReturnWnd", INVOKE_PROPERTYGET, {{VT_UI4, true, retval}}},
        {204, L"ReturnWnd", INVOKE_PROPERTYPUT, {inUI4}},
        {205, L"Version", INVOKE_PROPERTYGET, {{VT_I4, true, retval}}},
        {206, L"ErrorString", INVOKE_PROPERTYGET, {{VT_BSTR, true, retval}}},
        {207, L"ClosePatient", INVOKE_FUNC, {}},
    };

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(vt->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->wTypeFlags & dual, dual);
    EXPECT_EQ(attr->cFuncs, 8);
    // IUnknown and IDispatch come first: 7 slots, then the 8 members.
    EXPECT_EQ(attr->cbSizeVft, (7 + 8) * sizeof(void*));
    vt->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < 8; ++i) {
        const TMember& m = expected[i];
        SCOPED_TRACE(std::to_wstring(i));
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vt->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, m.Id);
        EXPECT_EQ(f->invkind, m.Kind);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        ASSERT_EQ(f->cParams, static_cast<SHORT>(m.Params.size()));
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const TParam& want = m.Params[static_cast<std::size_t>(p)];
            if (want.ByRef) {
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                EXPECT_EQ(e.tdesc.lptdesc->vt, want.Type);
            } else {
                EXPECT_EQ(e.tdesc.vt, want.Type);
            }
            EXPECT_EQ(e.paramdesc.wParamFlags, want.Flags);
        }
        vt->ReleaseFuncDesc(f);
        EXPECT_EQ(Documentation(vt, m.Id).Name, m.Name);
    }

    // Parameter names of the members that the table names.
    struct TNames {
        MEMBERID Id;
        std::vector<std::wstring> Names;
    };
    const TNames names[] = {
        {201, {L"OndaInit", L"ReturnWnd"}},
        {203, {L"NewPatient", L"PatientID", L"FirstName", L"LastName", L"DateOfBirth", L"Gender"}},
        {205, {L"Version", L"Value"}},
    };
    for (const auto& n : names) {
        BSTR got[8] = {};
        UINT count = 0;
        ASSERT_EQ(vt->GetNames(n.Id, got, 8, &count), S_OK);
        std::vector<std::wstring> have;
        for (UINT k = 0; k < count; ++k) {
            have.emplace_back(got[k]);
            SysFreeString(got[k]);
        }
        EXPECT_EQ(have, n.Names) << n.Id;
    }
}

}  // namespace
}  // namespace deruz::testing
