// Reads a pattern of the class's dialect into a small tree, then writes the tree out as a
// PCRE2 pattern in which every literal is an escape, so nothing of PCRE2's own syntax can
// slip through.
#include "platform/regexp/dialect.h"

#include <memory>
#include <utility>

namespace quorvel::platform::regexp {
namespace {

constexpr uint32_t kInfinite = UINT32_MAX;
// Deepest nesting of groups; PCRE2 itself refuses deeper ones, and it bounds the recursion.
constexpr int kMaxDepth = 250;
// The largest repeat count PCRE2 takes.
constexpr uint32_t kMaxCount = 65535;

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Node {
  enum class Kind { kSeq, kAlt, kChar, kRaw, kGroup, kRepeat, kBackRef };
  enum class Group { kCapture, kPlain, kAhead, kNotAhead };

  Kind kind = Kind::kSeq;
  std::vector<NodePtr> children;  // kSeq, kAlt; kGroup and kRepeat hold one
  std::u16string raw;             // kChar: a run of literal units; kRaw: PCRE2 text
  bool consumes = false;          // kRaw: always takes one unit
  Group group = Group::kPlain;    // kGroup
  uint32_t number = 0;            // kGroup capture, kBackRef: the dialect's group number
  uint32_t min = 0, max = 0;      // kRepeat
  bool lazy = false;              // kRepeat
  bool canBeEmpty = true;

  static NodePtr Make(Kind kind) {
    auto n = std::make_unique<Node>();
    n->kind = kind;
    return n;
  }
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsOctal(char16_t c) { return c >= u'0' && c <= u'7'; }
bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

class Parser {
 public:
  explicit Parser(std::u16string_view p) : p_(p) {}

  NodePtr Parse() {
    NodePtr root = ParseAlternatives(0);
    if (!root || pos_ != p_.size()) return nullptr;  // a `)` without its `(`
    return root;
  }

 private:
  bool AtEnd() const { return pos_ >= p_.size(); }
  char16_t Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < p_.size() ? p_[pos_ + ahead] : char16_t{0};
  }
  bool Has(std::size_t ahead) const { return pos_ + ahead < p_.size(); }

  NodePtr ParseAlternatives(int depth) {
    auto alt = Node::Make(Node::Kind::kAlt);
    alt->canBeEmpty = false;
    for (;;) {
      NodePtr seq = ParseSequence(depth);
      if (!seq) return nullptr;
      alt->canBeEmpty = alt->canBeEmpty || seq->canBeEmpty;
      alt->children.push_back(std::move(seq));
      if (AtEnd() || Peek() != u'|') break;
      ++pos_;
    }
    return alt;
  }

  NodePtr ParseSequence(int depth) {
    auto seq = Node::Make(Node::Kind::kSeq);
    bool quantifiable = false;  // the last item may take a quantifier
    while (!AtEnd() && Peek() != u'|' && Peek() != u')') {
      uint32_t min = 0, max = 0;
      std::size_t length = 0;
      if (Quantifier(min, max, length)) {
        if (!quantifiable) return nullptr;  // nothing to repeat, or a second quantifier
        pos_ += length;
        auto rep = Node::Make(Node::Kind::kRepeat);
        rep->min = min;
        rep->max = max;
        if (!AtEnd() && Peek() == u'?') {
          rep->lazy = true;
          ++pos_;
        }
        NodePtr& last = seq->children.back();
        if (last->kind == Node::Kind::kChar && last->raw.size() > 1) {
          // The quantifier takes the run's last unit only.
          NodePtr unit = Char(last->raw.back());
          last->raw.pop_back();
          seq->children.push_back(std::move(unit));
        }
        NodePtr atom = std::move(seq->children.back());
        rep->canBeEmpty = min == 0 || atom->canBeEmpty;
        rep->children.push_back(std::move(atom));
        seq->children.back() = std::move(rep);
        quantifiable = false;
        continue;
      }
      if (bad_) return nullptr;
      NodePtr atom = ParseAtom(depth, quantifiable);
      if (!atom) return nullptr;
      // Literal units gather into runs, so a long pattern costs little memory.
      if (atom->kind == Node::Kind::kChar && !seq->children.empty() &&
          seq->children.back()->kind == Node::Kind::kChar) {
        seq->children.back()->raw += atom->raw;
      } else {
        seq->children.push_back(std::move(atom));
      }
    }
    seq->canBeEmpty = true;
    for (const NodePtr& c : seq->children) seq->canBeEmpty = seq->canBeEmpty && c->canBeEmpty;
    return seq;
  }

  // A quantifier at the current place: `*`, `+`, `?` or a well-formed `{n}`, `{n,}`, `{n,m}`.
  // A brace that does not open one is a literal; one with min > max or too large a count
  // sets bad_.
  bool Quantifier(uint32_t& min, uint32_t& max, std::size_t& length) {
    const char16_t c = Peek();
    if (c == u'*' || c == u'+' || c == u'?') {
      min = c == u'+' ? 1 : 0;
      max = c == u'?' ? 1 : kInfinite;
      length = 1;
      return true;
    }
    if (c != u'{') return false;
    std::size_t i = pos_ + 1;
    auto number = [&](uint64_t& v) {
      std::size_t begin = i;
      v = 0;
      while (i < p_.size() && IsDigit(p_[i])) {
        if (v <= kMaxCount) v = v * 10 + (p_[i] - u'0');
        ++i;
      }
      return i > begin;
    };
    uint64_t lo = 0, hi = 0;
    if (!number(lo)) return false;
    if (i < p_.size() && p_[i] == u'}') {
      hi = lo;
    } else if (i < p_.size() && p_[i] == u',') {
      ++i;
      if (i < p_.size() && p_[i] == u'}') {
        hi = kInfinite;
      } else if (!number(hi) || i >= p_.size() || p_[i] != u'}') {
        return false;
      }
    } else {
      return false;
    }
    if (lo > kMaxCount || (hi != kInfinite && (hi > kMaxCount || hi < lo))) {
      bad_ = true;
      return false;
    }
    min = static_cast<uint32_t>(lo);
    max = static_cast<uint32_t>(hi);
    length = i + 1 - pos_;
    return true;
  }

  NodePtr Char(char16_t unit) {
    auto n = Node::Make(Node::Kind::kChar);
    n->raw.assign(1, unit);
    n->canBeEmpty = false;
    return n;
  }

  NodePtr Raw(std::u16string text, bool consumes) {
    auto n = Node::Make(Node::Kind::kRaw);
    n->raw = std::move(text);
    n->consumes = consumes;
    n->canBeEmpty = !consumes;
    return n;
  }

  NodePtr ParseAtom(int depth, bool& quantifiable) {
    const char16_t c = Peek();
    quantifiable = true;
    switch (c) {
      case u'(':
        return ParseGroup(depth);
      case u'[':
        return ParseClass();
      case u'.':
        ++pos_;
        return Raw(u".", true);
      case u'^':
        ++pos_;
        quantifiable = false;
        return Raw(u"^", false);  // written out by the anchor rules
      case u'$':
        ++pos_;
        quantifiable = false;
        return Raw(u"$", false);
      case u'\\':
        return ParseEscape(quantifiable);
      default:
        ++pos_;
        return Char(c);
    }
  }

  NodePtr ParseGroup(int depth) {
    if (depth >= kMaxDepth) return nullptr;
    ++pos_;
    auto g = Node::Make(Node::Kind::kGroup);
    if (Peek() == u'?' && Has(0)) {
      const char16_t kind = Peek(1);
      if (kind == u':') {
        g->group = Node::Group::kPlain;
      } else if (kind == u'=') {
        g->group = Node::Group::kAhead;
      } else if (kind == u'!') {
        g->group = Node::Group::kNotAhead;
      } else {
        return nullptr;  // every other `(?` form is not in the dialect
      }
      pos_ += 2;
    } else {
      g->group = Node::Group::kCapture;
      g->number = ++opened_;
    }
    NodePtr body = ParseAlternatives(depth + 1);
    if (!body || AtEnd() || Peek() != u')') return nullptr;
    ++pos_;
    g->canBeEmpty =
        body->canBeEmpty || g->group == Node::Group::kAhead || g->group == Node::Group::kNotAhead;
    g->children.push_back(std::move(body));
    return g;
  }

  // After a backslash: the escapes that stand for one code unit, in and out of classes.
  // Returns false when the escape is not one of them (pos_ unchanged then).
  bool UnitEscape(char16_t& unit) {
    const char16_t c = Peek();
    switch (c) {
      case u'f':
        unit = 0x0C;
        break;
      case u'n':
        unit = 0x0A;
        break;
      case u'r':
        unit = 0x0D;
        break;
      case u't':
        unit = 0x09;
        break;
      case u'v':
        unit = 0x0B;
        break;
      case u'x':
      case u'u': {
        const std::size_t digits = c == u'x' ? 2 : 4;
        uint32_t v = 0;
        for (std::size_t k = 1; k <= digits; ++k) {
          int h = Has(k) ? HexValue(Peek(k)) : -1;
          if (h < 0) {
            unit = c;  // too few digits: the letter itself
            ++pos_;
            return true;
          }
          v = v * 16 + static_cast<uint32_t>(h);
        }
        unit = static_cast<char16_t>(v);
        pos_ += digits + 1;
        return true;
      }
      case u'c':
        if (Has(1) && IsLetter(Peek(1))) {
          unit = static_cast<char16_t>(Peek(1) % 32);
          pos_ += 2;
        } else {
          unit = u'c';
          ++pos_;
        }
        return true;
      default:
        return false;
    }
    ++pos_;
    return true;
  }

  // An octal escape at the current place (a digit 0-7): up to three digits, at most 0377.
  char16_t Octal() {
    uint32_t v = Peek() - u'0';
    ++pos_;
    if (!AtEnd() && IsOctal(Peek())) {
      v = v * 8 + (Peek() - u'0');
      ++pos_;
      if (!AtEnd() && IsOctal(Peek()) && v * 8 + (Peek() - u'0') <= 0377) {
        v = v * 8 + (Peek() - u'0');
        ++pos_;
      }
    }
    return static_cast<char16_t>(v);
  }

  NodePtr ParseEscape(bool& quantifiable) {
    ++pos_;  // the backslash
    if (AtEnd()) return nullptr;
    const char16_t c = Peek();
    char16_t unit = 0;
    if (UnitEscape(unit)) return Char(unit);
    switch (c) {
      case u'b':
      case u'B':
        ++pos_;
        quantifiable = false;
        return Raw(c == u'b' ? u"\\b" : u"\\B", false);
      case u'd':
      case u'D':
      case u'w':
      case u'W':
      case u's':
      case u'S':
        ++pos_;
        return Raw(std::u16string(u"\\") + c, true);
      case u'k':
        if (Has(1) && (Peek(1) == u'<' || Peek(1) == u'{' || Peek(1) == u'\'')) return nullptr;
        break;
      default:
        break;
    }
    if (IsDigit(c)) {
      if (c == u'0') return Char(Octal());
      // The longest run of up to three digits that names a group opened before here is a
      // back-reference; the digits after it are literals.
      uint32_t values[3] = {0, 0, 0};
      std::size_t digits = 0;
      uint32_t v = 0;
      while (digits < 3 && Has(digits) && IsDigit(Peek(digits))) {
        v = v * 10 + (Peek(digits) - u'0');
        values[digits++] = v;
      }
      for (std::size_t n = digits; n >= 1; --n) {
        if (values[n - 1] <= opened_) {
          auto ref = Node::Make(Node::Kind::kBackRef);
          ref->number = values[n - 1];
          pos_ += n;
          return ref;
        }
      }
      if (c == u'8' || c == u'9') {
        ++pos_;
        return Char(c);
      }
      return Char(Octal());
    }
    ++pos_;
    return Char(c);  // an escape the dialect does not define: the character itself
  }

  // One member of a class: a unit, or (set) a class escape such as \d.
  struct Member {
    bool set = false;
    char16_t unit = 0;
    std::u16string raw;
  };

  bool ClassMember(Member& m) {
    if (AtEnd()) return false;
    const char16_t c = Peek();
    if (c != u'\\') {
      m.unit = c;
      ++pos_;
      return true;
    }
    ++pos_;
    if (AtEnd()) return false;
    const char16_t e = Peek();
    if (UnitEscape(m.unit)) return true;
    switch (e) {
      case u'b':
        m.unit = 0x08;
        ++pos_;
        return true;
      case u'd':
      case u'D':
      case u'w':
      case u'W':
      case u's':
      case u'S':
        m.set = true;
        m.raw = std::u16string(u"\\") + e;
        ++pos_;
        return true;
      default:
        break;
    }
    if (IsOctal(e)) {
      m.unit = Octal();
      return true;
    }
    m.unit = e;  // \8, \9 and every undefined escape: the character itself
    ++pos_;
    return true;
  }

  NodePtr ParseClass() {
    ++pos_;  // [
    std::u16string out = u"[";
    if (Peek() == u'^' && Has(0)) {
      out += u'^';
      ++pos_;
    }
    bool first = true;  // a `]` right after `[` or `[^` is a literal
    for (;;) {
      if (AtEnd()) return nullptr;
      if (Peek() == u']' && !first) break;
      first = false;
      Member lo;
      if (!ClassMember(lo)) return nullptr;
      // A range: a unit, `-`, a unit, where the `-` is not the class's last character.
      if (!lo.set && Peek() == u'-' && Has(1) && Peek(1) != u']') {
        const std::size_t save = pos_;
        ++pos_;
        Member hi;
        if (!ClassMember(hi)) return nullptr;
        if (!hi.set) {
          if (hi.unit < lo.unit) return nullptr;
          AppendUnit(out, lo.unit);
          out += u'-';
          AppendUnit(out, hi.unit);
          continue;
        }
        pos_ = save;  // `a-\d`: the `-` stands for itself
      }
      if (lo.set) {
        out += lo.raw;
      } else {
        AppendUnit(out, lo.unit);
      }
    }
    ++pos_;  // ]
    out += u']';
    return Raw(std::move(out), true);
  }

 public:
  static void AppendUnit(std::u16string& out, char16_t unit) {
    if ((unit >= u'0' && unit <= u'9') || IsLetter(unit) || unit >= 0x80) {
      out += unit;
      return;
    }
    static const char16_t kHex[] = u"0123456789abcdef";
    out += u"\\x{";
    if (unit >= 0x10) out += kHex[unit >> 4];
    out += kHex[unit & 15];
    out += u'}';
  }

  uint32_t Opened() const { return opened_; }

 private:
  std::u16string_view p_;
  std::size_t pos_ = 0;
  uint32_t opened_ = 0;  // capturing groups opened so far
  bool bad_ = false;
};

void AppendNumber(std::u16string& out, uint32_t v) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v);
  out += digits;
}

