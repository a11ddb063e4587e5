// Downloading 64 MB from a loopback server: WebRequest beside a plain libcurl easy transfer
// into a growing buffer, in the same run against the same server. Reports both throughputs,
// their ratio, and the peak memory the WebRequest download adds (resident set high-water
// mark above the level before the call).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "web/web_request.h"

namespace {

constexpr std::size_t kBodySize = 64u * 1024u * 1024u;
constexpr std::size_t kPatternSize = 1024u * 1024u;

struct Totals {
  double seconds = 0;
  double bytes = 0;
};
Totals g_web, g_curl;
long g_peakKb = -1;  // largest rise of the resident set during one WebRequest download

class Server {
 public:
  Server() : pattern_(kPatternSize, '\0') {
    for (std::size_t i = 0; i < pattern_.size(); ++i) {
      pattern_[i] = static_cast<char>((i * 131u + (i >> 10)) & 0xff);
    }
    server_.Get("/large", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(
          kBodySize, "application/octet-stream",
          [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            const std::size_t at = offset % kPatternSize;
            const std::size_t n = std::min({length, kPatternSize - at, std::size_t{256 * 1024}});
            return sink.write(pattern_.data() + at, n);
          });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/large"; }

 private:
  std::string pattern_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

Server& TheServer() {
  static Server server;
  return server;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

// Resets the resident-set high-water mark to the current level; false where not supported.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

void BM_WebRequest64MB(benchmark::State& state) {
  const quorvel::Text url(TheServer().Url());
  g_web = Totals();  // the summary reports the last (the reported) run
  for (auto _ : state) {
    const bool reset = ResetPeak();
    const long before = StatusKb("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    quorvel::Bytes body = quorvel::WebRequest(url);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (reset) g_peakKb = std::max(g_peakKb, StatusKb("VmHWM") - before);
    if (body.size() != kBodySize) {
      state.SkipWithError("short body");
      break;
    }
    g_web.seconds += took.count();
    g_web.bytes += static_cast<double>(body.size());
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void BM_PlainCurl64MB(benchmark::State& state) {
  const std::string url = TheServer().Url();
  g_curl = Totals();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (rc != CURLE_OK || body.size() != kBodySize) {
      state.SkipWithError("plain transfer failed");
      break;
    }
    g_curl.seconds += took.count();
    g_curl.bytes += static_cast<double>(body.size());
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}

// WebRequest first: its memory is measured before the peer's buffers have come and gone.
BENCHMARK(BM_WebRequest64MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainCurl64MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_web.seconds > 0 && g_curl.seconds > 0) {
    const double web = g_web.bytes / g_web.seconds / (1024.0 * 1024.0);
    const double plain = g_curl.bytes / g_curl.seconds / (1024.0 * 1024.0);
    std::printf(
        "\nWebRequest  %.1f MiB/s\nplain curl  %.1f MiB/s\nratio       %.2f (aim >= 0.80)\n", web,
        plain, web / plain);
  }
  if (g_peakKb >= 0) {
    const double body = static_cast<double>(kBodySize) / 1024.0;
    std::printf("peak memory of a WebRequest download: %.1f MiB = %.2f x body (aim < 2.5)\n",
                static_cast<double>(g_peakKb) / 1024.0, static_cast<double>(g_peakKb) / body);
  } else {
    std::printf("peak memory: not measurable here (/proc/self/clear_refs unavailable)\n");
  }
  curl_global_cleanup();
  return 0;
}
