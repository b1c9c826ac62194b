// The sign-in and account commands: "status", "begin", "poll", "save", "disconnect".
//
// The device flow runs one step per helper run: the app keeps the device-code object that
// "begin" answers and hands it back to every "poll"; the credential object of an "authorized"
// poll answer comes back unchanged in "save".
#include <optional>
#include <string>

#include "PellowGitHub/GitHubAppRegistration.h"
#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/Json.h"
#include "github-helper/Commands.h"

namespace pellow {
namespace {

constexpr const char* kCanceledSignInMessage = "This GitHub sign-in was canceled. Start again.";
constexpr const char* kIncompleteSignInMessage = "GitHub sign-in did not complete. Start again.";

// The device-code object carries its expiry as milliseconds since 1970 (a double, not rounded).
double millisecondsSince1970(Date date) { return date.unixSeconds() * 1000.0; }

// Rebuilds the device code from the app's copy of the device-code object. The verification
// address is not taken from the request: it is fixed, and "poll" does not use it anyway.
DeviceCode deviceCodeFromRequest(const nlohmann::json& request) {
  const auto code = request.find("code");
  if (code == request.end() || !code->is_object()) throw PellowError(kCanceledSignInMessage);
  const auto text = [&](const char* key) {
    const auto value = code->find(key);
    if (value == code->end() || !value->is_string()) throw PellowError(kCanceledSignInMessage);
    return value->get<std::string>();
  };
  const auto number = [&](const char* key) {
    const auto value = code->find(key);
    const std::optional<double> result = value == code->end() ? std::nullopt : json::number(*value);
    if (!result) throw PellowError(kCanceledSignInMessage);
    return *result;
  };
  DeviceCode device;
  device.deviceCode = text("deviceCode");
  device.userCode = text("userCode");
  device.expiresAt = Date::fromUnixSeconds(number("expiresAt") / 1000.0);
  device.interval = number("interval");
  device.verificationURL = std::string(config::webBaseURL()) + "/login/device";
  device.clientID = GitHubAppRegistration::builtIn().clientID();
  return device;
}

}  // namespace

nlohmann::json statusCommand(CommandContext& context, const nlohmann::json&) {
  // No lock and no renewal: the answer only names the account.
  const std::optional<GitHubCredential> stored = context.desktop.keychain().load();
  return accountSummary(stored ? &*stored : nullptr);
}

nlohmann::json beginCommand(CommandContext& context, const nlohmann::json&) {
  const GitHubAuthorization authorization(context.desktop.transport(), context.desktop.clock());
  const DeviceCode code = authorization.begin(GitHubAppRegistration::builtIn(), context.now());
  return {{"deviceCode", code.deviceCode},
          {"expiresAt", millisecondsSince1970(code.expiresAt)},
          {"interval", code.interval},
          {"userCode", code.userCode},
          {"verificationURL", code.verificationURL}};
}

nlohmann::json pollCommand(CommandContext& context, const nlohmann::json& request) {
  const DeviceCode code = deviceCodeFromRequest(request);
  const GitHubAuthorization authorization(context.desktop.transport(), context.desktop.clock());
  const PollResult result = authorization.poll(code, context.now());
  switch (result.kind) {
    case PollResult::Kind::pending:
      return {{"status", "pending"}};
    case PollResult::Kind::slowDown:
      return {{"interval", result.interval}, {"status", "slowDown"}};
    case PollResult::Kind::authorized:
      break;
  }
  return {{"credential", result.credential->toJSON()}, {"status", "authorized"}};
}

nlohmann::json saveCommand(CommandContext& context, const nlohmann::json& request) {
  const auto given = request.find("credential");
  if (given == request.end()) throw PellowError(kIncompleteSignInMessage);
  // Not a credential object (null, a string, a wrong field type): the decoder's error, shown as
  // the generic message.
  const GitHubCredential credential = GitHubCredential::fromJSON(*given);
  context.desktop.save(credential);
  return accountSummary(&credential);
}

nlohmann::json disconnectCommand(CommandContext& context, const nlohmann::json&) {
  context.desktop.disconnect();
  return {{"signedIn", false}};
}

}  // namespace pellow
