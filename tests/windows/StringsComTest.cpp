// Strings.dll as a COM server under Wine: registered by regsvr32, created by
// ProgID and by class identifier, called by name through IDispatch (as a
// script calls it) and through the vtable of _CString, then unregistered.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// windows.h first here: the generated interface header needs it.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include "Strings_h.h"
#include "tests/windows/WindowsProcess.h"

namespace {

using qb::test::HostPath;
using qb::test::RunProcess;

const CLSID kClassId = {
    0x6E3FB24B, 0xCAC7, 0x4874, {0xBD, 0xD5, 0x69, 0x2D, 0x44, 0x1B, 0x88, 0x17}};
const IID kInterfaceId = {
    0x0B9D6939, 0x0DAF, 0x4F2F, {0xBD, 0x39, 0x82, 0xE0, 0xB9, 0x77, 0xCB, 0x99}};
const GUID kLibraryId = {
    0x930B4EB6, 0x1DDF, 0x4188, {0x87, 0xFC, 0x01, 0x9A, 0x84, 0xB2, 0xE4, 0xFF}};

std::wstring W(const char* s) {
    return std::wstring(s, s + std::strlen(s));
}

// A call by name as a script makes it: arguments in source order.
class Script {
  public:
    explicit Script(IDispatch* object) : object_(object) {}

    DISPID Id(const char* name) {
        std::wstring n = W(name);
        LPOLESTR names[] = {n.data()};
        DISPID id = DISPID_UNKNOWN;
        lastHr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        return id;
    }

    // The result, VT_EMPTY on failure (lastHr and exception tell why).
    VARIANT Call(const char* name, std::vector<VARIANT> args = {}) {
        VARIANT result;
        ::VariantInit(&result);
        const DISPID id = Id(name);
        if (FAILED(lastHr))
            return result;
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        exception = EXCEPINFO{};
        UINT argError = 0;
        lastHr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                 DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                                 &exception, &argError);
        for (VARIANT& v : args)
            ::VariantClear(&v);
        return result;
    }

    std::wstring Text(const char* name, std::vector<VARIANT> args = {}) {
        VARIANT v = Call(name, std::move(args));
        std::wstring out = V_VT(&v) == VT_BSTR
                               ? std::wstring(V_BSTR(&v), ::SysStringLen(V_BSTR(&v)))
                               : L"<not a text>";
        ::VariantClear(&v);
        return out;
    }
    long Long(const char* name, std::vector<VARIANT> args = {}) {
        VARIANT v = Call(name, std::move(args));
        const long out = V_VT(&v) == VT_I4 ? V_I4(&v) : -12345;
        ::VariantClear(&v);
        return out;
    }

    HRESULT lastHr = S_OK;
    EXCEPINFO exception{};

  private:
    IDispatch* object_;
};

VARIANT Str(const wchar_t* s) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(s);
    return v;
}
VARIANT Int(long n) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}
VARIANT Bool(bool b) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
VARIANT Obj(IDispatch* d) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = d;
    d->AddRef();
    return v;
}

class StringsCom : public ::testing::Test {
  protected:
    void SetUp() override {
        lock_ = std::make_unique<qb::test::SystemLock>("QuellboxTestStringsRegistration");
        ASSERT_EQ(RunProcess("regsvr32 /s \"" + dll + "\""), 0);
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    }
    void TearDown() override {
        ::CoUninitialize();
        EXPECT_EQ(RunProcess("regsvr32 /u /s \"" + dll + "\""), 0);
        CLSID clsid;
        EXPECT_FALSE(SUCCEEDED(::CLSIDFromProgID(L"Strings.CString", &clsid)))
            << "the ProgID is gone after unregistering";
        HKEY key;
        EXPECT_NE(
            ::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{6E3FB24B-CAC7-4874-BDD5-692D441B8817}", 0,
                            KEY_READ, &key),
            ERROR_SUCCESS);
        lock_.reset();
    }

    std::unique_ptr<qb::test::SystemLock> lock_;  // the class's keys are this test's alone
    const std::string dll = HostPath(STRINGS_DLL);
};

