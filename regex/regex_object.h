// RegexObject: a regular expression compiled with its options and run over one subject text,
// whose matches, sub-matches, their positions and counts are read afterwards. Texts in and
// out are GBK; the engine is the "VBScript.RegExp" automation class and sees UTF-16.
//
// Matches and sub-matches are counted from 1. Nothing fails loudly: an index out of range, a
// read before Create, or an engine that could not be made gives 0 or the empty Text.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/automation/automation.h"
#include "text/text.h"

namespace quorvel {

class RegexObject {
 public:
  // Initialises automation on the calling thread (once per object).
  RegexObject();
  // Releases every automation reference, then undoes the constructor's initialisation.
  ~RegexObject();
  // A copy shares the source's engine and match list, deep-copies its subject, and
  // initialises automation once for itself, so every object stays balanced.
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Makes a new engine with the options, compiles the pattern and runs it over the subject.
  // With quoteMarker, every "#引号" in the pattern stands for one double-quote character.
  // True when the engine produced a match list (with or without matches).
  bool Create(const Text& pattern, const Text& subject, bool caseSensitive = false,
              bool multiLine = true, bool global = true, bool quoteMarker = false);

  // The pattern in force (after any quote-marker replacement); empty before Create.
  Text GetPattern();
  // The subject with every match (or the first, without global) replaced; the replacement
  // understands $1..$99, $&, $`, $' and $$.
  Text Replace(const Text& replacement);
  int MatchCount();
  // Text of match `match`. `position`, when given, receives the match's zero-based GBK byte
  // offset in the subject, or -2 when there is no such match.
  Text MatchText(int match, int* position = nullptr);
  // Text of group `sub` of match `match`; empty for a group that took no part. `position`,
  // when given, receives the zero-based GBK byte offset of the first occurrence of that text
  // at or after the match's offset (the match's offset for an empty text), or -2 for a group
  // that took no part or that does not exist.
  Text SubmatchText(int match, int sub, int* position = nullptr);
  // The number of groups of the first match.
  int SubmatchCount();

  platform::ComObject engine;
  platform::ComObject matches;
  platform::Variant subject;

 private:
  class SubjectPositions;
  // Where the units of `subject` stand in its GBK form; made at the first position read
  // after Create and made anew should `subject` hold another byte array by then.
  SubjectPositions* Positions();
  int GbkOffset(std::size_t units);
  std::unique_ptr<SubjectPositions> positions_;
};

}  // namespace quorvel
