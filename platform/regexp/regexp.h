// The "VBScript.RegExp" automation class over PCRE2 (16-bit code units, no UTF).
//
// Members of the engine: Pattern, IgnoreCase, Global, Multiline (properties); Execute(text)
// gives a match collection, Replace(text, replacement) a string, Test(text) a bool. A match
// collection has Count and Item(index); a match has Value, FirstIndex, Length (both in
// UTF-16 code units) and SubMatches; a sub-match collection has Count and Item(index), the
// group's string or the empty Variant for a group that took no part. Indexes are zero-based.
//
// The pattern is read in the class's own dialect (dialect.h): `.` matches every code unit but
// LF; `\w \d \s \b` are ASCII; with Multiline `^` and `$` also match beside each LF and
// each CR, without it only at the start and the very end; IgnoreCase folds ASCII letters; a
// back-reference to a group that took no part matches empty. Global gives every
// non-overlapping match (after an empty match the search goes on one unit further),
// otherwise at most one. The replacement text understands $1..$99, $&, $`, $' and $$.
//
// A pattern with a syntax error, or one PCRE2 cannot compile, fails Execute, Replace and
// Test. So does a run that passes the engine's match, depth or memory limits, or its time
// budget, instead of hanging.
#pragma once

#include <chrono>
#include <string_view>

#include "platform/automation/automation.h"

namespace quorvel::platform::regexp {

inline constexpr std::string_view kRegExpClassName = "VBScript.RegExp";

// Hands every class of this library to `add` (the automation registry calls this).
void RegisterClasses(void (*add)(std::string_view className, ClassFactory factory));

// Wall-clock budget of one Execute, Replace or Test (process-wide; 10 s unless changed).
void SetTimeBudget(std::chrono::milliseconds budget);
std::chrono::milliseconds TimeBudget();

}  // namespace quorvel::platform::regexp
