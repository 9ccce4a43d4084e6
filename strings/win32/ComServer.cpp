// Strings.dll as an in-process COM server: the class CString behind its dual
// interface _CString. Calls by name go through the type library embedded in
// the library (resource TYPELIB 1); calls through the vtable reach the
// members directly. A member's run-time error comes back as a failed HRESULT
// (the error number; VB-style numbers below 0x10000 as 0x800A0000 + number)
// with the source and description as the thread's error info.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <shlwapi.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "Strings_h.h"
#include "common/RunError.h"
#include "platform/CodePage.h"
#include "strings/CString.h"

namespace {

using Text = qb::strings::CString::Text;
using Impl = qb::strings::CString;

HINSTANCE gModule = nullptr;
std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};

constexpr char kProgId[] = "Strings.CString";
constexpr char kClsid[] = "{6E3FB24B-CAC7-4874-BDD5-692D441B8817}";
constexpr char kLibid[] = "{930B4EB6-1DDF-4188-87FC-019A84B2E4FF}";
const CLSID kClassId = {
    0x6E3FB24B, 0xCAC7, 0x4874, {0xBD, 0xD5, 0x69, 0x2D, 0x44, 0x1B, 0x88, 0x17}};
const IID kInterfaceId = {
    0x0B9D6939, 0x0DAF, 0x4F2F, {0xBD, 0x39, 0x82, 0xE0, 0xB9, 0x77, 0xCB, 0x99}};
const GUID kLibraryId = {
    0x930B4EB6, 0x1DDF, 0x4188, {0x87, 0xFC, 0x01, 0x9A, 0x84, 0xB2, 0xE4, 0xFF}};

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(gModule, path, MAX_PATH * 4);
    return std::wstring(path, n);
}

Text FromBstr(BSTR b) {
    return b ? Text(reinterpret_cast<const char16_t*>(b), ::SysStringLen(b)) : Text();
}

HRESULT ToBstr(const Text& t, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(t.data()),
                               static_cast<UINT>(t.size()));
    return *out || t.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT ToBytes(const std::vector<uint8_t>& bytes, SAFEARRAY** out) {
    if (!out)
        return E_POINTER;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array)
        return E_OUTOFMEMORY;
    if (!bytes.empty()) {
        void* data = nullptr;
        if (FAILED(::SafeArrayAccessData(array, &data))) {
            ::SafeArrayDestroy(array);
            return E_FAIL;
        }
        std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    *out = array;
    return S_OK;
}

VARIANT_BOOL Vb(bool b) {
    return b ? VARIANT_TRUE : VARIANT_FALSE;
}

// The text of another _CString as a buffer of this implementation (null
// stays null): the other object may be any implementation of the interface.
HRESULT Other(_CString* other, std::optional<Impl>& out) {
    out.reset();
    if (!other)
        return S_OK;
    BSTR text = nullptr;
    const HRESULT hr = other->toString(&text);
    if (FAILED(hr))
        return hr;
    out.emplace();
    out->append(FromBstr(text));
    ::SysFreeString(text);
    return S_OK;
}

const Impl* Ptr(const std::optional<Impl>& o) {
    return o ? &*o : nullptr;
}

HRESULT Fail(const qb::RunError& e) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(::CreateErrorInfo(&create))) {
        const std::wstring source(e.Source().begin(), e.Source().end());
        std::wstring description;
        for (unsigned char c : e.Description())
            description += static_cast<wchar_t>(qb::text::AnsiToWide(static_cast<char>(c)));
        create->SetGUID(kInterfaceId);
        create->SetSource(const_cast<LPOLESTR>(source.c_str()));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            ::SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    const uint32_t number = static_cast<uint32_t>(e.Number());
    return static_cast<HRESULT>(number >= 0x10000 ? number : 0x800A0000u | number);
}

