#include "FakeGitHub.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "PellowGitHub/support/GitHubConfig.h"

extern char** environ;

namespace pellow::testing {
namespace {

constexpr int kStartTimeoutMs = 30'000;
constexpr int kCommandTimeoutMs = 10'000;

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

FakeHeaders headersFrom(const nlohmann::json& list) {
  FakeHeaders headers;
  for (const auto& pair : list) headers.emplace_back(pair.at(0), pair.at(1));
  return headers;
}

}  // namespace

std::optional<std::string> FakeRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringASCIICase(key, name)) return value;
  }
  return std::nullopt;
}

FakeGitHub::FakeGitHub() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw std::runtime_error("FakeGitHub: socketpair failed");
  }
  channel_ = fds[0];
  try {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies, so only 0, 1 and 2 reach the service.
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const std::string hosts = std::string(config::webHost()) + "," + std::string(config::apiHost());
    std::vector<std::string> arguments = {"python3", PELLOW_FAKE_GITHUB, "--hosts",
                                          hosts,     "--fixtures",       PELLOW_GITHUB_FIXTURES};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = -1;
      throw std::runtime_error("FakeGitHub: cannot start python3");
    }
    const nlohmann::json ready = nlohmann::json::parse(readLine(kStartTimeoutMs));
    port_ = ready.at("port").get<int>();
    caPath_ = ready.at("ca").get<std::string>();
  } catch (...) {
    stop();
    throw;
  }
}

FakeGitHub::~FakeGitHub() { stop(); }

void FakeGitHub::stop() noexcept {
  for (const auto& [name, value] : savedEnvironment_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  savedEnvironment_.clear();
  // End of input asks the service to stop and clean up after itself.
  if (channel_ >= 0) close(channel_);
  channel_ = -1;
  if (pid_ <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::string FakeGitHub::connectTo() const {
  const std::string target = ":443:127.0.0.1:" + std::to_string(port_);
  return std::string(config::webHost()) + target + "," + std::string(config::apiHost()) + target;
}

std::map<std::string, std::string> FakeGitHub::environment() const {
  return {{"PELLOW_TEST_CONNECT_TO", connectTo()}, {"PELLOW_TEST_CAINFO", caPath_}};
}

void FakeGitHub::useInThisProcess() {
  for (const auto& [name, value] : environment()) {
    if (!savedEnvironment_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name.c_str(), value.c_str(), 1);
  }
}

void FakeGitHub::route(const FakeRoute& route) {
  nlohmann::json json = {{"method", route.method}, {"path", route.path}, {"status", route.status}};
  json["headers"] = nlohmann::json::array();
  for (const auto& [name, value] : route.headers) json["headers"].push_back({name, value});
  json["body"] = route.body;
  if (route.bodyFile) json["body_file"] = *route.bodyFile;
  if (route.bodySize) json["body_size"] = *route.bodySize;
  if (route.host) json["host"] = *route.host;
  if (route.delaySeconds > 0) json["delay"] = route.delaySeconds;
  if (route.hang) json["hang"] = true;
  if (route.stream) json["stream"] = true;
  if (route.times) json["times"] = *route.times;
  if (route.dropAfter) json["drop_after"] = *route.dropAfter;
  const auto answer =
      nlohmann::json::parse(command(nlohmann::json{{"op", "route"}, {"route", json}}.dump()));
  if (!answer.contains("ok"))
    throw std::runtime_error("FakeGitHub: route refused: " + answer.dump());
}

void FakeGitHub::reset() { command(R"({"op":"reset"})"); }

std::vector<FakeRequest> FakeGitHub::requests() {
  const auto answer = nlohmann::json::parse(command(R"({"op":"requests"})"));
  std::vector<FakeRequest> requests;
  for (const auto& item : answer.at("requests")) {
    requests.push_back(FakeRequest{item.at("method"), item.at("path"), item.at("host"),
                                   headersFrom(item.at("headers")), item.at("body")});
  }
  return requests;
}

std::string FakeGitHub::command(const std::string& line) {
  const std::string message = line + "\n";
  std::size_t sent = 0;
  while (sent < message.size()) {
    // MSG_NOSIGNAL: a service that died fails the test instead of killing it with SIGPIPE.
    const ssize_t n = send(channel_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("FakeGitHub: the service is gone");
    sent += static_cast<std::size_t>(n);
  }
  return readLine(kCommandTimeoutMs);
}

std::string FakeGitHub::readLine(int timeoutMilliseconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (true) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("FakeGitHub: no answer from the service");
    pollfd ready{channel_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      throw std::runtime_error("FakeGitHub: poll failed");
    }
    if ((ready.revents & (POLLIN | POLLHUP)) == 0) continue;
    char buffer[65536];
    const ssize_t n = read(channel_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("FakeGitHub: the service stopped");
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace pellow::testing
