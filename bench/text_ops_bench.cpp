// Throughput of FindText, ReplaceText and SplitText on 1 MB and 16 MB of mixed GBK/ASCII
// page text, each beside a byte-level peer on the same input in the same run: memmem and
// std::string::find for the search, a std::string find/append loop for replace and split.
// Ours also walk by characters (a hit on a second byte is no hit), which the peers do not.
#include <benchmark/benchmark.h>
#include <string.h>  // memmem

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace {

using quorvel::Text;

// Deterministic page-like text: table rows of ASCII tags, words and numbers around runs of
// two-byte characters (mostly the common GB2312 block, some from the extension blocks whose
// second bytes fall in the ASCII range), with CR LF line ends.
std::string MakePage(std::size_t size) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state](std::uint32_t n) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state % n);
  };
  std::string s;
  s.reserve(size + 64);
  while (s.size() < size) {
    switch (next(8)) {
      case 0:
        s += "<tr><td>";
        break;
      case 1:
        s += "</td><td>";
        break;
      case 2:
        s += "</td></tr>\r\n";
        break;
      case 3:
        for (std::uint32_t k = 3 + next(6); k > 0; --k) s += static_cast<char>('a' + next(26));
        s += ' ';
        break;
      case 4:
        s += std::to_string(next(100000));
        s += ',';
        break;
      default:
        for (std::uint32_t k = 1 + next(6); k > 0; --k) {
          if (next(8) == 0) {
            s += static_cast<char>(0x81 + next(0x20));
            s += static_cast<char>(0x40 + next(0x3F));
          } else {
            s += static_cast<char>(0xB0 + next(0x28));
            s += static_cast<char>(0xA1 + next(0x5E));
          }
        }
        break;
    }
  }
  s.resize(size);
  // Leave the text ending on a whole character, then put the sought marker at the end.
  std::size_t i = 0;
  while (i < s.size()) i += static_cast<unsigned char>(s[i]) >= 0x80 ? 2 : 1;
  if (i > s.size()) s.pop_back();
  return s;
}

// "胜率: 99%" in GBK; the generator never writes ':' or '%', so it occurs only at the end.
constexpr std::string_view kMarker = "\xCA\xA4\xC2\xCA: 99%";

const std::string& Page(std::int64_t size) {
  static std::map<std::int64_t, std::string> pages;
  auto it = pages.find(size);
  if (it == pages.end()) {
    std::string page = MakePage(static_cast<std::size_t>(size) - kMarker.size() - 1);
    page += 'x';
    page += kMarker;
    it = pages.emplace(size, std::move(page)).first;
  }
  return it->second;
}

const Text& PageText(std::int64_t size) {
  static std::map<std::int64_t, Text> texts;
  auto it = texts.find(size);
  if (it == texts.end()) it = texts.emplace(size, Text(std::string_view(Page(size)))).first;
  return it->second;
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(1 << 20)->Arg(16 << 20); }

// ---- Search -----------------------------------------------------------------------------