class Writer {
 public:
  Writer(bool multiline, uint32_t groups, Translation& t) : multiline_(multiline), t_(t) {
    t_.groups.assign(groups, 0);
  }

  void Write(const Node& n) {
    switch (n.kind) {
      case Node::Kind::kSeq:
        for (const NodePtr& c : n.children) Write(*c);
        break;
      case Node::Kind::kAlt:
        for (std::size_t i = 0; i < n.children.size(); ++i) {
          if (i) out() += u'|';
          Write(*n.children[i]);
        }
        break;
      case Node::Kind::kChar:
        for (char16_t unit : n.raw) Parser::AppendUnit(out(), unit);
        break;
      case Node::Kind::kRaw:
        if (n.raw == u"^") {
          out() += multiline_ ? u"(?<![^\\n\\r])" : u"^";
        } else if (n.raw == u"$") {
          out() += multiline_ ? u"(?![^\\n\\r])" : u"\\z";
        } else {
          out() += n.raw;
        }
        break;
      case Node::Kind::kGroup:
        switch (n.group) {
          case Node::Group::kCapture:
            out() += u'(';
            t_.groups[n.number - 1] = ++pcreGroups_;
            break;
          case Node::Group::kPlain:
            out() += u"(?:";
            break;
          case Node::Group::kAhead:
            out() += u"(?=";
            break;
          case Node::Group::kNotAhead:
            out() += u"(?!";
            break;
        }
        Write(*n.children[0]);
        out() += u')';
        break;
      case Node::Kind::kBackRef:
        out() += u"\\g{";
        AppendNumber(out(), t_.groups[n.number - 1]);
        out() += u'}';
        break;
      case Node::Kind::kRepeat:
        WriteRepeat(n);
        break;
    }
  }

