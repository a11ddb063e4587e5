// Folding the cookies one response set into the cookie text a caller keeps between requests.
//
// Cookie text is entries separated by ";"; spaces (0x20 and A1 A1) carry no meaning and are
// removed before it is read. An entry is name "=" value, or all name without "=".
#pragma once

#include "text/text.h"

namespace quorvel {

// Merges updates into cookies and returns the result, which is also stored into cookies:
// the updates first, in order, without those ending in "=deleted", then the old entries no
// update names (of old entries sharing a name, the first), joined by "; ", each exact repeat
// once. updates is left with its spaces removed.
Text MergeCookies(Text& cookies, Text& updates);

// The trimmed text before the first "=" of an entry, or the whole trimmed entry without one.
Text CookieName(const Text& entry);

// True when some entry has the cookie name name.
bool NameListed(const TextArray& entries, const Text& name);

// The parts of text between separators, each distinct part once in order of first appearance,
// joined by separator.
Text JoinUnique(const Text& text, const Text& separator);

// 1-based index of the first element equal to text; -1 if none.
int IndexOfText(const TextArray& array, const Text& text);

}  // namespace quorvel
