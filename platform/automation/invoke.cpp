// Late-bound access over AutomationObject::Invoke; shared by every backend of the layer.
#include "platform/automation/automation.h"

namespace quorvel::platform {

// ---- Late-bound access ------------------------------------------------------------------

bool Invoke(const ComObject& object, std::string_view member, InvokeKind kind, InvokeArgs args,
            Variant& result) {
  result.Clear();
  if (object.IsEmpty()) return false;
  for (const Variant* a : args) {
    if (!a) return false;
  }
  // The call holds its own reference, so a member may drop the caller's last one safely.
  ComObject keep(object);
  bool ok = false;
  try {
    ok = keep.get()->Invoke(member, kind, args, result);
  } catch (...) {
    // A member that runs out of memory on a huge value fails like any other.
    ok = false;
  }
  if (!ok) result.Clear();
  return ok;
}

bool SetProperty(const ComObject& object, std::string_view name, const Variant& value) {
  const Variant* list[] = {&value};
  Variant ignored;
  return Invoke(object, name, InvokeKind::kPut, InvokeArgs(list, 1), ignored);
}

}  // namespace quorvel::platform
