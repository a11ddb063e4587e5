// Sending a request with many caller header lines ("X-Line-NNNNN: v", 17 bytes each, up to
// 58,823 of them, just under 1 MB): WebRequest beside a plain libcurl easy transfer whose
// header list is built by appending at a kept tail, against the same loopback server. The
// complexity fit shows whether the cost grows in proportion to the number of lines.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "web/web_request.h"

namespace {

class Server {
 public:
  Server() {
    server_.Get("/h", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("ok", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/h"; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

Server& TheServer() {
  static Server server;
  return server;
}

std::string Line(int i) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "X-Line-%05d: v", i);
  return buffer;
}

void BM_WebRequestHeaderLines(benchmark::State& state) {
  const quorvel::Text url(TheServer().Url());
  std::string block;
  for (int i = 0; i < state.range(0); ++i) block += (i ? "\r\n" : "") + Line(i);
  for (auto _ : state) {
    quorvel::Text headers(block);
    const quorvel::Bytes body =
        quorvel::WebRequest(url, 0, quorvel::Text(), nullptr, nullptr, &headers);
    if (body.view() != "ok") {
      state.SkipWithError("no answer");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BM_PlainCurlHeaderLines(benchmark::State& state) {
  const std::string url = TheServer().Url();
  for (auto _ : state) {
    curl_slist* head = nullptr;
    curl_slist* tail = nullptr;
    for (int i = 0; i < state.range(0); ++i) {
      curl_slist* grown = curl_slist_append(tail, Line(i).c_str());
      if (!head) head = grown;
      tail = tail ? tail->next : grown;
    }
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, head);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode rc = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    curl_slist_free_all(head);
    if (rc != CURLE_OK) {
      state.SkipWithError("plain transfer failed");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_WebRequestHeaderLines)
    ->RangeMultiplier(4)
    ->Range(1024, 16384)
    ->Arg(58823)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity();
BENCHMARK(BM_PlainCurlHeaderLines)
    ->RangeMultiplier(4)
    ->Range(1024, 16384)
    ->Arg(58823)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity();

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
