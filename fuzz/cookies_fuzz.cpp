// Cookie merging on any two texts.
//
// Checked for every input: MergeCookies gives what the contract's steps give when written
// out with the list helpers (NameListed over the growing list, then JoinUnique), stores the
// result into its first argument and leaves the second with its spaces removed; JoinUnique
// gives what a walk with IndexOfText gives and holds each distinct part once; CookieName
// is the trimmed text before the first "="; no result holds a zero byte.
//
// Input: the fields cookie text, updates and a JoinUnique separator.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "web/cookies.h"

namespace quorvel {
namespace {

Text RefJoinUnique(const Text& text, const Text& separator) {
  const TextArray parts = SplitText(text, separator);
  TextArray seen;
  Text result;
  for (const Text& part : parts.items()) {
    if (IndexOfText(seen, part) != -1) continue;
    AppendText(seen, part);
    result = ConcatText(result, part, separator);
  }
  return TextLeft(result, TextLength(result) - TextLength(separator));
}

Text RefMerge(const Text& cookies, const Text& updates) {
  const Text k = RemoveSpaces(cookies);
  const Text u = RemoveSpaces(updates);
  const TextArray old = SplitText(k, Text(";"));
  TextArray merged = SplitText(u, Text(";"));
  for (const Text& entry : old.items()) {
    if (!NameListed(merged, CookieName(entry))) AppendText(merged, entry);
  }
  Text joined;
  for (const Text& entry : merged.items()) {
    if (TextRight(entry, 8) != Text("=deleted")) joined = ConcatText(joined, entry, Text("; "));
  }
  joined = TextLeft(joined, TextLength(joined) - 2);
  return RefJoinUnique(joined, Text("; "));
}

bool Ascii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const Text cookiesIn(in.Field());
  const Text updatesIn(in.Field());
  const Text separator(in.Field());

  Text cookies = cookiesIn;
  Text updates = updatesIn;
  const Text merged = MergeCookies(cookies, updates);
  FUZZ_CHECK(fuzz::WellFormed(merged));
  FUZZ_CHECK(cookies == merged);
  FUZZ_CHECK(updates == RemoveSpaces(updatesIn));
  const Text want = RefMerge(cookiesIn, updatesIn);
  if (merged != want) {
    std::fprintf(stderr, "MergeCookies(\"%s\", \"%s\"): got \"%s\", want \"%s\"\n",
                 fuzz::Printable(cookiesIn.view()).c_str(),
                 fuzz::Printable(updatesIn.view()).c_str(), fuzz::Printable(merged.view()).c_str(),
                 fuzz::Printable(want.view()).c_str());
    std::abort();
  }

  const Text unique = JoinUnique(cookiesIn, separator);
  FUZZ_CHECK(fuzz::WellFormed(unique));
  FUZZ_CHECK(unique == RefJoinUnique(cookiesIn, separator));

  const Text name = CookieName(cookiesIn);
  FUZZ_CHECK(fuzz::WellFormed(name) && TrimText(name) == name);
  if (Ascii(cookiesIn.view())) {
    const std::size_t eq = cookiesIn.view().find('=');
    FUZZ_CHECK(name == TrimText(Text(cookiesIn.view().substr(0, eq))));
  }
  const TextArray entries = SplitText(updatesIn, Text(";"));
  for (const Text& entry : entries.items()) FUZZ_CHECK(NameListed(entries, CookieName(entry)));
  FUZZ_CHECK(!NameListed(TextArray(), name));
  return 0;
}
