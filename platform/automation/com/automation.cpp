// The automation layer over COM: apartment initialisation counted per thread, objects made
// by class name (ProgID) through CoCreateInstance and reached late-bound through IDispatch,
// and our Variant carried to and from OLE VARIANT values. Classes registered with
// RegisterClass are made here too, before the system's classes are looked up.
#include "platform/automation/automation.h"

// windows.h first: the other system headers build on it.
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>
// The system names its window-class call so; ours is the automation class registry.
#undef RegisterClass

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"

namespace quorvel::platform {

namespace {

// ---- Apartment --------------------------------------------------------------------------

using CoInitializeFn = HRESULT(WINAPI*)(LPVOID);
using CoUninitializeFn = void(WINAPI*)();

struct Ole32 {
  CoInitializeFn init = nullptr;
  CoUninitializeFn uninit = nullptr;
};

// CoInitialize and CoUninitialize, looked up by name in ole32 on first use.
const Ole32& Apartment() {
  static const Ole32 f = [] {
    Ole32 o;
    HMODULE m = GetModuleHandleW(L"ole32.dll");
    if (!m) m = LoadLibraryW(L"ole32.dll");
    if (m) {
      o.init = reinterpret_cast<CoInitializeFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "CoInitialize")));
      o.uninit = reinterpret_cast<CoUninitializeFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "CoUninitialize")));
    }
    return o;
  }();
  return f;
}

// One entry per Initialize of this thread not yet undone: whether COM accepted it (and so
// needs its CoUninitialize).
thread_local std::vector<bool> tInits;

// ---- Names ------------------------------------------------------------------------------

std::wstring Wide(std::string_view ansi) {
  ansi = ansi.substr(0, ansi.find('\0'));
  if (ansi.empty() || ansi.size() > static_cast<std::size_t>(INT_MAX)) return std::wstring();
  const int n = static_cast<int>(ansi.size());
  const int units = MultiByteToWide(kAnsiCodePage, 0, ansi.data(), n, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWide(kAnsiCodePage, 0, ansi.data(), n, reinterpret_cast<char16_t*>(out.data()),
                      units) != units) {
    return std::wstring();
  }
  return out;
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, ClassFactory, std::less<>> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// ---- Values -----------------------------------------------------------------------------

class DispatchObject;
bool ToVariant(const Variant& in, VARIANT& out);
bool FromVariant(const VARIANT& in, Variant& out);

// An IDispatch behind our handle: holds one COM reference for the handle's object.
class DispatchObject final : public AutomationObject {
 public:
  explicit DispatchObject(IDispatch* d) : d_(d) { d_->AddRef(); }
  ~DispatchObject() override { d_->Release(); }
  IDispatch* get() const { return d_; }

  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    std::wstring name = Wide(member);
    if (name.empty()) return false;
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(d_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return false;

    // The arguments go in last to first.
    std::vector<VARIANT> list(args.size());
    for (VARIANT& v : list) VariantInit(&v);
    struct ClearAll {
      std::vector<VARIANT>& l;
      ~ClearAll() {
        for (VARIANT& v : l) VariantClear(&v);
      }
    } clearAll{list};
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (!ToVariant(*args[i], list[args.size() - 1 - i])) return false;
    }
    DISPPARAMS params{};
    params.rgvarg = list.empty() ? nullptr : list.data();
    params.cArgs = static_cast<UINT>(list.size());
    WORD flags = DISPATCH_METHOD;
    DISPID putId = DISPID_PROPERTYPUT;
    if (kind == InvokeKind::kGet) {
      flags = DISPATCH_PROPERTYGET;
    } else if (kind == InvokeKind::kPut) {
      if (list.empty()) return false;
      flags = V_VT(&list[0]) == VT_DISPATCH ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
      params.rgdispidNamedArgs = &putId;
      params.cNamedArgs = 1;
    }
    VARIANT out;
    VariantInit(&out);
    EXCEPINFO error{};
    UINT badArg = 0;
    HRESULT hr = d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                            kind == InvokeKind::kPut ? nullptr : &out, &error, &badArg);
    // A failing member may describe itself; nothing here shows it.
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    if (FAILED(hr)) {
      VariantClear(&out);
      return false;
    }
    const bool ok = FromVariant(out, result);
    VariantClear(&out);
    return ok;
  }

 private:
  IDispatch* d_;
};

bool ToVariant(const Variant& in, VARIANT& out) {
  VariantInit(&out);
  switch (in.kind()) {
    case Variant::Kind::kEmpty:
      return true;
    case Variant::Kind::kBool:
      V_VT(&out) = VT_BOOL;
      V_BOOL(&out) = *in.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case Variant::Kind::kInt:
      V_VT(&out) = VT_I4;
      V_I4(&out) = *in.AsInt();
      return true;
    case Variant::Kind::kDouble:
      V_VT(&out) = VT_R8;
      V_R8(&out) = *in.AsDouble();
      return true;
    case Variant::Kind::kString: {
      const std::u16string& s = *in.AsString();
      if (s.size() > UINT_MAX / 4) return false;
      BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                                 static_cast<UINT>(s.size()));
      if (!b) return false;
      V_VT(&out) = VT_BSTR;
      V_BSTR(&out) = b;
      return true;
    }
    case Variant::Kind::kByteArray: {
      const std::string& bytes = in.AsByteArray()->bytes;
      if (bytes.size() > ULONG_MAX / 2) return false;
      SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!a) return false;
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(a, &data))) {
        SafeArrayDestroy(a);
        return false;
      }
      if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
      SafeArrayUnaccessData(a);
      V_VT(&out) = VT_ARRAY | VT_UI1;
      V_ARRAY(&out) = a;
      return true;
    }
    case Variant::Kind::kObject: {
      // Only the system's objects travel; one of our own classes has no IDispatch.
      auto* d = dynamic_cast<DispatchObject*>(in.AsObject()->get());
      if (!d) return false;
      d->get()->AddRef();
      V_VT(&out) = VT_DISPATCH;
      V_DISPATCH(&out) = d->get();
      return true;
    }
  }
  return false;
}

