// Throughput of UrlDecode (with conversion to GBK) and UrlEncode (from GBK, UTF-8 escapes) on
// 16 MB pages, each beside libcurl's unescape/escape plus glibc iconv on the same input in
// the same run. Inputs: a percent-heavy page (markup and Chinese all escaped) and a page of
// plain UTF-8 HTML without a single "%".
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench/iconv_peer.h"
#include "text/convert.h"
#include "text/url_coding.h"

namespace {

using quorvel::Text;
using quorvel::bench::Iconv;
using quorvel::bench::IconvOpen;

constexpr std::size_t kPageSize = 16u << 20;

// Deterministic result-page-like UTF-8 HTML of about `size` bytes, cut at a line end.
std::string PageUtf8(std::size_t size) {
  static const char* const kWords[] = {"艾欧尼亚", "祖安",     "诺克萨斯", "班德尔城",
                                       "战争学院", "巨神峰",   "暗影岛",   "均衡教派",
                                       "最强王者", "璀璨钻石", "荣耀黄金", "英勇青铜"};
  std::mt19937 rng(42);
  std::string s;
  s.reserve(size + 512);
  s += "<html><head><meta charset=\"utf-8\"><title>查询结果</title></head><body>\n";
  const int n = static_cast<int>(std::size(kWords));
  while (s.size() < size) {
    s += "<tr class=\"row\"><td>";
    s += kWords[rng() % n];
    s += "</td><td>玩家" + std::to_string(rng() % 100000) + "</td><td>";
    s += kWords[rng() % n];
    s += "</td><td>" + std::to_string(rng() % 3000) + "</td><td>" + std::to_string(rng() % 100) +
         "." + std::to_string(rng() % 100) + "</td></tr>\n";
  }
  return s;
}

const std::string& PlainPage() {
  static const std::string page = PageUtf8(kPageSize);
  return page;
}

// The same kind of page with everything but letters, digits, "-" and "." escaped; the source
// page is sized so that the escaped form is about the page size.
const std::string& PercentPage() {
  static const std::string page = [] {
    const std::size_t sample = 1u << 20;
    const double ratio =
        static_cast<double>(quorvel::UrlEncode(Text(PageUtf8(sample)), true).size()) / sample;
    return quorvel::UrlEncode(Text(PageUtf8(static_cast<std::size_t>(kPageSize / ratio))), true)
        .str();
  }();
  return page;
}

const std::string& GbkPage() {
  static const std::string page = quorvel::Utf8ToAnsi(Text(PlainPage())).str();
  return page;
}

// libcurl's unescape, then iconv UTF-8 -> GBK.
std::string PeerDecode(CURL* curl, iconv_t cd, const std::string& in) {
  int n = 0;
  char* raw = curl_easy_unescape(curl, in.data(), static_cast<int>(in.size()), &n);
  std::string out = Iconv(cd, std::string_view(raw, static_cast<std::size_t>(n)),
                          static_cast<std::size_t>(n) + 16);
  curl_free(raw);
  return out;
}

// libcurl's escape. It refuses to escape more than about 8 MB at once, so it is given 4 MB
// pieces (escaping is byte by byte, so the result is the same).
std::string EscapePieces(CURL* curl, const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size() * 3);
  constexpr std::size_t kPiece = 4u << 20;
  for (std::size_t i = 0; i < utf8.size(); i += kPiece) {
    const std::size_t n = std::min(kPiece, utf8.size() - i);
    char* esc = curl_easy_escape(curl, utf8.data() + i, static_cast<int>(n));
    if (esc == nullptr) std::abort();
    out += esc;
    curl_free(esc);
  }
  return out;
}

// iconv GBK -> UTF-8, then libcurl's escape.
std::string PeerEncode(CURL* curl, iconv_t cd, const std::string& in) {
  return EscapePieces(curl, Iconv(cd, in, in.size() * 2 + 16));
}

