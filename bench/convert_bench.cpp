// Throughput of Utf8ToAnsi and AnsiToUtf8 on 1 MB and 16 MB of page-like mixed text
// (HTML markup, ASCII numbers, Chinese names and words), each beside glibc iconv
// converting the same input to a std::string in the same run.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench/iconv_peer.h"
#include "text/convert.h"

namespace {

using quorvel::Text;
using quorvel::bench::Iconv;
using quorvel::bench::IconvOpen;

// Deterministic page-like UTF-8 text of at least `size` bytes, cut at a line end.
std::string MixedUtf8(std::size_t size) {
  static const char* const kWords[] = {
      "艾欧尼亚",   "祖安",     "诺克萨斯", "班德尔城", "皮尔特沃夫", "战争学院",   "巨神峰",
      "雷瑟守备",   "裁决之地", "黑色玫瑰", "暗影岛",   "钢铁烈阳",   "水晶之痕",   "均衡教派",
      "影流",       "守望之海", "征服之海", "卡拉曼达", "皮城警备",   "比尔吉沃特", "德玛西亚",
      "弗雷尔卓德", "无畏先锋", "恕瑞玛",   "扭曲丛林", "巨龙之巢",   "教育网专区", "无段位",
      "最强王者",   "璀璨钻石", "华贵铂金", "荣耀黄金", "不屈白银",   "英勇青铜"};
  std::mt19937 rng(42);
  std::string s;
  s.reserve(size + 512);
  s += "<html><head><meta charset=\"utf-8\"><title>查询结果</title></head><body>\n";
  while (s.size() < size) {
    const int n = static_cast<int>(std::size(kWords));
    s += "<tr class=\"row\"><td>";
    s += kWords[rng() % n];
    s += "</td><td>玩家";
    s += std::to_string(rng() % 100000);
    s += "</td><td>";
    s += kWords[rng() % n];
    s += "</td><td>" + std::to_string(rng() % 3000) + "</td><td>" + std::to_string(rng() % 1000) +
         "</td><td>" + std::to_string(rng() % 100) + "." + std::to_string(rng() % 100) +
         "%</td><td>2024-0" + std::to_string(rng() % 9 + 1) + "-1" + std::to_string(rng() % 10) +
         " 12:3" + std::to_string(rng() % 10) + "</td></tr>\n";
  }
  return s;
}

const std::string& Utf8Input(std::size_t size) {
  static std::string small = MixedUtf8(1 << 20);
  static std::string large = MixedUtf8(16 << 20);
  return size == (1u << 20) ? small : large;
}

// glibc iconv into a std::string, the way a caller would write it: a bound-sized string,
// one iconv call, then cut to what was written.
// Both sides must produce the same bytes, or the comparison means nothing.
void CheckSame(const std::string& ours, const std::string& peer) {
  if (ours != peer) {
    std::fprintf(stderr, "results differ (%zu vs %zu bytes)\n", ours.size(), peer.size());
    std::abort();
  }
}

void BM_Utf8ToAnsi(benchmark::State& state) {
  const Text in(Utf8Input(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    Text out = quorvel::Utf8ToAnsi(in);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_IconvUtf8ToGbk(benchmark::State& state) {
  const std::string& in = Utf8Input(static_cast<std::size_t>(state.range(0)));
  iconv_t cd = IconvOpen("CP936", "UTF-8");
  CheckSame(quorvel::Utf8ToAnsi(Text(in)).str(), Iconv(cd, in, in.size()));
  for (auto _ : state) {
    std::string out = Iconv(cd, in, in.size());
    benchmark::DoNotOptimize(out);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_AnsiToUtf8(benchmark::State& state) {
  const Text in = quorvel::Utf8ToAnsi(Text(Utf8Input(static_cast<std::size_t>(state.range(0)))));
  for (auto _ : state) {
    Text out = quorvel::AnsiToUtf8(in);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_IconvGbkToUtf8(benchmark::State& state) {
  const std::string in =
      quorvel::Utf8ToAnsi(Text(Utf8Input(static_cast<std::size_t>(state.range(0))))).str();
  iconv_t cd = IconvOpen("UTF-8", "CP936");
  CheckSame(quorvel::AnsiToUtf8(Text(in)).str(), Iconv(cd, in, in.size() * 3));
  for (auto _ : state) {
    std::string out = Iconv(cd, in, in.size() * 3);
    benchmark::DoNotOptimize(out);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

constexpr int64_t k1MB = 1 << 20;
constexpr int64_t k16MB = 16 << 20;
BENCHMARK(BM_Utf8ToAnsi)->Arg(k1MB)->Arg(k16MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvUtf8ToGbk)->Arg(k1MB)->Arg(k16MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnsiToUtf8)->Arg(k1MB)->Arg(k16MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvGbkToUtf8)->Arg(k1MB)->Arg(k16MB)->Unit(benchmark::kMillisecond);

}  // namespace