void BM_FindText(benchmark::State& state) {
  const Text& page = PageText(state.range(0));
  const Text marker{kMarker};
  const int want = static_cast<int>(page.size() - kMarker.size()) + 1;
  for (auto _ : state) {
    const int pos = quorvel::FindText(page, marker);
    if (pos != want) state.SkipWithError("FindText gave a wrong position");
    benchmark::DoNotOptimize(pos);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Memmem(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  for (auto _ : state) {
    const void* hit = memmem(page.data(), page.size(), kMarker.data(), kMarker.size());
    benchmark::DoNotOptimize(hit);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdFind(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kMarker));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A sought text whose first byte is common in the page ('<' starts every tag), found only
// at the end: the searcher sees a candidate every few bytes.
constexpr std::string_view kTagMarker = "</td><td>\xCA\xA4\xC2\xCA: 99%";

const Text& TagPageText(std::int64_t size) {
  static std::map<std::int64_t, Text> texts;
  auto it = texts.find(size);
  if (it == texts.end()) {
    std::string page = Page(size);
    page.resize(page.size() - kMarker.size());
    page.append(kTagMarker);
    it = texts.emplace(size, Text(std::move(page))).first;
  }
  return it->second;
}

void BM_FindTextCommonFirstByte(benchmark::State& state) {
  const Text& page = TagPageText(state.range(0));
  const Text marker{kTagMarker};
  const int want = static_cast<int>(page.size() - kTagMarker.size()) + 1;
  for (auto _ : state) {
    const int pos = quorvel::FindText(page, marker);
    if (pos != want) state.SkipWithError("FindText gave a wrong position");
    benchmark::DoNotOptimize(pos);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MemmemCommonFirstByte(benchmark::State& state) {
  const Text& page = TagPageText(state.range(0));
  for (auto _ : state) {
    const void* hit = memmem(page.c_str(), page.size(), kTagMarker.data(), kTagMarker.size());
    benchmark::DoNotOptimize(hit);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdFindCommonFirstByte(benchmark::State& state) {
  const Text& page = TagPageText(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(page.str().find(kTagMarker));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A sought text that is short and common: the search stops at a hit after a few hundred
// bytes, over and over, walking on from each start position (as a caller stepping through
// all occurrences does).
void BM_FindTextAll(benchmark::State& state) {
  const Text& page = PageText(state.range(0));
  const Text sought("</tr>");
  for (auto _ : state) {
    int hits = 0;
    for (int pos = quorvel::FindText(page, sought); pos > 0;
         pos = quorvel::FindText(page, sought, pos + 1)) {
      ++hits;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MemmemAll(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  constexpr std::string_view sought = "</tr>";
  for (auto _ : state) {
    int hits = 0;
    for (const char* p = page.data();
         (p = static_cast<const char*>(
              memmem(p, page.size() - static_cast<std::size_t>(p - page.data()), sought.data(),
                     sought.size()))) != nullptr;
         ++p) {
      ++hits;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// ---- Replace ----------------------------------------------------------------------------

constexpr std::string_view kTag = "<td>";
constexpr std::string_view kTagWide = "<td class=\"v\">";

void BM_ReplaceText(benchmark::State& state) {
  const Text& page = PageText(state.range(0));
  const Text tag{kTag};
  const Text wide{kTagWide};
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::ReplaceText(page, tag, wide));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ReplaceTextIgnoreCase(benchmark::State& state) {
  const Text& page = PageText(state.range(0));
  const Text tag("<TD>");
  const Text wide{kTagWide};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        quorvel::ReplaceText(page, tag, wide, std::nullopt, std::nullopt, true));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdReplace(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  for (auto _ : state) {
    std::string out;
    out.reserve(page.size());
    std::size_t from = 0;
    for (std::size_t hit = page.find(kTag); hit != std::string::npos; hit = page.find(kTag, from)) {
      out.append(page, from, hit - from);
      out.append(kTagWide);
      from = hit + kTag.size();
    }
    out.append(page, from, std::string::npos);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// ---- Split ------------------------------------------------------------------------------

void BM_SplitText(benchmark::State& state) {
  const Text& page = PageText(state.range(0));
  const Text crlf("\r\n");
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::SplitText(page, crlf));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdSplit(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  constexpr std::string_view crlf = "\r\n";
  for (auto _ : state) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t hit = page.find(crlf); hit != std::string::npos; hit = page.find(crlf, from)) {
      parts.emplace_back(page, from, hit - from);
      from = hit + crlf.size();
    }
    if (from < page.size()) parts.emplace_back(page, from, std::string::npos);
    benchmark::DoNotOptimize(parts);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_FindText)->Apply(Sizes);
BENCHMARK(BM_Memmem)->Apply(Sizes);
BENCHMARK(BM_StdFind)->Apply(Sizes);
BENCHMARK(BM_FindTextCommonFirstByte)->Apply(Sizes);
BENCHMARK(BM_MemmemCommonFirstByte)->Apply(Sizes);
BENCHMARK(BM_StdFindCommonFirstByte)->Apply(Sizes);
BENCHMARK(BM_FindTextAll)->Apply(Sizes);
BENCHMARK(BM_MemmemAll)->Apply(Sizes);
BENCHMARK(BM_ReplaceText)->Apply(Sizes);
BENCHMARK(BM_ReplaceTextIgnoreCase)->Apply(Sizes);
BENCHMARK(BM_StdReplace)->Apply(Sizes);
BENCHMARK(BM_SplitText)->Apply(Sizes);
BENCHMARK(BM_StdSplit)->Apply(Sizes);

}  // namespace