void CheckSameDecode(const std::string& in) {
  CURL* curl = curl_easy_init();
  iconv_t cd = IconvOpen("GBK", "UTF-8");
  const std::string ours = quorvel::UrlDecode(Text(in), true).str();
  const std::string peer = PeerDecode(curl, cd, in);
  iconv_close(cd);
  curl_easy_cleanup(curl);
  if (ours != peer) {
    std::fprintf(stderr, "decoders disagree: %zu vs %zu bytes\n", ours.size(), peer.size());
    std::abort();
  }
}

using Input = const std::string& (*)();

void BM_UrlDecodeUtf8_Ours(benchmark::State& state, Input input) {
  const std::string* in = &input();
  CheckSameDecode(*in);
  const Text page(*in);
  for (auto _ : state) {
    Text out = quorvel::UrlDecode(page, true);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * in->size());
}

void BM_UrlDecodeUtf8_CurlIconv(benchmark::State& state, Input input) {
  const std::string* in = &input();
  CURL* curl = curl_easy_init();
  iconv_t cd = IconvOpen("GBK", "UTF-8");
  for (auto _ : state) {
    std::string out = PeerDecode(curl, cd, *in);
    benchmark::DoNotOptimize(out);
  }
  iconv_close(cd);
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * in->size());
}

// The two halves on their own: percent-decoding without conversion, beside libcurl's unescape.
void BM_UrlDecodeOnly_Ours(benchmark::State& state, Input input) {
  const Text page(input());
  for (auto _ : state) {
    Text out = quorvel::UrlDecode(page);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
}

void BM_UrlDecodeOnly_Curl(benchmark::State& state, Input input) {
  const std::string& in = input();
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    int n = 0;
    char* raw = curl_easy_unescape(curl, in.data(), static_cast<int>(in.size()), &n);
    benchmark::DoNotOptimize(raw);
    curl_free(raw);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * in.size());
}

// Escaping alone, over the plain UTF-8 page: ours with every byte escaped, beside libcurl's
// escape in 4 MB pieces.
void BM_UrlEncodeOnly_Ours(benchmark::State& state) {
  const Text page(PlainPage());
  for (auto _ : state) {
    Text out = quorvel::UrlEncode(page);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.size());
}

void BM_UrlEncodeOnly_Curl(benchmark::State& state) {
  const std::string& in = PlainPage();
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    std::string out = EscapePieces(curl, in);
    benchmark::DoNotOptimize(out);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * in.size());
}

void BM_UrlEncodeUtf8_Ours(benchmark::State& state, bool keep) {
  const Text page(GbkPage());
  for (auto _ : state) {
    Text out = quorvel::UrlEncode(page, keep, true);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * GbkPage().size());
}

void BM_UrlEncodeUtf8_IconvCurl(benchmark::State& state) {
  CURL* curl = curl_easy_init();
  iconv_t cd = IconvOpen("UTF-8", "GBK");
  for (auto _ : state) {
    std::string out = PeerEncode(curl, cd, GbkPage());
    benchmark::DoNotOptimize(out);
  }
  iconv_close(cd);
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * GbkPage().size());
}

BENCHMARK_CAPTURE(BM_UrlDecodeUtf8_Ours, percent_16MB, PercentPage)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlDecodeUtf8_CurlIconv, percent_16MB, PercentPage)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlDecodeUtf8_Ours, plain_16MB, PlainPage)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlDecodeUtf8_CurlIconv, plain_16MB, PlainPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodeOnly_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodeOnly_Curl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlDecodeOnly_Ours, percent_16MB, PercentPage)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlDecodeOnly_Curl, percent_16MB, PercentPage)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlEncodeUtf8_Ours, all_bytes_16MB, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UrlEncodeUtf8_Ours, keep_16MB, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodeUtf8_IconvCurl)->Unit(benchmark::kMillisecond);

}  // namespace
