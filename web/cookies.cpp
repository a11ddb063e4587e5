#include "web/cookies.h"

#include <string>
#include <unordered_set>

namespace quorvel {

Text MergeCookies(Text& cookies, Text& updates) {
  cookies = RemoveSpaces(cookies);
  updates = RemoveSpaces(updates);
  const TextArray old = SplitText(cookies, Text(";"));
  TextArray merged = SplitText(updates, Text(";"));

  // The names the merged list carries so far, so each old entry is checked in constant time.
  std::unordered_set<std::string> names;
  for (const Text& entry : merged.items()) names.insert(CookieName(entry).str());
  for (const Text& entry : old.items()) {
    if (names.insert(CookieName(entry).str()).second) AppendText(merged, entry);
  }

  const Text deleted("=deleted");
  std::string joined;
  for (const Text& entry : merged.items()) {
    if (TextRight(entry, 8) == deleted) continue;
    joined.append(entry.view());
    joined.append("; ");
  }
  Text k(std::move(joined));
  k = TextLeft(k, TextLength(k) - 2);
  cookies = JoinUnique(k, Text("; "));
  return cookies;
}

Text CookieName(const Text& entry) {
  const int p = FindText(entry, Text("="));
  return TrimText(p == -1 ? entry : TextLeft(entry, p - 1));
}

bool NameListed(const TextArray& entries, const Text& name) {
  for (const Text& entry : entries.items()) {
    if (TextEquals(CookieName(entry), name)) return true;
  }
  return false;
}

Text JoinUnique(const Text& text, const Text& separator) {
  const TextArray parts = SplitText(text, separator);
  // Views into parts, which is not changed while the set lives.
  std::unordered_set<std::string_view> seen;
  std::string result;
  result.reserve(text.size() + separator.size());
  for (const Text& part : parts.items()) {
    if (!seen.insert(part.view()).second) continue;
    result.append(part.view());
    result.append(separator.view());
  }
  Text joined(std::move(result));
  return TextLeft(joined, TextLength(joined) - TextLength(separator));
}

int IndexOfText(const TextArray& array, const Text& text) {
  const int count = ElementCount(array);
  for (int i = 1; i <= count; ++i) {
    if (TextEquals(array[i], text)) return i;
  }
  return -1;
}

}  // namespace quorvel