 private:
  std::u16string& out() { return t_.pattern; }

  void WriteQuantifier(const Node& n) {
    if (n.min == 0 && n.max == kInfinite) {
      out() += u'*';
    } else if (n.min == 1 && n.max == kInfinite) {
      out() += u'+';
    } else if (n.min == 0 && n.max == 1) {
      out() += u'?';
    } else {
      out() += u'{';
      AppendNumber(out(), n.min);
      if (n.max != n.min) {
        out() += u',';
        if (n.max != kInfinite) AppendNumber(out(), n.max);
      }
      out() += u'}';
    }
    if (n.lazy) out() += u'?';
  }

  // A body that can match empty, repeated beyond its required count: each optional iteration
  // must consume something. A marker group records where the iteration starts and the
  // callout at its end compares. With one required iteration a second marker records where
  // the repetition starts: an iteration that starts there is the required one.
  void WriteRepeat(const Node& n) {
    const Node& body = *n.children[0];
    const bool checked = body.canBeEmpty && n.max > n.min && n.min <= 1;
    if (!checked) {
      Write(body);  // one unit, one class, one group or one back-reference: a single item
      WriteQuantifier(n);
      return;
    }
    t_.callouts = true;
    uint32_t loop = 0;
    out() += u"(?:";
    if (n.min == 1) {
      out() += u"()";
      loop = ++pcreGroups_;
    }
    out() += u"(?:()";
    const uint32_t iteration = ++pcreGroups_;
    Write(body);
    out() += u"(?C{";
    AppendNumber(out(), iteration);
    if (loop) {
      out() += u',';
      AppendNumber(out(), loop);
    }
    out() += u"}))";
    WriteQuantifier(n);
    out() += u')';
  }

  bool multiline_;
  Translation& t_;
  uint32_t pcreGroups_ = 0;
};

}  // namespace

bool TranslatePattern(std::u16string_view pattern, bool multiline, Translation& out) {
  out = Translation();
  Parser parser(pattern);
  NodePtr root = parser.Parse();
  if (!root) return false;
  Writer writer(multiline, parser.Opened(), out);
  writer.Write(*root);
  return true;
}

bool IterationMustFail(std::u16string_view argument, const std::size_t* ovector,
                       uint32_t captureTop, std::size_t position) {
  uint32_t numbers[2] = {0, 0};
  std::size_t count = 0;
  for (char16_t c : argument) {
    if (c == u',') {
      if (++count == 2) return false;
    } else if (IsDigit(c)) {
      numbers[count] = numbers[count] * 10 + (c - u'0');
    }
  }
  const uint32_t iteration = numbers[0];
  const uint32_t loop = count == 1 ? numbers[1] : 0;
  if (iteration == 0 || iteration >= captureTop) return false;
  const std::size_t start = ovector[2 * iteration];
  if (start != position) return false;
  if (loop != 0 && loop < captureTop && ovector[2 * loop] == start) return false;
  return true;
}

}  // namespace quorvel::platform::regexp
