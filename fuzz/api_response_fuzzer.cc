// The classification of GitHub API answers: getJSON with a transport that returns a fuzzed
// status, headers and body. The result is a JSON object or a PellowError naming the failure
// that its status allows, with that status in its context; a body's syntax error escapes only from a 2xx (a 403 body is read
// for a secondary limit and its errors stay inside). The Link headers are read for a next page.
//
// Input: two bytes of status (big-endian, taken modulo 600), then header lines "Name: value"
// up to an empty line, then the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/api/LinkHeader.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/Json.h"
#include "tests/support/FakeKeychainBackend.h"

namespace {

class ScriptedTransport final : public pellow::GitHubTransport {
 public:
  explicit ScriptedTransport(pellow::HTTPResult result) : result_(std::move(result)) {}
  pellow::HTTPResult send(const pellow::HTTPRequest& request) override {
    pellow::HTTPResult result = result_;
    result.response.url = request.url;
    return result;
  }

 private:
  pellow::HTTPResult result_;
};

pellow::HTTPResult parseInput(std::string_view input) {
  pellow::HTTPResult result;
  result.response.statusCode =
      static_cast<long>(((static_cast<unsigned>(static_cast<unsigned char>(input[0])) << 8U) |
                         static_cast<unsigned char>(input[1])) %
                        600U);
  input.remove_prefix(2);
  while (!input.empty()) {
    const auto end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (line.empty()) break;
    const auto colon = line.find(':');
    std::string_view value = colon == std::string_view::npos ? "" : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    result.response.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  result.body = std::string(input);
  return result;
}

// The failures a status may lead to, and that the error carries that status.
bool isClassification(const pellow::PellowError& error, long status) {
  using enum pellow::GitHubFailure;
  if (error.context().httpStatus != status) return false;
  switch (error.failure()) {
    case apiNotAnObject:
      return status >= 200 && status <= 299;
    case apiRateLimited:
      return status == 403 || status == 429;
    case apiNoAccess:
      return status == 403 || status == 404;
    case apiUnauthorized:
      return status == 401;
    case apiMoved:
      return status >= 301 && status <= 399;
    case apiFailed:
      return (status < 200 || status > 299) && status != 401 && status != 403 && status != 404 &&
             status != 429 && (status < 301 || status > 399);
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const pellow::HTTPResult scripted =
      parseInput(std::string_view(reinterpret_cast<const char*>(data), size));
  const long status = scripted.response.statusCode;

  pellow::GitHubDesktop desktop{
      std::make_shared<ScriptedTransport>(scripted),
      pellow::GitHubKeychain(std::string(pellow::config::kKeychainService),
                             std::make_shared<pellow::testing::FakeKeychainBackend>())};
  pellow::GitHubCredential credential("ghu_fuzz");
  static_cast<void>(pellow::hasNextPageLink(scripted.response));  // must neither throw nor hang
  try {
    const nlohmann::json object = desktop.getJSON("/repos/octocat/hello", credential);
    if (status < 200 || status > 299 || !object.is_object()) std::abort();
  } catch (const pellow::PellowError& error) {
    if (!isClassification(error, status)) std::abort();
  } catch (const pellow::json::JsonSyntaxError&) {
    if (status < 200 || status > 299) std::abort();
  }
  // Any other exception escapes and is reported by the fuzzer.
  return 0;
}
