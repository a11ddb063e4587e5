// The parts of the recording test server that do not depend on the system: routes, records,
// responses.
#include <algorithm>

#include "tests/support/test_server.h"

namespace quorvel::test {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool HeaderNameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

void Response::set_content(const std::string& content, const std::string& contentType) {
  body = content;
  generatedSize = 0;
  byteAt = nullptr;
  set_header("Content-Type", contentType);
}

void Response::set_header(const std::string& name, const std::string& value) {
  headers.erase(name);
  headers.emplace(name, value);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Unknown";
  }
}

std::string TestServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https://" : "http://") + HostPort() + path;
}

std::string TestServer::HostPort() const { return host_ + ":" + std::to_string(port_); }

void TestServer::Route(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[{method, path}] = std::move(handler);
}

void TestServer::RouteGeneratedBody(const std::string& path, std::size_t size,
                                    std::function<char(std::size_t)> byteAt) {
  Route("GET", path, [size, byteAt](const RecordedRequest&, Response& res) {
    res.set_header("Content-Type", "application/octet-stream");
    res.generatedSize = size;
    res.byteAt = byteAt;
  });
}

std::vector<RecordedRequest> TestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t TestServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

RecordedRequest TestServer::Last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? RecordedRequest() : requests_.back();
}

void TestServer::Dispatch(const RecordedRequest& record, const std::string& method,
                          const std::string& path, Response& res) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(record);
    auto it = routes_.find({method, path});
    if (it == routes_.end()) it = routes_.find({"*", path});
    if (it != routes_.end()) handler = it->second;
  }
  if (!handler) {
    res.status = 404;
    res.set_content("not found", "text/plain");
    return;
  }
  handler(record, res);
}

}  // namespace quorvel::test
