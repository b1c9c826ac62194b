#include "tests/github/FakeGitHub.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow::testing {
namespace {

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

FakeGitHub::FakeGitHub()
    : service_({"python3", PELLOW_FAKE_GITHUB, "--hosts",
                std::string(config::webHost()) + "," + std::string(config::apiHost()), "--fixtures",
                PELLOW_GITHUB_FIXTURES},
               {.keepInputOpen = true}) {
  const nlohmann::json ready = nlohmann::json::parse(service_.readLine(std::chrono::seconds(30)));
  port_ = ready.at("port").get<int>();
  caPath_ = ready.at("ca").get<std::string>();
}

FakeGitHub::~FakeGitHub() {
  // End of input asks the service to stop and remove its CA and keys.
  service_.finish(std::chrono::seconds(5));
}

std::string FakeGitHub::connectTo() const {
  const std::string target = ":443:127.0.0.1:" + std::to_string(port_);
  return std::string(config::webHost()) + target + "," + std::string(config::apiHost()) + target;
}

std::map<std::string, std::string> FakeGitHub::environment() const {
  return {{"PELLOW_TEST_CONNECT_TO", connectTo()}, {"PELLOW_TEST_CAINFO", caPath_}};
}

Session FakeGitHub::session() const {
  Session session = Session::current();
  session.testConnectTo = connectTo();
  session.testCAInfo = caPath_;
  return session;
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
  service_.write(line + "\n");
  return service_.readLine(std::chrono::seconds(10));
}

}  // namespace pellow::testing
