// The regular-expression object, through the automation layer, with pattern, subject,
// options and replacement from the input.
//
// Checked for every input:
// - positions are -2 or a byte offset inside the subject (its GBK form, the end included),
//   and a match's or sub-match's text that is not empty stands in the subject at the
//   position reported;
// - a match index or group index out of range gives the empty text and -2;
// - without global there is at most one match; matches come in order, none overlapping;
// - without a match, Replace gives back the subject;
// - the pattern read back is the pattern given, "#引号" read as a double quote with the
//   quote marker (where the pattern is made of GBK characters);
// - replacing every match by itself ("$&") gives back the subject, when Replace succeeds;
// - no text holds a zero byte.
//
// Input: option bytes (case-sensitive, multi-line, global, quote marker, a match and a
// group index), then the fields pattern, subject and replacement.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/automation/automation.h"
#include "platform/regexp/regexp.h"
#include "regex/regex_object.h"
#include "text/convert.h"

namespace quorvel {
namespace {

// A reported position and the text it belongs to, against the subject in GBK.
void CheckPosition(const Text& subject, const Text& text, int position) {
  FUZZ_CHECK(fuzz::WellFormed(text));
  if (position == -2) return;
  FUZZ_CHECK(position >= 0 && static_cast<std::size_t>(position) <= subject.size());
  if (!text.empty() &&
      subject.view().substr(static_cast<std::size_t>(position), text.size()) != text.view()) {
    std::fprintf(stderr, "text \"%s\" is not at %d of \"%s\"\n",
                 fuzz::Printable(text.view()).c_str(), position,
                 fuzz::Printable(subject.view()).c_str());
    std::abort();
  }
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A hostile pattern fails its run after this long instead of holding up the fuzzer.
  quorvel::platform::regexp::SetTimeBudget(std::chrono::milliseconds(500));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const unsigned options = in.Byte();
  const bool caseSensitive = options & 1;
  const bool multiLine = options & 2;
  const bool global = options & 4;
  const bool quoteMarker = options & 8;
  const int matchIndex = in.Number();
  const int groupIndex = in.Number();
  const Text pattern(in.Field());
  const Text subjectText(in.Field());
  const Text replacement(in.Field());

  RegexObject regex;
  const bool created =
      regex.Create(pattern, subjectText, caseSensitive, multiLine, global, quoteMarker);
  // The subject as the object's position search sees it: the GBK form of its UTF-16 units.
  const Text subject = WideToGbk(Bytes(platform::VariantToBytes(regex.subject)));
  FUZZ_CHECK(fuzz::WellFormed(subject));

  const int count = regex.MatchCount();
  FUZZ_CHECK(count >= 0);
  if (!created) FUZZ_CHECK(count == 0);
  if (!global) FUZZ_CHECK(count <= 1);
  const int groups = regex.SubmatchCount();
  FUZZ_CHECK(groups >= 0);
  if (count == 0) FUZZ_CHECK(groups == 0);

  // Every match and group of the first few matches, and the indexes from the input. The
  // matches come in order and do not overlap.
  int previousStart = -1;
  int previousEnd = 0;
  for (int k = 0; k <= count + 1 && k <= 8; ++k) {
    int position = 12345;
    const Text text = regex.MatchText(k, &position);
    if (k < 1 || k > count) {
      FUZZ_CHECK(text.empty() && position == -2);
      continue;
    }
    CheckPosition(subject, text, position);
    FUZZ_CHECK(position > previousStart && position >= previousEnd);
    previousStart = position;
    previousEnd = position + static_cast<int>(text.size());
    for (int j = 0; j <= groups + 1 && j <= 12; ++j) {
      int subPosition = 12345;
      const Text sub = regex.SubmatchText(k, j, &subPosition);
      if (j < 1 || j > groups) {
        FUZZ_CHECK(sub.empty() && subPosition == -2);
        continue;
      }
      CheckPosition(subject, sub, subPosition);
      // A group's text lies at or after its match's start.
      if (subPosition >= 0) FUZZ_CHECK(subPosition >= position);
    }
  }
  int position = 12345;
  CheckPosition(subject, regex.MatchText(matchIndex, &position), position);
  FUZZ_CHECK(position != 12345);
  position = 12345;
  CheckPosition(subject, regex.SubmatchText(matchIndex, groupIndex, &position), position);
  FUZZ_CHECK(position != 12345);

  const Text read = regex.GetPattern();
  FUZZ_CHECK(fuzz::WellFormed(read));
  const Text given = quoteMarker ? ReplaceText(pattern, Gbk("#引号"), Text("\"")) : pattern;
  // (Bytes that are no GBK character come back as "?".)
  if (WideToText(GbkToWide(given), kCodePageGbk) == given) FUZZ_CHECK(read == given);

  const Text replaced = regex.Replace(replacement);
  FUZZ_CHECK(fuzz::WellFormed(replaced));
  const Text same = regex.Replace(Text("$&"));
  const Text subjectAnsi(platform::VariantToAnsi(regex.subject));
  FUZZ_CHECK(same.empty() || same == subjectAnsi);
  // Without a match there is nothing to replace.
  if (created && count == 0) FUZZ_CHECK(replaced.empty() || replaced == subjectAnsi);
  return 0;
}
