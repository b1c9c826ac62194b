#include "suite-setup-helper/VeltraSuiteHelper.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include <system_error>

#include "PellowSession/Session.h"
#include "Session/Trace.h"
#include "TextKit/JsonText.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

namespace veltra {

std::optional<std::string> VeltraSuiteHelper::value(const std::vector<std::string>& args,
                                                    std::string_view option) {
  const auto it = std::find(args.begin(), args.end(), option);
  if (it == args.end() || std::next(it) == args.end()) return std::nullopt;
  return *std::next(it);
}

bool VeltraSuiteHelper::isSet(const std::vector<std::string>& args, std::string_view flag) {
  return std::find(args.begin(), args.end(), flag) != args.end();
}

namespace {

// Unknown arguments are ignored, as they always were; the trace names them.
void traceUnknownArguments(const std::vector<std::string>& args) {
  if (!pellow::trace::enabled()) return;
  static constexpr std::string_view kWithValue[] = {"--app", "--registry", "--add",
                                                    "--launch-destination"};
  static constexpr std::string_view kFlags[] = {"--available", "--prompt", "--force"};
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (std::find(std::begin(kWithValue), std::end(kWithValue), args[i]) != std::end(kWithValue)) {
      ++i;
    } else if (std::find(std::begin(kFlags), std::end(kFlags), args[i]) == std::end(kFlags)) {
      pellow::trace::line("arguments", "ignored: " + args[i]);
    }
  }
}

// Inside a Flatpak sandbox the suite's model does not hold: every other app's files are private to
// its own sandbox, so no sibling can be found or its signature checked; an executable cannot be
// started in another app's sandbox; and the registry folder is this sandbox's copy, not the one
// the suite shares. Answering from what the sandbox happens to see would list nothing genuine
// and could record consent that no other app reads, so the run fails as every failure does.
// docs/flatpak.md has the plan (app ids, D-Bus activation).
bool refusedInSandbox() {
  const pellow::Session& session = pellow::Session::current();
  if (!session.flatpak) return false;
  pellow::trace::line(
      "failed", "inside a Flatpak sandbox (app " +
                    (session.flatpakAppID.empty() ? std::string("unknown") : session.flatpakAppID) +
                    "): suite apps in other sandboxes can be neither checked nor started from "
                    "here, and the shared registry is out of reach (docs/flatpak.md)");
  return true;
}

}  // namespace

std::optional<std::string> VeltraSuiteHelper::run(const std::vector<std::string>& args,
                                                  VeltraPlatform& platform) {
  namespace S = VeltraSuiteSetup;
  try {
    traceUnknownArguments(args);
    if (refusedInSandbox()) return std::nullopt;
    const auto app = value(args, "--app");
    const auto registryValue = value(args, "--registry");
    if (!app || !registryValue) {
      pellow::trace::line("arguments", "--app and --registry, each with a value, are required");
      return std::nullopt;
    }
    const std::filesystem::path registry = absolutePath(*registryValue);

    // Nothing is touched before the caller has proved to be a genuine Pellow. The path the
    // check resolved (physical where "--app" runs through a link) is the one every later step
    // uses, so that the siblings checked, listed, matched and launched lie where it really is.
    const auto caller = platform.verifier.check(absolutePath(*app), kLocal);
    if (!caller) {
      pellow::trace::line("failed", "the calling app " + absolutePath(*app).string() +
                                        " is not a genuine " + std::string(kLocal));
      return std::nullopt;
    }
    const std::filesystem::path appURL = caller->path();
    platform.workspace.setAccessoryActivationPolicy();
    const bool isolated = isIsolated(registry);

    if (const auto remote = value(args, "--add")) {
      S::connectPair(kLocal, *remote, appURL, registry, isolated, platform);
    }

    std::vector<VeltraInstalledApp> list;
    if (isSet(args, "--available")) {
      list = S::installed(kLocal, appURL, isolated, platform);
      std::erase_if(list, [](const VeltraInstalledApp& entry) { return entry.bundleId == kLocal; });
    } else {
      list = S::scan(kLocal, appURL, registry,
                     {.isolated = isolated,
                      .force = isSet(args, "--force"),
                      .canPrompt = isSet(args, "--prompt")},
                     platform);
    }

    if (const auto remote = value(args, "--launch-destination")) {
      S::launchDestination(kLocal, *remote, appURL, registry, isolated, platform);
    }

    const VeltraSuiteConsent consent = S::read(registry);
    nlohmann::json entries = nlohmann::json::array();
    for (const VeltraInstalledApp& entry : list) {
      entries.push_back(
          {{"bundleId", entry.bundleId},
           {"name", entry.name},
           {"path", entry.path},
           {"added", consent.permits(kLocal, entry.bundleId, S::team())},
           {"running", S::isRunning(entry.bundleId, entry.path, isolated, platform)}});
    }
    // Throws on text that is not valid UTF-8: the writer refuses the object.
    return textkit::escapingSlashes(nlohmann::json{{"apps", std::move(entries)}}.dump());
  } catch (const std::system_error& error) {
    pellow::trace::line("failed", std::string(error.code().category().name()) + " error " +
                                      std::to_string(error.code().value()) + ": " + error.what());
    return std::nullopt;
  } catch (const std::exception& error) {
    pellow::trace::line("failed", error.what());
    return std::nullopt;
  } catch (...) {
    pellow::trace::line("failed", "unknown error");
    return std::nullopt;
  }
}

}  // namespace veltra