TEST_F(StringsCom, CreatedByProgIdAndCalledByNameAsAScriptWould) {
    CLSID clsid;
    ASSERT_EQ(::CLSIDFromProgID(L"Strings.CString", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClassId));
    IDispatch* object = nullptr;
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(&object)),
              S_OK);
    Script s(object);
    EXPECT_EQ(s.Id("append"), 0x60030000);
    EXPECT_EQ(s.Id("APPEND"), 0x60030000) << "names are found without regard to case";
    EXPECT_EQ(s.Id("getBytes"), 0x6003000C);
    EXPECT_EQ(s.Id("length"), 0x60030026);
    EXPECT_EQ(s.Id("clear"), 0x60030029);
    s.Id("noSuchMember");
    EXPECT_EQ(s.lastHr, DISP_E_UNKNOWNNAME);

    EXPECT_EQ(s.Long("getCapacity"), 4096);
    s.Call("append", {Str(L"hello")});
    EXPECT_EQ(s.lastHr, S_OK);
    EXPECT_EQ(s.Long("length"), 5);
    EXPECT_EQ(s.Text("toString"), L"hello");
    EXPECT_EQ(s.Text("charAt", {Int(1)}), L"h");
    EXPECT_EQ(s.Text("charAt", {Int(6)}), L"");
    EXPECT_EQ(s.Text("subStringVB", {Int(2), Int(4)}), L"ell");
    EXPECT_EQ(s.Text("subStringVB", {Int(2)}), L"ello") << "the optional end left out";
    EXPECT_EQ(s.Long("indexOfVB", {Str(L"l")}), 3);
    EXPECT_EQ(s.Long("lastIndexOfVB", {Str(L"l")}), 4);

    // A member that returns a new object, and an object as an argument.
    VARIANT upper = s.Call("toUpperCase");
    ASSERT_EQ(V_VT(&upper), VT_DISPATCH);
    Script u(V_DISPATCH(&upper));
    EXPECT_EQ(u.Text("toString"), L"HELLO");
    VARIANT same = s.Call("equalsIgnoreCase", {Obj(V_DISPATCH(&upper))});
    EXPECT_EQ(V_VT(&same), VT_BOOL);
    EXPECT_EQ(V_BOOL(&same), VARIANT_TRUE);
    EXPECT_EQ(s.Long("compareTo", {Obj(V_DISPATCH(&upper))}), 1) << "'h' after 'H'";

    // regionMatches raises its errors to the caller.
    VARIANT ok =
        s.Call("regionMatches", {Bool(false), Int(1), Obj(V_DISPATCH(&upper)), Int(1), Int(0)});
    EXPECT_EQ(s.lastHr, S_OK);
    EXPECT_EQ(V_BOOL(&ok), VARIANT_TRUE);
    s.Call("regionMatches", {Bool(true), Int(1), Obj(V_DISPATCH(&upper)), Int(1), Int(6)});
    EXPECT_EQ(s.lastHr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(s.exception.scode), 0x80040200u);
    ASSERT_NE(s.exception.bstrDescription, nullptr);
    EXPECT_EQ(std::wstring(s.exception.bstrDescription), L"Index out of bounds");
    ::SysFreeString(s.exception.bstrDescription);
    ::SysFreeString(s.exception.bstrSource);
    ::SysFreeString(s.exception.bstrHelpFile);
    ::VariantClear(&upper);

    VARIANT five = s.Call("valueOfLong", {Int(-5)});
    ASSERT_EQ(V_VT(&five), VT_DISPATCH);
    EXPECT_EQ(Script(V_DISPATCH(&five)).Text("toString"), L"-5");
    EXPECT_EQ(s.Text("toString"), L"hello") << "the caller's buffer is untouched";
    ::VariantClear(&five);

    s.Call("clear");
    EXPECT_EQ(s.Long("length"), 0);
    object->Release();
}

TEST_F(StringsCom, CreatedByClassIdAndCalledThroughTheVtable) {
    _CString* a = nullptr;
    ASSERT_EQ(::CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, kInterfaceId,
                                 reinterpret_cast<void**>(&a)),
              S_OK);
    BSTR text = ::SysAllocString(L"ab");
    EXPECT_EQ(a->append(text), S_OK);
    ::SysFreeString(text);
    double hash = 0;
    EXPECT_EQ(a->hashCode(&hash), S_OK);
    EXPECT_EQ(hash, 97.0 * 31 + 98);

    SAFEARRAY* bytes = nullptr;
    VARIANT_BOOL got = VARIANT_FALSE;
    EXPECT_EQ(a->getBytes(1, 2, &bytes, &got), S_OK);
    EXPECT_EQ(got, VARIANT_TRUE);
    ASSERT_NE(bytes, nullptr);
    LONG upper = -1;
    ::SafeArrayGetUBound(bytes, 1, &upper);
    EXPECT_EQ(upper, 1);
    SAFEARRAY* before = bytes;
    EXPECT_EQ(a->getBytes(2, 3, &bytes, &got), S_OK);
    EXPECT_EQ(got, VARIANT_FALSE);
    EXPECT_EQ(bytes, before) << "dst stays as it was";
    ::SafeArrayDestroy(bytes);

    _CString* b = nullptr;
    ASSERT_EQ(a->valueOfLong(12, &b), S_OK);
    VARIANT_BOOL equal = VARIANT_TRUE;
    EXPECT_EQ(a->equals(b, &equal), S_OK);
    EXPECT_EQ(equal, VARIANT_FALSE);
    EXPECT_EQ(a->equals(nullptr, &equal), S_OK);
    EXPECT_EQ(equal, VARIANT_FALSE) << "a null object is never equal";
    LONG cmp = 0;
    EXPECT_EQ(a->compareTo(nullptr, &cmp), S_OK);
    EXPECT_EQ(cmp, -1);
    VARIANT_BOOL matches = VARIANT_TRUE;
    EXPECT_NE(a->regionMatches(VARIANT_FALSE, 1, nullptr, 1, 1, &matches), S_OK)
        << "a null object is raised";
    b->Release();

    // The type library: names, dispatch identifiers and help strings.
    ITypeInfo* info = nullptr;
    ASSERT_EQ(a->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(0x60030000, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name), L"append");
    EXPECT_EQ(std::wstring(doc), L"Appends str to existing string-buffer");
    ::SysFreeString(name);
    ::SysFreeString(doc);
    ASSERT_EQ(info->GetDocumentation(0x60030029, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(doc),
              L"Clears the content of the buffer, and resets it's capacity to DEFALT_SIZE.");
    ::SysFreeString(name);
    ::SysFreeString(doc);
    ITypeLib* library = nullptr;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name), L"Strings");
    EXPECT_EQ(std::wstring(doc), L"Kestrane String class");
    ::SysFreeString(name);
    ::SysFreeString(doc);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kLibraryId));
    library->ReleaseTLibAttr(attributes);
    library->Release();
    info->Release();
    a->Release();
}

}  // namespace