// Runs a member body; a run-time error or exhausted memory becomes the
// HRESULT.
template <class Body>
HRESULT Guard(Body body) {
    try {
        return body();
    } catch (const qb::RunError& e) {
        return Fail(e);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Runs a member that answers through its result pointer: a missing pointer
// is E_POINTER, otherwise the computed answer is stored, under Guard.
template <class T, class Compute>
HRESULT Answer(T* result, Compute compute) {
    return Guard([&] {
        if (!result)
            return E_POINTER;
        *result = compute();
        return S_OK;
    });
}

ITypeInfo* TypeInfo() {
    static ITypeInfo* info = [] {
        ITypeLib* library = nullptr;
        ITypeInfo* found = nullptr;
        if (SUCCEEDED(::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library))) {
            library->GetTypeInfoOfGuid(kInterfaceId, &found);
            library->Release();
        }
        return found;
    }();
    return info;
}

class ComCString final : public _CString, public ISupportErrorInfo {
  public:
    ComCString() { ++gObjects; }
    explicit ComCString(Impl&& value) : impl_(std::move(value)) { ++gObjects; }
    ~ComCString() { --gObjects; }

    static HRESULT Wrap(Impl&& value, _CString** out) {
        if (!out)
            return E_POINTER;
        ComCString* object = new (std::nothrow) ComCString(std::move(value));
        if (!object)
            return E_OUTOFMEMORY;
        *out = object;
        return S_OK;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kInterfaceId) {
            *out = static_cast<_CString*>(this);
        } else if (iid == IID_ISupportErrorInfo) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == kInterfaceId ? S_OK : S_FALSE;
    }

    // IDispatch, through the type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = TypeInfo() ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        if (!TypeInfo())
            return TYPE_E_CANTLOADLIBRARY;
        TypeInfo()->AddRef();
        *out = TypeInfo();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!TypeInfo())
            return TYPE_E_CANTLOADLIBRARY;
        return ::DispGetIDsOfNames(TypeInfo(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argError) override {
        if (!TypeInfo())
            return TYPE_E_CANTLOADLIBRARY;
        ::SetErrorInfo(0, nullptr);
        const HRESULT hr = ::DispInvoke(static_cast<_CString*>(this), TypeInfo(), id, flags, params,
                                        result, exception, argError);
        return hr;
    }

    // _CString
    HRESULT STDMETHODCALLTYPE append(BSTR str) override {
        return Guard([&] {
            impl_.append(FromBstr(str));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE charAt(LONG index, BSTR* result) override {
        return Guard([&] { return ToBstr(impl_.charAt(index), result); });
    }
    HRESULT STDMETHODCALLTYPE toCharArray(SAFEARRAY** result) override {
        return Guard([&] { return ToBytes(impl_.toCharArray(), result); });
    }
    HRESULT STDMETHODCALLTYPE replace(BSTR* oldChar, BSTR* newChar, _CString** result) override {
        return Guard([&] {
            return Wrap(impl_.replace(FromBstr(oldChar ? *oldChar : nullptr),
                                      FromBstr(newChar ? *newChar : nullptr)),
                        result);
        });
    }
    HRESULT STDMETHODCALLTYPE toLowerCase(_CString** result) override {
        return Guard([&] { return Wrap(impl_.toLowerCase(), result); });
    }
    HRESULT STDMETHODCALLTYPE toUpperCase(_CString** result) override {
        return Guard([&] { return Wrap(impl_.toUpperCase(), result); });
    }
    HRESULT STDMETHODCALLTYPE valueOfBool(VARIANT_BOOL b, _CString** result) override {
        return Guard([&] { return Wrap(Impl::valueOfBool(b != VARIANT_FALSE), result); });
    }
    HRESULT STDMETHODCALLTYPE valueOfLong(LONG l, _CString** result) override {
        return Guard([&] { return Wrap(Impl::valueOfLong(l), result); });
    }
    HRESULT STDMETHODCALLTYPE valueOfInt(SHORT i, _CString** result) override {
        return Guard([&] { return Wrap(Impl::valueOfInt(i), result); });
    }
    HRESULT STDMETHODCALLTYPE valueOfDouble(DOUBLE dbl, _CString** result) override {
        return Guard([&] { return Wrap(Impl::valueOfDouble(dbl), result); });
    }
    HRESULT STDMETHODCALLTYPE valueOfSingle(FLOAT sng, _CString** result) override {
        return Guard([&] { return Wrap(Impl::valueOfSingle(sng), result); });
    }
    HRESULT STDMETHODCALLTYPE trim(_CString** result) override {
        return Guard([&] { return Wrap(impl_.trim(), result); });
    }
    HRESULT STDMETHODCALLTYPE getBytes(LONG srcBegin, LONG srcEnd, SAFEARRAY** dst,
                                       VARIANT_BOOL* result) override {
        return Guard([&] {
            if (!result || !dst)
                return E_POINTER;
            std::vector<uint8_t> bytes;
            *result = VARIANT_FALSE;
            if (!impl_.getBytes(srcBegin, srcEnd, bytes))
                return S_OK;  // dst stays as it was
            SAFEARRAY* array = nullptr;
            const HRESULT hr = ToBytes(bytes, &array);
            if (FAILED(hr))
                return hr;
            if (*dst)
                ::SafeArrayDestroy(*dst);
            *dst = array;
            *result = VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE equals(_CString* aCString, VARIANT_BOOL* result) override {
        return Compare(aCString, result, [](const Impl& s, const Impl* o) { return s.equals(o); });
    }
    HRESULT STDMETHODCALLTYPE load(BSTR* fileName) override {
        return Guard([&] {
            impl_.load(FromBstr(fileName ? *fileName : nullptr));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE loadBinary(BSTR* fileName) override {
        return Guard([&] {
            impl_.loadBinary(FromBstr(fileName ? *fileName : nullptr));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE loadFTP(BSTR host, BSTR user, BSTR pwd, BSTR fileName) override {
        return Guard([&] {
            impl_.loadFTP(FromBstr(host), FromBstr(user), FromBstr(pwd), FromBstr(fileName));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE saveFTP(BSTR host, BSTR user, BSTR pwd, BSTR fileName,
                                      VARIANT_BOOL* result) override {
        return Answer(result, [&] {
            return Vb(
                impl_.saveFTP(FromBstr(host), FromBstr(user), FromBstr(pwd), FromBstr(fileName)));
        });
    }
    HRESULT STDMETHODCALLTYPE loadHTTP(BSTR host, BSTR fileName) override {
        return Guard([&] {
            impl_.loadHTTP(FromBstr(host), FromBstr(fileName));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE save(BSTR* fileName, VARIANT_BOOL* result) override {
        return Answer(result,
                      [&] { return Vb(impl_.save(FromBstr(fileName ? *fileName : nullptr))); });
    }
    HRESULT STDMETHODCALLTYPE equalsIgnoreCase(_CString* aCString, VARIANT_BOOL* result) override {
        return Compare(aCString, result,
                       [](const Impl& s, const Impl* o) { return s.equalsIgnoreCase(o); });
    }
    HRESULT STDMETHODCALLTYPE equalsVB(BSTR aString, VARIANT_BOOL* result) override {
        return Answer(result, [&] { return Vb(impl_.equalsVB(FromBstr(aString))); });
    }
    HRESULT STDMETHODCALLTYPE equalsIgnoreCaseVB(BSTR aString, VARIANT_BOOL* result) override {
        return Answer(result, [&] { return Vb(impl_.equalsIgnoreCaseVB(FromBstr(aString))); });
    }
    HRESULT STDMETHODCALLTYPE compareTo(_CString* aCString, LONG* result) override {
        return Number(aCString, result,
                      [](const Impl& s, const Impl* o) { return s.compareTo(o); });
    }
    HRESULT STDMETHODCALLTYPE compareToIgnoreCase(_CString* aCString, LONG* result) override {
        return Number(aCString, result,
                      [](const Impl& s, const Impl* o) { return s.compareToIgnoreCase(o); });
    }
    HRESULT STDMETHODCALLTYPE regionMatches(VARIANT_BOOL ignoreCase, LONG toffset,
                                            _CString* otherString, LONG ooffset, LONG compareLength,
                                            VARIANT_BOOL* result) override {
        return Guard([&] {
            if (!result)
                return E_POINTER;
            std::optional<Impl> other;
            const HRESULT hr = Other(otherString, other);
            if (FAILED(hr))
                return hr;
            *result = Vb(impl_.regionMatches(ignoreCase != VARIANT_FALSE, toffset, Ptr(other),
                                             ooffset, compareLength));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE subStringVB(LONG beginIndex, VARIANT endIndex,
                                          BSTR* result) override {
        return Guard([&] {
            std::optional<double> end;
            const HRESULT hr = OptionalNumber(endIndex, end);
            return FAILED(hr) ? hr : ToBstr(impl_.subStringVB(beginIndex, end), result);
        });
    }
    HRESULT STDMETHODCALLTYPE subString(LONG beginIndex, VARIANT endIndex,
                                        _CString** result) override {
        return Guard([&] {
            std::optional<double> end;
            const HRESULT hr = OptionalNumber(endIndex, end);
            return FAILED(hr) ? hr : Wrap(impl_.subString(beginIndex, end), result);
        });
    }
    HRESULT STDMETHODCALLTYPE startsWith(_CString* prefix, VARIANT_BOOL* result) override {
        return Compare(prefix, result,
                       [](const Impl& s, const Impl* o) { return s.startsWith(o); });
    }
    HRESULT STDMETHODCALLTYPE endsWith(_CString* suffix, VARIANT_BOOL* result) override {
        return Compare(suffix, result, [](const Impl& s, const Impl* o) { return s.endsWith(o); });
    }
    HRESULT STDMETHODCALLTYPE startsWithVB(BSTR prefix, VARIANT_BOOL* result) override {
        return Answer(result, [&] { return Vb(impl_.startsWithVB(FromBstr(prefix))); });
    }
    HRESULT STDMETHODCALLTYPE endsWithVB(BSTR suffix, VARIANT_BOOL* result) override {
        return Answer(result, [&] { return Vb(impl_.endsWithVB(FromBstr(suffix))); });
    }
    HRESULT STDMETHODCALLTYPE indexOf(_CString* subString, LONG* result) override {
        return Number(subString, result, [](const Impl& s, const Impl* o) { return s.indexOf(o); });
    }
    HRESULT STDMETHODCALLTYPE lastIndexOf(_CString* subString, LONG* result) override {
        return Number(subString, result,
                      [](const Impl& s, const Impl* o) { return s.lastIndexOf(o); });
    }
    HRESULT STDMETHODCALLTYPE indexOfVB(BSTR subString, LONG* result) override {
        return Answer(result, [&] { return impl_.indexOfVB(FromBstr(subString)); });
    }
    HRESULT STDMETHODCALLTYPE lastIndexOfVB(BSTR subString, LONG* result) override {
        return Answer(result, [&] { return impl_.lastIndexOfVB(FromBstr(subString)); });
    }
    HRESULT STDMETHODCALLTYPE hashCode(DOUBLE* result) override {
        return Answer(result, [&] { return impl_.hashCode(); });
    }
    HRESULT STDMETHODCALLTYPE toString(BSTR* result) override {
        return Guard([&] { return ToBstr(impl_.toString(), result); });
    }
    HRESULT STDMETHODCALLTYPE length(LONG* result) override {
        if (!result)
            return E_POINTER;
        *result = impl_.length();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getCapacity(LONG* result) override {
        if (!result)
            return E_POINTER;
        *result = impl_.getCapacity();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE setCapacity(LONG newSize) override {
        return Guard([&] {
            impl_.setCapacity(newSize);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE clear() override {
        return Guard([&] {
            impl_.clear();
            return S_OK;
        });
    }

  private:
    // A member that compares with or searches another string: a failure of
    // any kind answers with the member's neutral result instead of an error.
    template <class T, class Compute>
    HRESULT WithOther(_CString* other, T* result, T neutral, Compute compute) {
        if (!result)
            return E_POINTER;
        *result = neutral;
        try {
            std::optional<Impl> o;
            if (SUCCEEDED(Other(other, o)))
                *result = compute(impl_, Ptr(o));
        } catch (...) {
        }
        return S_OK;
    }
    template <class Test>
    HRESULT Compare(_CString* other, VARIANT_BOOL* result, Test test) {
        return WithOther<VARIANT_BOOL>(
            other, result, VARIANT_FALSE,
            [&](const Impl& s, const Impl* o) { return Vb(test(s, o)); });
    }
    template <class Measure>
    HRESULT Number(_CString* other, LONG* result, Measure measure) {
        return WithOther<LONG>(other, result, -1, measure);
    }
    static HRESULT OptionalNumber(const VARIANT& v, std::optional<double>& out) {
        out.reset();
        if (V_VT(&v) == VT_EMPTY || (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND))
            return S_OK;
        VARIANT number;
        ::VariantInit(&number);
        const HRESULT hr = ::VariantChangeType(&number, const_cast<VARIANT*>(&v), 0, VT_R8);
        if (FAILED(hr))
            return DISP_E_TYPEMISMATCH;
        out = V_R8(&number);
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    Impl impl_;
};

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }  // static object
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ComCString* object = new (std::nothrow) ComCString();
        if (!object)
            return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++gLocks;
        else
            --gLocks;
        return S_OK;
    }
};

ClassFactory gFactory;

bool SetKey(HKEY root, const std::string& path, const char* name, const std::string& value) {
    HKEY key;
    if (::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG rc =
        ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    // The class folds and converts 8-bit text in the system's code page;
    // its tables are built once, before the first object exists.
    static const bool codePageSettled =
        qb::platform::UseCodePage(qb::platform::SystemCodePage().value_or(1252));
    (void)codePageSettled;
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != kClassId)
        return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return gObjects == 0 && gLocks == 0 ? S_OK : S_FALSE;
}

// The class under HKEY_CLASSES_ROOT (apartment-threaded, in this library,
// with its ProgID Strings.CString) and the type library, which also
// registers _CString for marshalling.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    char path[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameA(gModule, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return SELFREG_E_CLASS;
    const std::string clsidKey = std::string("CLSID\\") + kClsid;
    const bool ok =
        SetKey(HKEY_CLASSES_ROOT, clsidKey, nullptr, kProgId) &&
        SetKey(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32", nullptr, path) &&
        SetKey(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment") &&
        SetKey(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, kProgId) &&
        SetKey(HKEY_CLASSES_ROOT, clsidKey + "\\TypeLib", nullptr, kLibid) &&
        SetKey(HKEY_CLASSES_ROOT, clsidKey + "\\VERSION", nullptr, "1.0") &&
        SetKey(HKEY_CLASSES_ROOT, kProgId, nullptr, kProgId) &&
        SetKey(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID", nullptr, kClsid);
    if (!ok)
        return SELFREG_E_CLASS;
    ITypeLib* library = nullptr;
    const std::wstring modulePath = ModulePath();
    if (FAILED(::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library)))
        return SELFREG_E_TYPELIB;
    const HRESULT hr =
        ::RegisterTypeLib(library, const_cast<LPOLESTR>(modulePath.c_str()), nullptr);
    library->Release();
    return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
#if defined(_WIN64)
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    ::UnRegisterTypeLib(kLibraryId, 1, 0, LOCALE_NEUTRAL, kind);
    // SHDeleteKeyA deletes a key with all its subkeys on every system from
    // Windows 98 and NT 4 with Internet Explorer 4 on (RegDeleteTree came
    // with Vista).
    ::SHDeleteKeyA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kClsid).c_str());
    ::SHDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
