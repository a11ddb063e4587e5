// Initialisation and the class registry of our own object model.
#include "platform/automation/automation.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/regexp/regexp.h"

namespace quorvel::platform {

namespace {

thread_local int tInitCount = 0;

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

void Insert(std::string_view className, ClassFactory factory, bool replace) {
  if (!factory) return;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::string key = FoldName(className);
  if (replace) {
    r.classes[key] = factory;
  } else {
    r.classes.emplace(std::move(key), factory);
  }
}

// The classes of the platform's own class libraries join the registry before its first
// lookup. The call is explicit, so no linker can drop a registration.
void RegisterBuiltins() {
  static std::once_flag once;
  std::call_once(once, [] {
    regexp::RegisterClasses([](std::string_view name, ClassFactory factory) {
      Insert(name, factory, /*replace=*/false);
    });
  });
}


}  // namespace

// ---- Initialisation and creation --------------------------------------------------------

int Initialize() { return tInitCount++ == 0 ? 0 : 1; }

void Uninitialize() {
  if (tInitCount > 0) --tInitCount;
}

bool IsInitialized() { return tInitCount > 0; }

void RegisterClass(std::string_view className, ClassFactory factory) {
  RegisterBuiltins();
  Insert(className, factory, /*replace=*/true);
}

bool CreateObject(std::string_view className, ComObject& out) {
  if (!IsInitialized()) return false;
  RegisterBuiltins();
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

}  // namespace quorvel::platform
