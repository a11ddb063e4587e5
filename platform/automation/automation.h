// Automation objects: counted object handles, Variant values, per-thread initialisation,
// creation by class name, and late-bound property and method access by member name.
//
// Every failure is silent: a set reports false, a get or call yields the empty Variant, and a
// conversion that cannot be made yields the empty value of the kind asked for. Nothing
// throws. Text crossing this layer as std::string is in the ANSI code page (936).
//
// Backends. On Linux the layer is our own object model: the classes are those registered
// with RegisterClass, which include the class libraries of platform/regexp
// ("VBScript.RegExp"). On Windows it is COM:
// - Initialize and Uninitialize also call CoInitialize (a single-threaded apartment) and
//   the matching CoUninitialize, looked up by name in ole32; their results and
//   IsInitialized keep this header's counting.
// - CreateObject makes a class registered with RegisterClass first; any other name is a
//   ProgID of the system (CLSIDFromProgID, CoCreateInstance for IDispatch, then OleRun).
// - Objects of the system are reached through IDispatch (GetIDsOfNames, then Invoke as a
//   property get, a property put, or a method), so how member names compare is the
//   object's business. Values travel as VARIANTs: a string as a BSTR, a byte array as a
//   SAFEARRAY of VT_UI1, an object as its IDispatch. An object of one of our own classes
//   cannot be handed to a system object (that call fails). Numbers the Variant has no kind
//   for (unsigned, 64-bit, currency, decimal, date, float) come back as doubles, a null as
//   the empty Variant; any other array fails the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvel::platform {

class Variant;

// How a member is reached.
enum class InvokeKind { kGet, kPut, kMethod };

// The arguments of one invocation, first argument first.
using InvokeArgs = std::span<const Variant* const>;

// Base of every automation class. Objects are reference counted and live as long as some
// handle holds them.
class AutomationObject {
 public:
  AutomationObject() = default;
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;
  virtual ~AutomationObject() = default;

  // Reaches the member named `member` (ASCII letters compare without case). A put passes the
  // new value as the last argument. Returns false when the member does not exist for that
  // kind, the arguments do not fit or the member fails; `result` is then left empty.
  virtual bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args,
                      Variant& result) = 0;

  void AddRef() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  std::atomic<long> refs_{0};
};

// A handle holding one counted reference to an automation object, or nothing.
class ComObject {
 public:
  ComObject() noexcept = default;
  // Takes a new reference to `object` (nullptr gives the empty handle).
  explicit ComObject(AutomationObject* object) noexcept : p_(object) {
    if (p_) p_->AddRef();
  }
  ComObject(const ComObject& other) noexcept : ComObject(other.p_) {}
  ComObject(ComObject&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComObject& operator=(const ComObject& other) noexcept {
    ComObject(other).swap(*this);
    return *this;
  }
  ComObject& operator=(ComObject&& other) noexcept {
    ComObject(std::move(other)).swap(*this);
    return *this;
  }
  ~ComObject() { Clear(); }

  // Releases the reference; clearing an empty handle does nothing.
  void Clear() noexcept {
    if (auto* p = std::exchange(p_, nullptr)) p->Release();
  }
  bool IsEmpty() const noexcept { return p_ == nullptr; }
  AutomationObject* get() const noexcept { return p_; }
  void swap(ComObject& other) noexcept { std::swap(p_, other.p_); }

  friend bool operator==(const ComObject& a, const ComObject& b) noexcept { return a.p_ == b.p_; }

 private:
  AutomationObject* p_ = nullptr;
};

// An automation value: empty, bool, 32-bit integer, double, UTF-16 string, byte array or
// object. Copies are deep (an object value takes one more reference to the same object).
class Variant {
 public:
  enum class Kind { kEmpty, kBool, kInt, kDouble, kString, kByteArray, kObject };
  struct ByteArray {
    std::string bytes;
    friend bool operator==(const ByteArray&, const ByteArray&) = default;
  };

