#include "tests/support/linux_process.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

namespace quorvel::test {
namespace {

constexpr char kHostPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

bool Exists(const TempDir& dir, const char* name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(dir.path()) / name, ec);
}

}  // namespace

std::string UnixPath(const std::string& windowsPath) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto toUnix = kernel ? reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
                             GetProcAddress(kernel, "wine_get_unix_file_name")))
                       : nullptr;
  if (!toUnix || windowsPath.empty()) return "";
  const int n = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
  if (n <= 0) return "";
  std::vector<wchar_t> wide(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), n);
  char* unix = toUnix(wide.data());
  if (!unix) return "";
  std::string out(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

LinuxProcess::LinuxProcess(const std::string& command,
                           const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, content] : files) {
    if (dir_.WriteFile(name, content).empty()) {
      error_ = "cannot write " + name;
      return;
    }
  }
  // The command runs in the background; the script ends it when the lifeline goes, when it
  // has run for an hour, or notes its status when it ends by itself.
  const std::string script = std::string(kHostPath) +
                             "\n"
                             "cd \"$(dirname \"$0\")\" || exit 1\n"
                             "(" +
                             command +
                             ") >output 2>&1 </dev/null &\n"
                             "child=$!\n"
                             "n=0\n"
                             "while [ -e alive ] && kill -0 $child 2>/dev/null && [ $n -lt 36000 ];"
                             " do sleep 0.1; n=$((n+1)); done\n"
                             "pkill -TERM -P $child 2>/dev/null\n"
                             "kill -TERM $child 2>/dev/null\n"
                             "wait $child\n"
                             "echo $? >status.tmp && mv status.tmp status\n";
  started_ = Launch(script);
}

LinuxProcess::~LinuxProcess() { Stop(); }

bool LinuxProcess::Launch(const std::string& script) {
  if (dir_.path().empty()) {
    error_ = "no temporary directory";
    return false;
  }
  unixDir_ = UnixPath(dir_.path());
  if (unixDir_.empty()) {
    error_ = "host programs can only be started under Wine (no wine_get_unix_file_name)";
    return false;
  }
  if (dir_.WriteFile("run.sh", script).empty() || dir_.WriteFile("alive", "").empty()) {
    error_ = "cannot write the script";
    return false;
  }
  std::string commandLine = "/bin/sh \"" + unixDir_ + "/run.sh\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    error_ = "CreateProcess of /bin/sh failed (" + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

bool LinuxProcess::Ended() const { return Exists(dir_, "status"); }

void LinuxProcess::Stop() {
  if (!started_) return;
  std::error_code ec;
  std::filesystem::remove(std::filesystem::path(dir_.path()) / "alive", ec);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  started_ = false;
}

int LinuxProcess::Run(const std::string& command, std::chrono::seconds limit, std::string* output) {
  LinuxProcess p(command);
  if (!p.ok()) {
    if (output) *output = p.error();
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!p.Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const bool ended = p.Ended();
  if (output) *output = p.Output();
  if (!ended) return -1;
  const std::string status = p.dir().ReadFile("status");
  p.started_ = false;
  try {
    return std::stoi(status);
  } catch (...) {
    return -1;
  }
}

}  // namespace quorvel::test