Variant WrapDispatch(IDispatch* d) {
  if (!d) return Variant();
  auto* object = new (std::nothrow) DispatchObject(d);
  return object ? Variant(ComObject(object)) : Variant();
}

bool FromByteArray(SAFEARRAY* a, Variant& out) {
  if (!a || SafeArrayGetDim(a) != 1) return false;
  LONG low = 0, high = -1;
  if (FAILED(SafeArrayGetLBound(a, 1, &low)) || FAILED(SafeArrayGetUBound(a, 1, &high))) {
    return false;
  }
  const LONGLONG count = static_cast<LONGLONG>(high) - low + 1;
  std::string bytes;
  if (count > 0) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(a, &data))) return false;
    bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(count));
    SafeArrayUnaccessData(a);
  }
  out = VariantFromBytes(std::move(bytes));
  return true;
}

bool FromVariant(const VARIANT& given, Variant& out) {
  out.Clear();
  VARIANT in;
  VariantInit(&in);
  // A value by reference is read through its reference.
  if (FAILED(VariantCopyInd(&in, const_cast<VARIANT*>(&given)))) return false;
  struct Clear {
    VARIANT& v;
    ~Clear() { VariantClear(&v); }
  } clear{in};
  switch (V_VT(&in)) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_BOOL:
      out = Variant(V_BOOL(&in) != VARIANT_FALSE);
      return true;
    case VT_I1:
      out = Variant(static_cast<std::int32_t>(V_I1(&in)));
      return true;
    case VT_UI1:
      out = Variant(static_cast<std::int32_t>(V_UI1(&in)));
      return true;
    case VT_I2:
      out = Variant(static_cast<std::int32_t>(V_I2(&in)));
      return true;
    case VT_UI2:
      out = Variant(static_cast<std::int32_t>(V_UI2(&in)));
      return true;
    case VT_I4:
    case VT_INT:
      out = Variant(static_cast<std::int32_t>(V_I4(&in)));
      return true;
    case VT_BSTR: {
      BSTR b = V_BSTR(&in);
      out = Variant(b ? std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b))
                      : std::u16string());
      return true;
    }
    case VT_DISPATCH:
      out = WrapDispatch(V_DISPATCH(&in));
      return true;
    case VT_UNKNOWN: {
      IUnknown* u = V_UNKNOWN(&in);
      IDispatch* d = nullptr;
      if (u && SUCCEEDED(u->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
        out = WrapDispatch(d);
        d->Release();
      }
      return true;
    }
    case VT_ARRAY | VT_UI1:
      return FromByteArray(V_ARRAY(&in), out);
    default:
      break;
  }
  // Every other number (unsigned, 64-bit, currency, decimal, date, float) as a double.
  VARIANT number;
  VariantInit(&number);
  if (SUCCEEDED(VariantChangeType(&number, &in, 0, VT_R8))) {
    out = Variant(V_R8(&number));
    VariantClear(&number);
    return true;
  }
  return false;
}

bool CreateRegistered(std::string_view className, ComObject& out) {
  ClassFactory factory = nullptr;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(FoldName(className));
    if (it == r.classes.end()) return false;
    factory = it->second;
  }
  AutomationObject* object = factory();
  if (!object) return false;
  out = ComObject(object);
  return true;
}

}  // namespace

// ---- Initialisation and creation --------------------------------------------------------

int Initialize() {
  const bool first = tInits.empty();
  const Ole32& ole = Apartment();
  HRESULT hr = ole.init ? ole.init(nullptr) : E_FAIL;
  tInits.push_back(SUCCEEDED(hr));
  return first ? 0 : 1;
}

void Uninitialize() {
  if (tInits.empty()) return;
  const bool accepted = tInits.back();
  tInits.pop_back();
  if (accepted && Apartment().uninit) Apartment().uninit();
}

bool IsInitialized() { return !tInits.empty(); }

void RegisterClass(std::string_view className, ClassFactory factory) {
  if (!factory) return;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.classes[FoldName(className)] = factory;
}

bool CreateObject(std::string_view className, ComObject& out) {
  if (!IsInitialized()) return false;
  if (CreateRegistered(className, out)) return true;
  std::wstring progId = Wide(className);
  if (progId.empty()) return false;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progId.c_str(), &clsid))) return false;
  IDispatch* d = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IDispatch, reinterpret_cast<void**>(&d))) ||
      !d) {
    return false;
  }
  OleRun(d);  // starts a class that needs it; a failure here is the object's own business
  auto* object = new (std::nothrow) DispatchObject(d);
  d->Release();
  if (!object) return false;
  out = ComObject(object);
  return true;
}

}  // namespace quorvel::platform