  Variant() noexcept = default;
  explicit Variant(bool b) : v_(b) {}
  explicit Variant(std::int32_t i) : v_(i) {}
  explicit Variant(double d) : v_(d) {}
  explicit Variant(std::u16string s) : v_(std::move(s)) {}
  explicit Variant(const char16_t* s) : v_(std::u16string(s ? s : u"")) {}
  // Narrow strings have no code page here: use VariantFromAnsi or VariantFromBytes.
  Variant(const char*) = delete;
  explicit Variant(ByteArray a) : v_(std::move(a)) {}
  explicit Variant(ComObject o) : v_(std::move(o)) {}

  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
  bool IsEmpty() const noexcept { return kind() == Kind::kEmpty; }
  void Clear() noexcept { v_ = std::monostate{}; }

  // The held value of one kind; nullptr when the Variant holds another kind.
  const bool* AsBool() const noexcept { return std::get_if<bool>(&v_); }
  const std::int32_t* AsInt() const noexcept { return std::get_if<std::int32_t>(&v_); }
  const double* AsDouble() const noexcept { return std::get_if<double>(&v_); }
  const std::u16string* AsString() const noexcept { return std::get_if<std::u16string>(&v_); }
  const ByteArray* AsByteArray() const noexcept { return std::get_if<ByteArray>(&v_); }
  const ComObject* AsObject() const noexcept { return std::get_if<ComObject>(&v_); }

 private:
  std::variant<std::monostate, bool, std::int32_t, double, std::u16string, ByteArray, ComObject> v_;
};

// ---- Initialisation and creation --------------------------------------------------------

// Counted per thread. Initialize returns 0 on the thread's first call and 1 when the thread
// was already initialised. Uninitialize undoes one Initialize; unmatched calls are ignored.
int Initialize();
void Uninitialize();
bool IsInitialized();

// Makes the object of a registered class (names compare without ASCII case), on Windows
// else of the system's class of that ProgID. On success `out` holds the new object and the
// result is true; on failure (unknown class, or a thread that has not initialised) `out` is
// left as it was.
bool CreateObject(std::string_view className, ComObject& out);

// A class factory: returns a new object, or nullptr.
using ClassFactory = AutomationObject* (*)();
// Adds a class to the registry of this process (a later registration of the same name
// replaces it). It is never registered with the system.
void RegisterClass(std::string_view className, ClassFactory factory);

// ---- Late-bound access ------------------------------------------------------------------

// Full form: false on any failure (empty handle, unknown member, unfit arguments, failing
// member); `result` is empty then.
bool Invoke(const ComObject& object, std::string_view member, InvokeKind kind, InvokeArgs args,
            Variant& result);

bool SetProperty(const ComObject& object, std::string_view name, const Variant& value);

template <class... Args>
Variant GetProperty(const ComObject& object, std::string_view name, const Args&... args) {
  const Variant* list[] = {&args..., nullptr};
  Variant result;
  Invoke(object, name, InvokeKind::kGet, InvokeArgs(list, sizeof...(Args)), result);
  return result;
}

template <class... Args>
Variant CallMethod(const ComObject& object, std::string_view name, const Args&... args) {
  const Variant* list[] = {&args..., nullptr};
  Variant result;
  Invoke(object, name, InvokeKind::kMethod, InvokeArgs(list, sizeof...(Args)), result);
  return result;
}

// ---- Conversions ------------------------------------------------------------------------

// The object a Variant holds; the empty handle for any other kind.
ComObject VariantToObject(const Variant& v);
// A number: integers and doubles as they are, a bool as -1 or 0, a string that is wholly a
// decimal number as that number; 0 for anything else.
double VariantToNumber(const Variant& v);
// The value read as a string: a string as it is, a byte array as UTF-16LE code units (an odd
// last byte ignored), a number in decimal, a bool as "True" or "False". Returns false (and
// leaves `out` empty) for the empty Variant and an object.
bool VariantToWide(const Variant& v, std::u16string& out);

// A byte array holding the bytes.
Variant VariantFromBytes(std::string bytes);
// A string gives its UTF-16LE code units without a terminator, a byte array its bytes;
// anything else gives no bytes.
std::string VariantToBytes(const Variant& v);

// A string converted from the ANSI code page, ending before the first zero byte.
Variant VariantFromAnsi(std::string_view ansi);
// The value as a string (VariantToWide), ending before its first zero unit, converted to the
// ANSI code page; empty when it cannot become a string.
std::string VariantToAnsi(const Variant& v);

}  // namespace quorvel::platform
