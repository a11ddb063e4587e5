// RegexObject.Create with the query's result-page pattern plus its six sub-match reads,
// beside a direct PCRE2 match of the same pattern over the same text already in UTF-16, on
// pages of 1 MB and 16 MB whose result table stands at the end. After the runs it prints, per
// page size, the time of one run of each and their ratio.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "app/query.h"
#include "regex/regex_object.h"
#include "text/convert.h"

namespace quorvel {
namespace {

std::string Row(const std::string& label, const std::string& value) {
  return "\t\t\t<tr>\r\n\t\t\t\t<td>" + label + "</td>\r\n\t\t\t\t<td>" + value +
         "</td>\r\n\t\t\t</tr>\r\n";
}

// A GBK page of about `bytes` bytes: table rows of other data, then the result table.
Text Page(std::size_t bytes) {
  std::string tail = Row("游戏ID", "abc") + Row("段位", "黄金 I") + Row("隐藏分", "1234") +
                     Row("排位胜场", "56") +
                     "\t\t\t<tr>\r\n\t\t\t\t<td>排位胜率</td>\r\n\t\t\t\t<td>52.3?td>\r\n"
                     "\t\t\t</tr>\r\n" +
                     Row("最近登录", "2014-05-01") + "\t\t</table>\r\n</body>\r\n</html>\r\n";
  std::string page = "<html>\r\n<body>\r\n\t\t<table>\r\n";
  for (int i = 0; page.size() + tail.size() < bytes; ++i) {
    page += Row("最近比赛", "第" + std::to_string(i) + "场 胜利 英雄 12/3/7");
  }
  page += tail;
  return Gbk(page);
}

// Seconds and runs of the last (the reported) run of each benchmark, by page size in MB.
struct Totals {
  double seconds = 0;
  double runs = 0;
  double PerRunMs() const { return runs > 0 ? seconds / runs * 1000.0 : 0.0; }
};
std::map<int64_t, Totals> gOurs;
std::map<int64_t, Totals> gDirect;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const Text& PageOf(std::size_t megabytes) {
  static const Text one = Page(std::size_t{1} << 20);
  static const Text sixteen = Page(std::size_t{16} << 20);
  return megabytes == 1 ? one : sixteen;
}

void BM_RegexObject(benchmark::State& state) {
  const Text& page = PageOf(static_cast<std::size_t>(state.range(0)));
  const Text pattern = ResultPagePattern();
  Totals& totals = gOurs[state.range(0)] = Totals();
  std::size_t total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    RegexObject r;
    r.Create(pattern, page);
    for (int i = 1; i <= 6; ++i) total += r.SubmatchText(1, i).size();
    totals.seconds += SecondsSince(start);
    totals.runs += 1;
  }
  if (total != static_cast<std::size_t>(state.iterations()) * 30)
    state.SkipWithError("wrong sub-matches");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// The same pattern, options and text, straight on PCRE2: compile with JIT, match, copy out
// the six groups.
void BM_Pcre2Direct(benchmark::State& state) {
  const Text& page = PageOf(static_cast<std::size_t>(state.range(0)));
  Bytes wideBytes = GbkToWide(page);
  std::u16string subject(wideBytes.size() / 2 - 1, u'\0');
  for (std::size_t i = 0; i < subject.size(); ++i) {
    subject[i] = static_cast<char16_t>(wideBytes[2 * i] | (wideBytes[2 * i + 1] << 8));
  }
  Bytes patternBytes = GbkToWide(ResultPagePattern());
  std::u16string pattern(patternBytes.size() / 2 - 1, u'\0');
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    pattern[i] = static_cast<char16_t>(patternBytes[2 * i] | (patternBytes[2 * i + 1] << 8));
  }
  Totals& totals = gDirect[state.range(0)] = Totals();
  std::size_t total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                      PCRE2_CASELESS | PCRE2_MULTILINE | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF,
                      &error, &offset, cc);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0,
                         md, nullptr);
    if (rc == 7) {
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
      for (int g = 1; g <= 6; ++g) {
        std::u16string group = subject.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
        total += group.size();
        benchmark::DoNotOptimize(group.data());
      }
    }
    pcre2_match_data_free(md);
    pcre2_code_free(code);
    pcre2_compile_context_free(cc);
    totals.seconds += SecondsSince(start);
    totals.runs += 1;
  }
  if (total != static_cast<std::size_t>(state.iterations()) * 28)
    state.SkipWithError("wrong sub-matches");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_RegexObject)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcre2Direct)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [megabytes, ours] : quorvel::gOurs) {
    auto direct = quorvel::gDirect.find(megabytes);
    if (direct == quorvel::gDirect.end() || ours.runs == 0 || direct->second.runs == 0) continue;
    std::printf("%2lld MB page: RegexObject %.2f ms, PCRE2 directly %.2f ms, ratio %.2f\n",
                static_cast<long long>(megabytes), ours.PerRunMs(), direct->second.PerRunMs(),
                ours.PerRunMs() / direct->second.PerRunMs());
  }
  return 0;
}
